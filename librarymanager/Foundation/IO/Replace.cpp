#include "IO/Replace.hpp"

#include "IO/Errors.hpp"
#include "IO/Internal.hpp"
#include "IO/Platform.hpp"

#include <fcntl.h>
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

KR::ErrorCode SyncFolder(const std::string& path)
{
    return SyncPath(path, O_DIRECTORY);
}

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

}  // namespace IO
