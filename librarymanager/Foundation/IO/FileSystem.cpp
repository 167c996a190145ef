#include "IO/FileSystem.hpp"

#include "IO/Errors.hpp"
#include "IO/Internal.hpp"
#include "IO/Platform.hpp"
#include "IO/Replace.hpp"
#include "KR/Time.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace IO {

FileSystem fileSystem;

FixedVFS::~FixedVFS() = default;

// --- Shared helpers ----------------------------------------------------------

namespace Internal {

KR::ErrorCode ErrorFromErrno(int error) noexcept
{
    switch (error) {
    case ENOENT:
        return ErrNotFound;
    case EACCES:
    case EPERM:
        return ErrAccessDenied;
    case ENOSPC:
    case EDQUOT:
        return ErrDiskFull;
    case EEXIST:
        return ErrAlreadyExists;
    case ENOTDIR:
        return ErrNotAFolder;
    case EISDIR:
        return ErrNotAFile;
    case EROFS:
        return ErrReadOnly;
    case ENOMEM:
        return KR::ErrMemFull;
    default:
        return ErrSystem;
    }
}

KR::ErrorCode CheckLocal(const Location& location) noexcept
{
    if (location.IsURL())
        return ErrNotLocal;
    if (location.IsEmpty() || location.GetStatus() != KR::NoError)
        return ErrBadLocation;
    return KR::NoError;
}

std::int32_t FoundationTime(std::int64_t unixTime) noexcept
{
    return KR::DateTimeManager::FromUnixTime(unixTime);
}

KR::ErrorCode GetMountedFileInfo(const FixedVFS& vfs, const RelativeLocation& inside, FixedVFS::EntryInfo* info)
{
    const KR::ErrorCode err = vfs.GetInfo(inside, info);
    if (err != KR::NoError)
        return err;
    return info->isFolder ? ErrNotAFile : KR::NoError;
}

}  // namespace Internal

