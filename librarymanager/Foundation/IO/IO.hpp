// The input/output library in one include.
#pragma once

#include "IO/Errors.hpp"
#include "IO/File.hpp"
#include "IO/FileSystem.hpp"
#include "IO/FixedVFS.hpp"
#include "IO/Folder.hpp"
#include "IO/Location.hpp"
#include "IO/MemoryChannel.hpp"
#include "IO/TreeEnumerator.hpp"
#include "IO/ZipVFS.hpp"
