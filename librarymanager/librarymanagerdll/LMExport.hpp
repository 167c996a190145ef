// Marks the classes and functions that the module's shared library exports.
// Everything else in the module is hidden.
#pragma once

#define LM_API __attribute__((visibility("default")))
