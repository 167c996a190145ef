// Helpers shared by the implementation files of the input/output library.
// Not part of the library's interface.
#pragma once

#include "IO/Errors.hpp"
#include "IO/FixedVFS.hpp"
#include "IO/Location.hpp"

#include <dirent.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace IO::Internal {

// Largest file served from memory: a mounted file read by IO::File, or an
// entry copied out of a mounted file system.
inline constexpr std::uint64_t MaxInMemoryFileSize = 256u * 1024u * 1024u;

// The IO error code of a failed system call.
KR::ErrorCode ErrorFromErrno(int error) noexcept;

// 0 for a well-formed local location, otherwise the reason why it cannot be
// used by a local operation (ErrBadLocation, ErrNotLocal).
KR::ErrorCode CheckLocal(const Location& location) noexcept;

// True when nothing is mounted: the mount table lookups can be skipped.
bool NothingMounted() noexcept;

// The mounted file system that serves `path` as a folder: the one mounted at
// the longest mount point equal to `path` or above it. `inside` receives the
// names below that mount point.
FixedVFS* FindFolderMount(const std::string& path, RelativeLocation* inside);

// The mounted file system that holds the entry at `path`: the one mounted at
// the longest mount point strictly above `path`. At a mount point itself the
// entry is the one stored there (the container file), so only mount points
// above it count.
FixedVFS* FindEntryMount(const std::string& path, RelativeLocation* inside);

// The entry `inside` of a mounted file system, which must be a file:
// ErrNotAFile for a folder.
KR::ErrorCode GetMountedFileInfo(const FixedVFS& vfs, const RelativeLocation& inside, FixedVFS::EntryInfo* info);

// True when a file system is mounted exactly at `path`.
bool IsMountPath(const std::string& path) noexcept;

// The folder that a tree walk of this thread is reading the entries of,
// held open by the walk for as long as it announces it. Opening a file of
// that folder then resolves only the file's name against the open folder
// rather than every name of the whole path again. The announcement ends
// with the scope; scopes nest (a walk started inside a walk's callback).
class WalkedFolderScope {
public:
    WalkedFolderScope(const std::string& path, int fd) noexcept;
    WalkedFolderScope(const WalkedFolderScope&) = delete;
    WalkedFolderScope& operator=(const WalkedFolderScope&) = delete;
    ~WalkedFolderScope();

private:
    const std::string* previousPath_;
    int previousFd_;
};

// The descriptor of the announced folder when `path` names an entry directly
// inside it (`*name` then points at the entry's name within `path`); -1
// otherwise.
int WalkedFolderOf(const std::string& path, const char** name) noexcept;

// Marks the scratch entry (file or folder) just made as being written:
// takes an exclusive lock on `fd`, a new descriptor of the entry that it
// takes over, and hands it to `*hold`. The lock lasts until that is closed
// and ends with the process however that ends, so RemoveAbandonedScratch
// leaves the entry alone meanwhile. A file system without locks costs only
// that protection. The error of making `fd` (when it is -1); ErrNotFound
// when the entry was removed as abandoned before the lock was taken.
KR::ErrorCode HoldScratch(int fd, int* hold);

// Copies the file `from` (on the disk or in a mounted file system) to the
// new file `scratch` with its permissions and times, flushed, and holds it
// (HoldScratch). ErrNotAFile when `from` is not a file.
KR::ErrorCode CopyFileToScratch(const std::string& from, const std::string& scratch, int* hold);

// "%XX" escapes for every byte but the unreserved characters and '/'.
std::string PercentEncode(std::string_view text);

// Foundation time of a Unix time.
std::int32_t FoundationTime(std::int64_t unixTime) noexcept;

// What a folder entry is to a tree walk; links are never followed.
enum class EntryKind : std::uint8_t { File, Folder, Link, Other };

// Identity of a real folder, to recognise a folder met again through a link.
struct FolderId {
    dev_t device = 0;
    ino_t inode = 0;
    friend bool operator==(const FolderId&, const FolderId&) = default;
};

EntryKind KindOfMode(mode_t mode) noexcept;

// The kind of a listed entry of the folder open as `dirFd`: from the
// listing's type, or, where the file system gives none, from an fstatat
// that does not follow links.
EntryKind KindOfEntry(int dirFd, const dirent& entry) noexcept;

}  // namespace IO::Internal
