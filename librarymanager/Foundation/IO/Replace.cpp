#include "IO/Replace.hpp"

#include "IO/Errors.hpp"
#include "IO/FileSystem.hpp"
#include "IO/Internal.hpp"
#include "IO/Platform.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>

namespace IO {

namespace {

using Internal::ErrorFromErrno;

// Six characters of a scratch name, well mixed from a counter, the process
// id and the clock so that two processes writing beside the same target
// rarely pick the same name.
std::string UniqueSuffix()
{
    static std::atomic<std::uint64_t> counter{0};
    std::uint64_t x = counter.fetch_add(1, std::memory_order_relaxed) * 0x9E3779B97F4A7C15ull;
    x ^= static_cast<std::uint64_t>(::getpid()) << 32;
    x ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix(6, ' ');
    for (char& c : suffix) {
        c = alphabet[x % 62];
        x /= 62;
    }
    return suffix;
}

// A name component may have at most this many bytes.
constexpr std::size_t MaxNameBytes = 255;

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
}

// Flushes what was written to `path` (a file or a folder). File systems
// that cannot flush (EINVAL, EROFS: nothing of theirs is in a cache to
// lose) count as flushed.
KR::ErrorCode SyncPath(const std::string& path, int extraFlags)
{
    Platform& sys = Sys();
    const int fd = sys.Open(path.c_str(), O_RDONLY | O_CLOEXEC | extraFlags, 0);
    if (fd < 0)
        return ErrorFromErrno(errno);
    KR::ErrorCode err = KR::NoError;
    if (sys.FSync(fd) != 0 && errno != EINVAL && errno != EROFS)
        err = ErrorFromErrno(errno);
    sys.Close(fd);  // nothing was written through this descriptor
    return err;
}

}  // namespace

KR::ErrorCode CheckReplaceable(const std::string& path, bool* exists, unsigned* mode)
{
    *exists = false;
    struct stat st {};
    if (Sys().LStat(path.c_str(), &st) != 0)
        return errno == ENOENT ? KR::NoError : ErrorFromErrno(errno);
    if (!S_ISREG(st.st_mode))
        return ErrNotAFile;
    *exists = true;
    if (mode != nullptr)
        *mode = st.st_mode & 07777;
    return KR::NoError;
}

std::string ScratchPathBeside(const std::string& path, std::string_view purpose)
{
    const std::string folder = FolderOf(path);
    std::string name = path.substr(path.rfind('/') + 1);
    const std::size_t fixed = 1 + 1 + purpose.size() + 1 + 6;  // ".", ".", purpose, "-", suffix
    if (name.size() + fixed > MaxNameBytes)
        name.resize(MaxNameBytes - fixed);
    std::string scratch = folder == "/" ? std::string("/") : folder + "/";
    scratch += ".";
    scratch += name;
    scratch += ".";
    scratch += purpose;
    scratch += "-";
    scratch += UniqueSuffix();
    return scratch;
}

std::string FreeScratchPathBeside(const std::string& path, std::string_view purpose)
{
    std::string scratch = ScratchPathBeside(path, purpose);
    struct stat st {};
    for (int attempt = 0; attempt < 100 && Sys().LStat(scratch.c_str(), &st) == 0; ++attempt)
        scratch = ScratchPathBeside(path, purpose);
    return scratch;
}

KR::ErrorCode SyncFolder(const std::string& path)
{
    return SyncPath(path, O_DIRECTORY);
}

namespace {

// The rename of a flushed `scratch` to `target`, and the flush of the
// folder after it.
KR::ErrorCode RenameInPlace(const std::string& scratch, const std::string& target, ReplaceMode mode)
{
    Platform& sys = Sys();
    if (mode == ReplaceMode::Create) {
        if (sys.Rename(scratch.c_str(), target.c_str(), RENAME_NOREPLACE) != 0) {
            if (errno != EINVAL && errno != ENOSYS)
                return ErrorFromErrno(errno);
            // A file system without the exclusive rename: test, then rename.
            struct stat st {};
            if (sys.LStat(target.c_str(), &st) == 0)
                return ErrAlreadyExists;
            if (sys.Rename(scratch.c_str(), target.c_str(), 0) != 0)
                return ErrorFromErrno(errno);
        }
    } else if (sys.Rename(scratch.c_str(), target.c_str(), 0) != 0) {
        return ErrorFromErrno(errno);
    }
    // The rename reaches the disk when the folder is flushed. The target is
    // replaced already, so a failure here only makes the change less durable
    // and is not reported as a failed replacement.
    SyncFolder(FolderOf(target));
    return KR::NoError;
}

}  // namespace

