// Utilities: the null identifier, the resource file system, and the headers
// of the progress window and scratch files.
#pragma once

#include "IO/Location.hpp"
#include "KR/GUID.hpp"
#include "KRUtils/Progress.hpp"
#include "KRUtils/ScratchFile.hpp"

// The null identifier: both GUIDs null.
inline constexpr KR::UnID NULLUnID{};

// The resource file system presents the application's own resources at mount
// points. An application registers each mount point with the location whose
// content it shows; the queries below answer from that table.
KR::ErrorCode AddResourceFileSystemMountPoint(const IO::Location& mountPoint, const IO::Location& source);
KR::ErrorCode RemoveResourceFileSystemMountPoint(const IO::Location& mountPoint);
bool IsResourceFileSystemMountPoint(const IO::Location& location);
// The registered source of a mount point; the empty location for any other.
IO::Location GetResourceFileSystemLocationFromMountPoint(const IO::Location& mountPoint);
