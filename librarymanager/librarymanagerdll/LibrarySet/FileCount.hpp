// The file count file of a library: the number of files that the last
// enumeration of the library met, kept at the library's root so that the
// next enumeration can size its progress bar without an extra counting walk.
// Internal.
//
// The file holds two 32-bit integers in this machine's byte order (the file
// channel's default protocol): the tag FileCountTag, then the count. The
// module never creates the file; it only rewrites one that it could read
// with the right tag, and then only through a scratch file that replaces the
// old one when it is complete (docs/formats/file-count.md).
#pragma once

#include "IO/Location.hpp"

#include <cstdint>

namespace LM {

inline constexpr std::int32_t FileCountTag = 0x4C323036;

// The file count of one library, held by the set while the library is walked.
struct FileCountRecord {
    // Reads the file named `fileName` at `root`. A missing file, a short one
    // or one with another tag leaves the record invalid with count -1.
    FileCountRecord(const IO::Location& root, const char* fileName);
    FileCountRecord(const FileCountRecord&) = delete;
    FileCountRecord& operator=(const FileCountRecord&) = delete;
    // Writes the file when the record is valid and changed; a failed write
    // leaves the old file in place. Never throws.
    ~FileCountRecord();

    // The number of files the walk met; the record becomes changed when it
    // was read with the right tag and the number differs.
    void SetCount(std::uint32_t files) noexcept;

    IO::Location location;
    std::int32_t count = -1;
    bool valid = false;
    bool changed = false;
};

// Writes a file count file at `location` through a scratch file that
// replaces the old one only when complete. 0, or the error of the first
// step that failed (the old file is then as it was).
KR::ErrorCode WriteFileCountFile(const IO::Location& location, std::int32_t count);

}  // namespace LM
