#include "KRUtils/ScratchFile.hpp"

#include "IO/FileSystem.hpp"
#include "IO/Platform.hpp"
#include "IO/Replace.hpp"
#include "KR/String.hpp"

#include <cerrno>

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
        IO::Sys().Unlink(scratchPath_.c_str());
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
    // Only a regular file is replaced; the new one gets its permissions.
    bool replacing = false;
    unsigned mode = 0666;
    if (KR::ErrorCode err = IO::CheckReplaceable(targetPath_, &replacing, &mode); err != KR::NoError) {
        createError_ = err;
        return;
    }

    IO::Platform& sys = IO::Sys();
    int fd = -1;
    std::string candidate;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        candidate = IO::ScratchPathBeside(targetPath_, "scratch");
        fd = sys.Open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST) {
            createError_ = FromErrno(errno);
            return;
        }
    }
    if (fd < 0) {
        createError_ = IO::ErrAlreadyExists;
        return;
    }
    // The umask may have narrowed the permissions; the scratch file is ours
    // and still empty, so a failure here is not worth refusing it for.
    if (replacing)
        sys.FChMod(fd, mode);
    sys.Close(fd);
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
    // Flushed, renamed over the target, folder flushed: a crash leaves
    // either the old file or the complete new one.
    if (KR::ErrorCode err = IO::ReplaceFile(scratchPath_, targetPath_, IO::ReplaceMode::Replace); err != KR::NoError)
        return err;
    permanent_ = true;
    Reset(target_, IO::OnNotFound::Report);
    return KR::NoError;
}

}  // namespace IOUtil