namespace {

using Internal::ErrorFromErrno;

// The process-wide mount table. Mount points are few (one per mounted
// container file), so a plain list scanned in order serves best; the common
// case of nothing mounted costs one test.
struct MountEntry {
    std::string path;  // normalised local path of the mount point
    FixedVFS* vfs;
};

std::vector<MountEntry>& MountTable()
{
    static auto* table = new std::vector<MountEntry>;  // never destroyed: usable until exit
    return *table;
}

// True when `mount` equals `path` (when `includeSelf`) or lies above it.
bool Covers(const std::string& mount, const std::string& path, bool includeSelf) noexcept
{
    if (mount.size() == path.size())
        return includeSelf && mount == path;
    if (mount.size() > path.size() || path.compare(0, mount.size(), mount) != 0)
        return false;
    return mount.size() == 1 || path[mount.size()] == '/';
}

FixedVFS* Lookup(const std::string& path, bool includeSelf, RelativeLocation* inside)
{
    const std::vector<MountEntry>& table = MountTable();
    const MountEntry* best = nullptr;
    for (const MountEntry& entry : table)
        if (Covers(entry.path, path, includeSelf) && (best == nullptr || entry.path.size() > best->path.size()))
            best = &entry;
    if (best == nullptr)
        return nullptr;
    if (inside != nullptr)
        *inside = RelativeLocation(std::string_view(path).substr(best->path.size()));
    return best->vfs;
}

std::string ParentPath(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
}

std::string LastName(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

std::string Join(const std::string& folder, const std::string& name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// Closes a descriptor when it goes out of scope.
class FdGuard {
public:
    explicit FdGuard(int fd) noexcept : fd_(fd) {}
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    ~FdGuard()
    {
        if (fd_ >= 0)
            Sys().Close(fd_);
    }
    int Get() const noexcept { return fd_; }
    // Closes now and reports a failure of the close itself.
    KR::ErrorCode Close() noexcept
    {
        const int fd = fd_;
        fd_ = -1;
        return fd >= 0 && Sys().Close(fd) != 0 ? ErrorFromErrno(errno) : KR::NoError;
    }
    // Flushes what was written to the disk, then closes. A file system that
    // cannot flush (EINVAL, EROFS) counts as flushed.
    KR::ErrorCode SyncAndClose() noexcept
    {
        if (fd_ >= 0 && Sys().FSync(fd_) != 0 && errno != EINVAL && errno != EROFS)
            return ErrorFromErrno(errno);
        return Close();
    }

private:
    int fd_;
};

// The names in a folder, without "." and "..", sorted by byte order.
KR::ErrorCode ReadFolderNames(DIR* dir, std::vector<std::string>* names)
{
    names->clear();
    errno = 0;
    while (const dirent* entry = Sys().ReadDir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        names->emplace_back(name);
        errno = 0;
    }
    if (errno != 0)
        return ErrorFromErrno(errno);
    std::sort(names->begin(), names->end());
    return KR::NoError;
}

KR::ErrorCode WriteAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = Sys().Write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return ErrorFromErrno(errno);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return KR::NoError;
}

timespec TimespecOf(std::int64_t unixTime) noexcept
{
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(unixTime);
    return ts;
}

// A descriptor of the folder just made at `path`, to hold it as a scratch
// entry; -1 with errno set on failure.
int OpenHeldFolder(const std::string& path)
{
    return Sys().Open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0);
}

// --- Removing ------------------------------------------------------------------

// Removes the entry `name` of the folder `dirFd` and, for a folder,
// everything below it. Symbolic links are removed, never followed. Goes on
// after a failure and reports the first one.
KR::ErrorCode RemoveAt(int dirFd, const char* name)
{
    struct stat st {};
    if (Sys().FStatAt(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return ErrorFromErrno(errno);
    if (!S_ISDIR(st.st_mode))
        return Sys().UnlinkAt(dirFd, name, 0) == 0 ? KR::NoError : ErrorFromErrno(errno);

    KR::ErrorCode first = KR::NoError;
    const int fd = Sys().OpenAt(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0);
    if (fd < 0)
        return ErrorFromErrno(errno);
    DIR* dir = Sys().FdOpenDir(fd);
    if (dir == nullptr) {
        const int error = errno;
        Sys().Close(fd);
        return ErrorFromErrno(error);
    }
    std::vector<std::string> names;
    first = ReadFolderNames(dir, &names);
    for (const std::string& child : names) {
        const KR::ErrorCode err = RemoveAt(::dirfd(dir), child.c_str());
        if (first == KR::NoError)
            first = err;
    }
    Sys().CloseDir(dir);
    if (Sys().UnlinkAt(dirFd, name, AT_REMOVEDIR) != 0 && first == KR::NoError)
        first = ErrorFromErrno(errno);
    return first;
}

KR::ErrorCode RemovePath(const std::string& path)
{
    return RemoveAt(AT_FDCWD, path.c_str());
}

// --- Copying -------------------------------------------------------------------

constexpr std::size_t CopyBufferSize = 256u * 1024u;

// Copies the regular file `from` (whose status is `st`) to the new file `to`,
// with its permissions and times. With `hold`, `to` is a scratch entry that
// is held as being written (Internal::HoldScratch) from its creation on.
KR::ErrorCode CopyRealFile(const std::string& from, const struct stat& st, const std::string& to,
                           std::vector<char>& buffer, int* hold = nullptr)
{
    FdGuard in(Sys().Open(from.c_str(), O_RDONLY | O_CLOEXEC, 0));
    if (in.Get() < 0)
        return ErrorFromErrno(errno);
    FdGuard out(Sys().Open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777));
    if (out.Get() < 0)
        return ErrorFromErrno(errno);
    if (hold != nullptr)
        if (const KR::ErrorCode err = Internal::HoldScratch(Sys().Dup(out.Get()), hold); err != KR::NoError)
            return err;
    for (;;) {
        const ssize_t n = Sys().Read(in.Get(), buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return ErrorFromErrno(errno);
        }
        if (n == 0)
            break;
        const KR::ErrorCode err = WriteAll(out.Get(), buffer.data(), static_cast<std::size_t>(n));
        if (err != KR::NoError)
            return err;
    }
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (Sys().FUTimeNs(out.Get(), times) != 0)
        return ErrorFromErrno(errno);
    return out.SyncAndClose();
}

// Copies the entry `from` to the new entry `to` as it is stored: folders with
// everything below them, files with their content, symbolic links as links.
// Other kinds of entry (devices, pipes, sockets) are passed over.
KR::ErrorCode CopyRealEntry(const std::string& from, const struct stat& st, const std::string& to,
                            std::vector<char>& buffer, int* hold = nullptr)
{
    if (S_ISREG(st.st_mode))
        return CopyRealFile(from, st, to, buffer, hold);
    if (S_ISLNK(st.st_mode)) {
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 0) + 1, '\0');
        const ssize_t n = Sys().ReadLink(from.c_str(), target.data(), target.size());
        if (n < 0)
            return ErrorFromErrno(errno);
        if (static_cast<std::size_t>(n) >= target.size())
            return ErrSystem;  // the link changed while it was copied
        target.resize(static_cast<std::size_t>(n));
        if (Sys().SymLink(target.c_str(), to.c_str()) != 0)
            return ErrorFromErrno(errno);
        const timespec times[2] = {st.st_atim, st.st_mtim};
        Sys().UTimeNsAt(AT_FDCWD, to.c_str(), times, AT_SYMLINK_NOFOLLOW);  // not every file system keeps link times
        return KR::NoError;
    }
    if (!S_ISDIR(st.st_mode))
        return KR::NoError;

