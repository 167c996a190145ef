// Whole-entry operations and the mount table.
#pragma once

#include "IO/FixedVFS.hpp"
#include "IO/Folder.hpp"
#include "IO/Location.hpp"

namespace IO {

class FileSystem {
public:
    // Copies the file or folder at `from` to `to`, which must not exist yet
    // (ErrAlreadyExists) and whose parent folder must exist (ErrNotFound).
    // Modification times are kept. The copy is made under a scratch name
    // beside `to`, flushed to the disk and renamed to `to` only when it is
    // complete (IO/Replace.hpp), so a failed copy, a crash or a power cut
    // leaves either nothing or the whole copy at `to`. `from` may be served by a mounted FixedVFS
    // (copying out of it); `to` may not (ErrReadOnly). Like File, Copy and
    // Delete take a mount point itself as the entry stored there (the
    // container file).
    KR::ErrorCode Copy(const Location& from, const Location& to);

    // Deletes the file or folder at `location` (see DataSafety). The trash is
    // the user's trash folder of the freedesktop.org trash convention
    // ($XDG_DATA_HOME/Trash, by default ~/.local/share/Trash), with an info
    // file that records the original path, so a file manager can restore it.
    // ErrReadOnly inside a mounted file system; ErrNoTrash when the trash
    // cannot be used (nothing is deleted then).
    KR::ErrorCode Delete(const Location& location, DataSafety safety);

    // Mounts `vfs` at a local location: from now on the location and
    // everything below it are served by `vfs`. The caller keeps ownership and
    // must unmount before destroying it. ErrAlreadyMounted when something is
    // mounted at the location already or `vfs` is mounted elsewhere.
    KR::ErrorCode Mount(FixedVFS& vfs, const Location& location);
    // ErrNotMounted when `vfs` is not mounted.
    KR::ErrorCode Unmount(FixedVFS& vfs);
    bool IsMountPoint(const Location& location) const;
    std::size_t GetMountCount() const noexcept;

    // The mounted file system that serves `location`, with the path below its
    // mount point; null when the location is served by the real file system.
    FixedVFS* FindMount(const Location& location, RelativeLocation* inside = nullptr) const;

    // Whether anything is at the location and whether it is a folder (as IO
    // sees it: a mount point is a folder).
    bool Exists(const Location& location, bool* isFolder = nullptr) const;
};

extern FileSystem fileSystem;

}  // namespace IO