KR::ErrorCode ReplaceFile(const std::string& scratch, const std::string& target, ReplaceMode mode)
{
    // Refused before anything is flushed: a target that is not a regular
    // file is never touched.
    bool exists = false;
    KR::ErrorCode err = CheckReplaceable(target, &exists);
    if (err != KR::NoError)
        return err;
    if (exists && mode == ReplaceMode::Create)
        return ErrAlreadyExists;

    // The data reach the disk before the name does.
    err = SyncPath(scratch, 0);
    if (err != KR::NoError)
        return err;
    return RenameInPlace(scratch, target, mode);
}

KR::ErrorCode ReplaceFileWithCopy(const std::string& source, const std::string& target, std::string_view purpose)
{
    bool exists = false;
    KR::ErrorCode err = CheckReplaceable(target, &exists);
    if (err != KR::NoError)
        return err;
    const std::string scratch = FreeScratchPathBeside(target, purpose);
    struct stat st {};
    // The copy is flushed as it is closed, so only the rename and the
    // folder's flush remain. It is held as being written until then.
    int hold = -1;
    err = Internal::CopyFileToScratch(source, scratch, &hold);
    if (err == KR::NoError)
        err = RenameInPlace(scratch, target, ReplaceMode::Replace);
    if (err != KR::NoError && Sys().LStat(scratch.c_str(), &st) == 0)
        Sys().Unlink(scratch.c_str());
    if (hold >= 0)
        Sys().Close(hold);
    return err;
}

bool IsScratchName(std::string_view name) noexcept
{
    // ".", at least one byte of the target's name, ".copy" or ".sync", "-"
    // and six characters.
    constexpr std::size_t Suffix = 6;
    constexpr std::size_t Tag = 5;
    if (name.size() < 1 + 1 + Tag + 1 + Suffix || name[0] != '.')
        return false;
    const std::size_t dash = name.size() - Suffix - 1;
    if (name[dash] != '-')
        return false;
    const std::string_view tag = name.substr(dash - Tag, Tag);
    return tag == ".copy" || tag == ".sync";
}

KR::ErrorCode RemoveAbandonedScratch(const std::string& path)
{
    Platform& sys = Sys();
    const int fd = sys.Open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
    if (fd < 0)
        return ErrorFromErrno(errno);
    // A writer holds its scratch entry locked until it is in place; one that
    // ended, however it ended, holds nothing.
    KR::ErrorCode err = KR::NoError;
    struct stat held {}, named {};
    if (sys.Flock(fd, LOCK_EX | LOCK_NB) != 0)
        err = errno == EWOULDBLOCK ? ErrAlreadyOpen : ErrorFromErrno(errno);
    else if (sys.FStat(fd, &held) != 0 || sys.LStat(path.c_str(), &named) != 0)
        err = ErrorFromErrno(errno);
    // Only the entry that was locked, not one made under its name since.
    else if (held.st_dev == named.st_dev && held.st_ino == named.st_ino)
        err = fileSystem.Delete(Location(path), DataSafety::DeleteNow);
    sys.Close(fd);
    return err;
}

namespace Internal {

KR::ErrorCode HoldScratch(int fd, int* hold)
{
    Platform& sys = Sys();
    if (fd < 0)
        return ErrorFromErrno(errno);
    if (sys.Flock(fd, LOCK_EX) != 0) {
        sys.Close(fd);
        return KR::NoError;  // no locks here: written without the protection
    }
    // Removed as abandoned between its making and the lock.
    struct stat st {};
    KR::ErrorCode err = KR::NoError;
    if (sys.FStat(fd, &st) != 0)
        err = ErrorFromErrno(errno);
    else if (st.st_nlink == 0)
        err = ErrNotFound;
    if (err != KR::NoError) {
        sys.Close(fd);
        return err;
    }
    *hold = fd;
    return KR::NoError;
}

}  // namespace Internal

}  // namespace IO
