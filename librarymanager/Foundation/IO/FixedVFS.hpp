// Read-only virtual file systems.
//
// A FixedVFS presents some content (a container file, for instance) as a
// folder tree. Mounted at a location with IO::fileSystem.Mount, it serves
// every IO operation on that location and below it: folders, files, reads,
// modification times, tree walks and copies out of it. Nothing can be written
// into it.
//
// Paths given to a FixedVFS are relative to its root; the empty relative
// location is the root folder.
#pragma once

#include "IO/Location.hpp"
#include "KR/Definitions.hpp"

#include <string>
#include <vector>

namespace IO {

class FixedVFS {
public:
    struct EntryInfo {
        bool isFolder = false;
        std::int32_t modificationTime = 0;  // foundation time (KR/Time.hpp)
        std::uint64_t size = 0;             // bytes of a file; 0 for a folder
    };
    struct FolderEntry {
        Name name;
        bool isFolder = false;
    };

    FixedVFS() = default;
    FixedVFS(const FixedVFS&) = delete;
    FixedVFS& operator=(const FixedVFS&) = delete;
    virtual ~FixedVFS();

    // ErrNotFound when nothing is at `path`.
    virtual KR::ErrorCode GetInfo(const RelativeLocation& path, EntryInfo* info) const = 0;
    // The entries of the folder at `path`, sorted by name (byte order);
    // ErrNotAFolder for a file, ErrNotFound for nothing.
    virtual KR::ErrorCode ListFolder(const RelativeLocation& path, std::vector<FolderEntry>* entries) const = 0;
    // The whole content of the file at `path`; ErrNotAFile for a folder,
    // ErrTooLarge above `maxSize` bytes, ErrDamagedArchive when the stored
    // data are damaged.
    virtual KR::ErrorCode ReadFile(const RelativeLocation& path, std::string* content, std::uint64_t maxSize) const = 0;
};

}  // namespace IO
