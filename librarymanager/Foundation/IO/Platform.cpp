#include "IO/Platform.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <stdio.h>
#include <unistd.h>

namespace IO {

Platform::~Platform() = default;

namespace {

class SystemCalls final : public Platform {
public:
    int Open(const char* path, int flags, mode_t mode) override { return ::open(path, flags, mode); }
    int OpenAt(int dirFd, const char* name, int flags, mode_t mode) override
    {
        return ::openat(dirFd, name, flags, mode);
    }
    int Close(int fd) override { return ::close(fd); }
    int Dup(int fd) override { return ::dup(fd); }
    ssize_t Read(int fd, void* buffer, size_t size) override { return ::read(fd, buffer, size); }
    ssize_t PRead(int fd, void* buffer, size_t size, off_t offset) override
    {
        return ::pread(fd, buffer, size, offset);
    }
    ssize_t Write(int fd, const void* data, size_t size) override { return ::write(fd, data, size); }
    ssize_t PWrite(int fd, const void* data, size_t size, off_t offset) override
    {
        return ::pwrite(fd, data, size, offset);
    }
    int FSync(int fd) override { return ::fsync(fd); }
    int Rename(const char* from, const char* to, unsigned flags) override
    {
        return flags == 0 ? ::rename(from, to) : ::renameat2(AT_FDCWD, from, AT_FDCWD, to, flags);
    }
    int Unlink(const char* path) override { return ::unlink(path); }
    int UnlinkAt(int dirFd, const char* name, int flags) override { return ::unlinkat(dirFd, name, flags); }
    int MkDir(const char* path, mode_t mode) override { return ::mkdir(path, mode); }
    int Stat(const char* path, struct stat* st) override { return ::stat(path, st); }
    int LStat(const char* path, struct stat* st) override { return ::lstat(path, st); }
    int FStat(int fd, struct stat* st) override { return ::fstat(fd, st); }
    int FStatAt(int dirFd, const char* name, struct stat* st, int flags) override
    {
        return ::fstatat(dirFd, name, st, flags);
    }
    DIR* OpenDir(const char* path) override { return ::opendir(path); }
    DIR* FdOpenDir(int fd) override { return ::fdopendir(fd); }
    dirent* ReadDir(DIR* dir) override { return ::readdir(dir); }
    int CloseDir(DIR* dir) override { return ::closedir(dir); }
    int UTimeNsAt(int dirFd, const char* path, const timespec times[2], int flags) override
    {
        return ::utimensat(dirFd, path, times, flags);
    }
    int FUTimeNs(int fd, const timespec times[2]) override { return ::futimens(fd, times); }
    int Access(const char* path, int mode) override { return ::access(path, mode); }
    ssize_t ReadLink(const char* path, char* buffer, size_t size) override
    {
        return ::readlink(path, buffer, size);
    }
    int SymLink(const char* target, const char* path) override { return ::symlink(target, path); }
    int ChMod(const char* path, mode_t mode) override { return ::chmod(path, mode); }
    int FChMod(int fd, mode_t mode) override { return ::fchmod(fd, mode); }
    int Flock(int fd, int operation) override { return ::flock(fd, operation); }
};

// Constant-initialised, so the platform is usable during the static
// initialisation of any library.
constinit SystemCalls systemCalls;

}  // namespace

namespace Internal {
constinit Platform* activePlatform = &systemCalls;
}

Platform& SystemPlatform() noexcept
{
    return systemCalls;
}

Platform* SetPlatform(Platform* platform) noexcept
{
    Platform* previous = Internal::activePlatform;
    Internal::activePlatform = platform != nullptr ? platform : &systemCalls;
    return previous;
}

}  // namespace IO
