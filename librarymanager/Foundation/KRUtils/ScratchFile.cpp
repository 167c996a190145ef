#include "KRUtils/ScratchFile.hpp"

#include "IO/FileSystem.hpp"
#include "KR/String.hpp"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace IOUtil {

namespace {

KR::ErrorCode FromErrno(int error) noexcept
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return IO::ErrNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return IO::ErrAccessDenied;
    case ENOSPC:
    case EDQUOT:
        return IO::ErrDiskFull;
    case EISDIR:
        return IO::ErrNotAFile;
    default:
        return IO::ErrSystem;
    }
}

// Six characters for a scratch name. Uniqueness comes from O_EXCL; the
// characters only make a clash unlikely, so any well-mixed value will do.
std::string UniqueSuffix()
{
    static std::atomic<std::uint64_t> counter{0};
    std::uint64_t x = counter.fetch_add(1) * 0x9E3779B97F4A7C15ull;
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

}  // namespace

ScratchFile::ScratchFile(const IO::Location& target) : target_(target)
{
    Create();
}

ScratchFile::ScratchFile(const IO::Folder& folder, const IO::Name& name) : target_(folder.GetLocation(), name)
{
    Create();
}

ScratchFile::~ScratchFile()
{
    if (!permanent_ && !scratchPath_.empty()) {
        if (IsOpen())
            Close();
        ::unlink(scratchPath_.c_str());
    }
}

void ScratchFile::Create()
{
    if (target_.IsURL()) {
        createError_ = IO::ErrNotLocal;
        return;
    }
    if (target_.IsEmpty() || target_.GetStatus() != KR::NoError) {
        createError_ = IO::ErrBadLocation;
        return;
    }
    if (IO::fileSystem.FindMount(target_) != nullptr) {
        createError_ = IO::ErrReadOnly;
        return;
    }
    KR::String path;
    if (KR::ErrorCode err = target_.ToPath(&path); err != KR::NoError) {
        createError_ = err;
        return;
    }
    targetPath_ = path.Std();
    const std::size_t slash = targetPath_.rfind('/');
    if (slash == std::string::npos || slash + 1 >= targetPath_.size()) {
        createError_ = IO::ErrBadLocation;  // the root has no name to replace
        return;
    }
    const std::string folder = targetPath_.substr(0, slash + 1);
    std::string name = targetPath_.substr(slash + 1);

    // The new file gets the permissions of the file it replaces.
    mode_t mode = 0666;
    bool replacing = false;
    struct stat st {};
    if (::stat(targetPath_.c_str(), &st) == 0) {
        replacing = true;
        if (S_ISDIR(st.st_mode)) {
            createError_ = IO::ErrNotAFile;
            return;
        }
        mode = st.st_mode & 07777;
    }

    const std::string suffix = ".scratch-";
    if (name.size() > MaxNameBytes - 1 - suffix.size() - 6)
        name.resize(MaxNameBytes - 1 - suffix.size() - 6);
    int fd = -1;
    std::string candidate;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        candidate = folder + "." + name + suffix + UniqueSuffix();
        fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST) {
            createError_ = FromErrno(errno);
            return;
        }
    }
    if (fd < 0) {
        createError_ = IO::ErrAlreadyExists;
        return;
    }
    if (replacing)
        ::fchmod(fd, mode);  // the umask may have narrowed it
    ::close(fd);
    scratchPath_ = candidate;
    Reset(IO::Location(scratchPath_), IO::OnNotFound::Report);
}

KR::ErrorCode ScratchFile::GetStatus() const
{
    return createError_ != KR::NoError ? createError_ : IO::File::GetStatus();
}

KR::ErrorCode ScratchFile::MakePermanent()
{
    if (permanent_)
        return KR::NoError;
    if (createError_ != KR::NoError)
        return createError_;
    if (IsOpen()) {
        if (KR::ErrorCode err = Close(); err != KR::NoError)
            return err;
    }
    // The data reach the disk before the name does, so a crash leaves either
    // the old file or the complete new one.
    int fd = ::open(scratchPath_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return FromErrno(errno);
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
        int error = errno;
        ::close(fd);
        return FromErrno(error);
    }
    ::close(fd);
    if (::rename(scratchPath_.c_str(), targetPath_.c_str()) != 0)
        return FromErrno(errno);
    permanent_ = true;
    // Make the rename itself durable. The file is already replaced, so a
    // failure here is not reported as a failure of the replacement.
    const std::string folder = targetPath_.substr(0, targetPath_.rfind('/') + 1);
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    Reset(target_, IO::OnNotFound::Report);
    return KR::NoError;
}

}  // namespace IOUtil