    if (Sys().MkDir(to.c_str(), 0700) != 0)
        return ErrorFromErrno(errno);
    if (hold != nullptr)
        if (const KR::ErrorCode err = Internal::HoldScratch(OpenHeldFolder(to), hold); err != KR::NoError)
            return err;
    DIR* dir = Sys().OpenDir(from.c_str());
    if (dir == nullptr)
        return ErrorFromErrno(errno);
    std::vector<std::string> names;
    KR::ErrorCode err = ReadFolderNames(dir, &names);
    Sys().CloseDir(dir);
    for (std::size_t i = 0; err == KR::NoError && i < names.size(); ++i) {
        const std::string childFrom = Join(from, names[i]);
        struct stat childSt {};
        if (Sys().LStat(childFrom.c_str(), &childSt) != 0)
            err = ErrorFromErrno(errno);
        else
            err = CopyRealEntry(childFrom, childSt, Join(to, names[i]), buffer);
    }
    if (err == KR::NoError)
        err = SyncFolder(to);
    if (err != KR::NoError)
        return err;
    // Permissions and times last: writing the content changes the times, and
    // a read-only folder could not have been filled.
    if (Sys().ChMod(to.c_str(), st.st_mode & 07777) != 0)
        return ErrorFromErrno(errno);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (Sys().UTimeNsAt(AT_FDCWD, to.c_str(), times, 0) != 0)
        return ErrorFromErrno(errno);
    return KR::NoError;
}

