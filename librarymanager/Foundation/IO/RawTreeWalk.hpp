// Walks a folder tree on the disk by descriptors, handing each entry's name
// as the folder listing gave it.
//
// The walk of TreeEnumerator for callers that visit every entry of a large
// tree and need no Name, Location or Folder per entry: each folder is opened
// relative to its parent's descriptor, its entries are listed into one
// buffer and sorted by name once, and file times are read relative to it.
// The order of entries and of callbacks, the entries passed over and the
// folders counted as skipped are those of a TreeEnumerator walk that follows
// no links:
//   1. EntryFound(name, isFolder) for every file, folder and link (a link is
//      a folder when it leads to one); false passes the entry over.
//   2. Links are then passed over; devices, pipes and sockets never reach
//      EntryFound.
//   3. A file: FileFound(name).
//   4. A folder: FolderFound(name); true enters it, unless it lies deeper
//      than TreeEnumerator::MaxDepth below the root: FolderEntered(name),
//      its entries, FolderExited(). A folder that cannot be listed is
//      passed over and counted (GetSkippedCount); one already open on the
//      way down is passed over.
// Only for trees that no mounted file system reaches: CanWalk tells.
// Every system call goes through IO::Platform.
#pragma once

#include "IO/Location.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace IO {

class RawTreeWalk {
public:
    RawTreeWalk();
    RawTreeWalk(const RawTreeWalk&) = delete;
    RawTreeWalk& operator=(const RawTreeWalk&) = delete;
    virtual ~RawTreeWalk();

    // True when nothing is mounted, so every folder below `root` is on the
    // disk and this walk sees what a TreeEnumerator walk sees.
    static bool CanWalk(const Location& root) noexcept;

    // Walks the tree below the folder `root`: 0, or the error of reading
    // the root folder.
    KR::ErrorCode Do(const Location& root);
    std::uint32_t GetSkippedCount() const noexcept { return skipped_; }

protected:
    // `name` is zero-terminated and `length` bytes long; it is valid only
    // during the call.
    virtual bool EntryFound(const char* name, std::size_t length, bool isFolder);  // default: true
    virtual void FileFound(const char* name, std::size_t length);                  // default: nothing
    virtual bool FolderFound(const char* name, std::size_t length);                // default: true
    virtual void FolderEntered(const char* name, std::size_t length);
    virtual void FolderExited();

    // The modification time of the file `name` of the folder being walked,
    // as File::GetModificationTime gives it.
    KR::ErrorCode GetFileTime(const char* name, std::int32_t* time);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::uint32_t skipped_ = 0;
};

}  // namespace IO