// Copies the entry `path` of a mounted file system to the new entry `to`.
KR::ErrorCode CopyVfsEntry(const FixedVFS& vfs, const RelativeLocation& path, const std::string& to,
                           int* hold = nullptr)
{
    FixedVFS::EntryInfo info;
    KR::ErrorCode err = vfs.GetInfo(path, &info);
    if (err != KR::NoError)
        return err;
    const std::int64_t unixTime = KR::DateTimeManager::ToUnixTime(info.modificationTime);
    const timespec times[2] = {TimespecOf(unixTime), TimespecOf(unixTime)};

    if (!info.isFolder) {
        std::string content;
        err = vfs.ReadFile(path, &content, Internal::MaxInMemoryFileSize);
        if (err != KR::NoError)
            return err;
        FdGuard out(Sys().Open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (out.Get() < 0)
            return ErrorFromErrno(errno);
        if (hold != nullptr && (err = Internal::HoldScratch(Sys().Dup(out.Get()), hold)) != KR::NoError)
            return err;
        err = WriteAll(out.Get(), content.data(), content.size());
        if (err != KR::NoError)
            return err;
        if (Sys().FUTimeNs(out.Get(), times) != 0)
            return ErrorFromErrno(errno);
        return out.SyncAndClose();
    }

    if (Sys().MkDir(to.c_str(), 0777) != 0)
        return ErrorFromErrno(errno);
    if (hold != nullptr && (err = Internal::HoldScratch(OpenHeldFolder(to), hold)) != KR::NoError)
        return err;
    std::vector<FixedVFS::FolderEntry> entries;
    err = vfs.ListFolder(path, &entries);
    for (std::size_t i = 0; err == KR::NoError && i < entries.size(); ++i) {
        if (!entries[i].name.IsValid())
            continue;
        RelativeLocation child = path;
        child.AppendName(entries[i].name);
        err = CopyVfsEntry(vfs, child, Join(to, entries[i].name.Std()));
    }
    if (err == KR::NoError)
        err = SyncFolder(to);
    if (err != KR::NoError)
        return err;
    if (Sys().UTimeNsAt(AT_FDCWD, to.c_str(), times, 0) != 0)
        return ErrorFromErrno(errno);
    return KR::NoError;
}

// --- Trash ---------------------------------------------------------------------

std::string TrashFolderPath()
{
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/')
        return std::string(dataHome) + "/Trash";
    std::string home;
    const char* homeVar = std::getenv("HOME");
    if (homeVar != nullptr && homeVar[0] == '/') {
        home = homeVar;
    } else {
        struct passwd pwd {};
        struct passwd* result = nullptr;
        std::vector<char> buffer(16384);
        if (::getpwuid_r(::getuid(), &pwd, buffer.data(), buffer.size(), &result) == 0 && result != nullptr &&
            result->pw_dir != nullptr && result->pw_dir[0] == '/')
            home = result->pw_dir;
    }
    if (home.empty())
        return std::string();
    return (home == "/" ? std::string() : home) + "/.local/share/Trash";
}

// Creates `path` and its missing parents.
KR::ErrorCode MakeFolders(const std::string& path, mode_t mode)
{
    struct stat st {};
    if (Sys().Stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) ? KR::NoError : ErrNotAFolder;
    if (errno != ENOENT)
        return ErrorFromErrno(errno);
    if (path != "/") {
        const KR::ErrorCode err = MakeFolders(ParentPath(path), 0777);
        if (err != KR::NoError)
            return err;
    }
    if (Sys().MkDir(path.c_str(), mode) != 0 && errno != EEXIST)
        return ErrorFromErrno(errno);
    if (Sys().Stat(path.c_str(), &st) != 0)
        return ErrorFromErrno(errno);
    return S_ISDIR(st.st_mode) ? KR::NoError : ErrNotAFolder;
}

std::string DeletionDate()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

// The name under which an entry is stored in the trash: its own name, or
// "stem.N.ext" when that is taken. The info file is created exclusively, so
// the name is ours once this returns.
KR::ErrorCode ReserveTrashName(const std::string& trash, const std::string& originalPath, std::string* name)
{
    const std::string original = LastName(originalPath);
    const Name asName(original);
    const char* extension = asName.FindExtension();
    const std::string ext = extension != nullptr ? "." + std::string(extension) : std::string();
    std::string stem = original.substr(0, original.size() - ext.size());
    // The info file name adds ".trashinfo"; keep it within the usual limit of
    // 255 bytes.
    constexpr std::size_t MaxBase = 255 - 10 - 12;
    if (stem.size() + ext.size() > MaxBase)
        stem.resize(ext.size() < MaxBase ? MaxBase - ext.size() : 1);

    const std::string contents = "[Trash Info]\nPath=" + Internal::PercentEncode(originalPath) +
                                 "\nDeletionDate=" + DeletionDate() + "\n";
    for (unsigned n = 1; n < 100000; ++n) {
        const std::string candidate =
            n == 1 && stem.size() + ext.size() == original.size() ? original : stem + "." + std::to_string(n) + ext;
        const std::string infoPath = trash + "/info/" + candidate + ".trashinfo";
        FdGuard info(Sys().Open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (info.Get() < 0) {
            if (errno == EEXIST)
                continue;
            return ErrNoTrash;
        }
        struct stat st {};
        if (Sys().LStat((trash + "/files/" + candidate).c_str(), &st) == 0) {
            info.Close();
            Sys().Unlink(infoPath.c_str());  // an entry without info file: leave it, take another name
            continue;
        }
        KR::ErrorCode err = WriteAll(info.Get(), contents.data(), contents.size());
        if (err == KR::NoError)
            err = info.Close();
        if (err != KR::NoError) {
            Sys().Unlink(infoPath.c_str());
            return ErrNoTrash;
        }
        *name = candidate;
        return KR::NoError;
    }
    return ErrNoTrash;
}

KR::ErrorCode MoveToTrash(const std::string& path)
{
    const std::string trash = TrashFolderPath();
    if (trash.empty())
        return ErrNoTrash;
    // The trash cannot take the folder it lies in.
    if (trash == path || Covers(path, trash, true))
        return ErrNoTrash;
    if (MakeFolders(trash, 0700) != KR::NoError || MakeFolders(trash + "/files", 0700) != KR::NoError ||
        MakeFolders(trash + "/info", 0700) != KR::NoError)
        return ErrNoTrash;

    std::string name;
    KR::ErrorCode err = ReserveTrashName(trash, path, &name);
    if (err != KR::NoError)
        return err;
    const std::string infoPath = trash + "/info/" + name + ".trashinfo";
    const std::string target = trash + "/files/" + name;

    if (Sys().Rename(path.c_str(), target.c_str(), 0) == 0)
        return KR::NoError;
    if (errno != EXDEV) {
        err = ErrorFromErrno(errno);
        Sys().Unlink(infoPath.c_str());
        return err;
    }
    // Another file system: copy into the trash, then delete the original. A
    // failed copy leaves the original untouched.
    struct stat st {};
    std::vector<char> buffer(CopyBufferSize);
    if (Sys().LStat(path.c_str(), &st) != 0)
        err = ErrorFromErrno(errno);
    else
        err = CopyRealEntry(path, st, target, buffer);
    if (err != KR::NoError) {
        struct stat partial {};
        if (Sys().LStat(target.c_str(), &partial) == 0)
            RemovePath(target);
        Sys().Unlink(infoPath.c_str());
        return err;
    }
    // The copy is flushed (files and folders as they were made); its entry
    // in the trash must be on the disk too before the original goes.
    SyncFolder(trash + "/files");
    return RemovePath(path);
}

}  // namespace

namespace Internal {

bool NothingMounted() noexcept
{
    return MountTable().empty();
}

FixedVFS* FindFolderMount(const std::string& path, RelativeLocation* inside)
{
    return NothingMounted() ? nullptr : Lookup(path, true, inside);
}

FixedVFS* FindEntryMount(const std::string& path, RelativeLocation* inside)
{
    return NothingMounted() ? nullptr : Lookup(path, false, inside);
}

KR::ErrorCode CopyFileToScratch(const std::string& from, const std::string& scratch, int* hold)
{
    RelativeLocation inside;
    if (const FixedVFS* vfs = FindEntryMount(from, &inside)) {
        FixedVFS::EntryInfo info;
        if (const KR::ErrorCode err = vfs->GetInfo(inside, &info); err != KR::NoError)
            return err;
        return info.isFolder ? ErrNotAFile : CopyVfsEntry(*vfs, inside, scratch, hold);
    }
    struct stat st {};
    if (Sys().Stat(from.c_str(), &st) != 0)
        return ErrorFromErrno(errno);
    if (!S_ISREG(st.st_mode))
        return ErrNotAFile;
    std::vector<char> buffer(CopyBufferSize);
    return CopyRealFile(from, st, scratch, buffer, hold);
}

bool IsMountPath(const std::string& path) noexcept
{
    for (const MountEntry& entry : MountTable())
        if (entry.path == path)
            return true;
    return false;
}

}  // namespace Internal

// --- FileSystem ----------------------------------------------------------------

KR::ErrorCode FileSystem::Copy(const Location& from, const Location& to)
{
    KR::ErrorCode err = Internal::CheckLocal(from);
    if (err == KR::NoError)
        err = Internal::CheckLocal(to);
    if (err != KR::NoError)
        return err;
    const std::string& toPath = to.GetText();
    if (Internal::FindEntryMount(toPath, nullptr) != nullptr)
        return ErrReadOnly;
    struct stat st {};
    if (Sys().LStat(toPath.c_str(), &st) == 0 || toPath == "/")
        return ErrAlreadyExists;
    if (from.IsAncestorOf(to))
        return KR::ErrIllegalArgument;  // a folder cannot be copied into itself
    const std::string toParent = ParentPath(toPath);
    if (Sys().Stat(toParent.c_str(), &st) != 0)
        return ErrorFromErrno(errno);
    if (!S_ISDIR(st.st_mode))
        return ErrNotAFolder;

    RelativeLocation inside;
    const FixedVFS* vfs = Internal::FindEntryMount(from.GetText(), &inside);
    struct stat fromSt {};
    if (vfs == nullptr && Sys().Stat(from.GetText().c_str(), &fromSt) != 0)
        return ErrorFromErrno(errno);

    // The copy is made under a free scratch name beside `to` and put in
    // place only when it is complete and on the disk. A missing entry of a
    // mounted file system is reported by CopyVfsEntry before it makes
    // anything.
    const std::string scratch = FreeScratchPathBeside(toPath, "copy");
    // Held as being written until it is in place or removed, so that no
    // clean-up of abandoned scratch entries takes it meanwhile.
    int hold = -1;
    if (vfs != nullptr) {
        err = CopyVfsEntry(*vfs, inside, scratch, &hold);
    } else {
        std::vector<char> buffer(CopyBufferSize);
        err = CopyRealEntry(from.GetText(), fromSt, scratch, buffer, &hold);
    }
    const FdGuard held(hold);
    if (err == KR::NoError)
        err = ReplaceFile(scratch, toPath, ReplaceMode::Create);
    if (err != KR::NoError) {
        if (Sys().LStat(scratch.c_str(), &st) == 0)
            RemovePath(scratch);
        return err;
    }
    return KR::NoError;
}

KR::ErrorCode FileSystem::Delete(const Location& location, DataSafety safety)
{
    const KR::ErrorCode err = Internal::CheckLocal(location);
    if (err != KR::NoError)
        return err;
    const std::string& path = location.GetText();
    if (path == "/")
        return KR::ErrIllegalArgument;
    if (Internal::FindEntryMount(path, nullptr) != nullptr)
        return ErrReadOnly;
    struct stat st {};
    if (Sys().LStat(path.c_str(), &st) != 0)
        return ErrorFromErrno(errno);
    switch (safety) {
    case DataSafety::DeleteNow:
        return RemovePath(path);
    case DataSafety::MoveToTrash:
        return MoveToTrash(path);
    }
    return KR::ErrIllegalArgument;
}

KR::ErrorCode FileSystem::Mount(FixedVFS& vfs, const Location& location)
{
    const KR::ErrorCode err = Internal::CheckLocal(location);
    if (err != KR::NoError)
        return err;
    std::vector<MountEntry>& table = MountTable();
    for (const MountEntry& entry : table)
        if (entry.vfs == &vfs || entry.path == location.GetText())
            return ErrAlreadyMounted;
    table.push_back(MountEntry{location.GetText(), &vfs});
    return KR::NoError;
}

KR::ErrorCode FileSystem::Unmount(FixedVFS& vfs)
{
    std::vector<MountEntry>& table = MountTable();
    const auto removed = std::remove_if(table.begin(), table.end(), [&](const MountEntry& e) { return e.vfs == &vfs; });
    if (removed == table.end())
        return ErrNotMounted;
    table.erase(removed, table.end());
    return KR::NoError;
}

bool FileSystem::IsMountPoint(const Location& location) const
{
    return Internal::CheckLocal(location) == KR::NoError && !Internal::NothingMounted() &&
           Internal::IsMountPath(location.GetText());
}

std::size_t FileSystem::GetMountCount() const noexcept
{
    return MountTable().size();
}

FixedVFS* FileSystem::FindMount(const Location& location, RelativeLocation* inside) const
{
    if (Internal::CheckLocal(location) != KR::NoError)
        return nullptr;
    return Internal::FindFolderMount(location.GetText(), inside);
}

bool FileSystem::Exists(const Location& location, bool* isFolder) const
{
    if (isFolder != nullptr)
        *isFolder = false;
    if (Internal::CheckLocal(location) != KR::NoError)
        return false;
    RelativeLocation inside;
    if (const FixedVFS* vfs = Internal::FindFolderMount(location.GetText(), &inside)) {
        FixedVFS::EntryInfo info;
        if (vfs->GetInfo(inside, &info) != KR::NoError)
            return false;
        if (isFolder != nullptr)
            *isFolder = info.isFolder;
        return true;
    }
    struct stat st {};
    if (Sys().Stat(location.GetText().c_str(), &st) != 0)
        return false;
    if (isFolder != nullptr)
        *isFolder = S_ISDIR(st.st_mode);
    return true;
}

}  // namespace IO
