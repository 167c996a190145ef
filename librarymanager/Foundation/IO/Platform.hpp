// The system calls of the input/output layer.
//
// Every call that the foundation makes to the operating system's file
// system (files, folders, tree walks, copies, the trash, scratch files and
// the replacing of files) goes through one Platform object, so that a test
// can put another implementation in its place: one that fails a chosen call
// with a chosen errno, to show that a full disk, a failed fsync or rename, a
// read error in the middle of a walk or a file that vanishes between two
// calls loses nothing and leaks nothing.
//
// The functions have the POSIX signatures and conventions: -1 (or a null
// pointer) with errno set on failure. The default implementation calls the
// system directly. PlatformWrapper forwards every call to another Platform,
// so that a derived class overrides only what it changes.
//
// The active platform is process-wide and is read on every call; install a
// replacement only while no other thread uses the module (in practice: in a
// test, around the operation it examines).
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <ctime>

namespace IO {

class Platform {
public:
    virtual ~Platform();

    virtual int Open(const char* path, int flags, mode_t mode) = 0;
    virtual int OpenAt(int dirFd, const char* name, int flags, mode_t mode) = 0;
    // As on Linux, the descriptor is released even when close reports an error.
    virtual int Close(int fd) = 0;
    virtual int Dup(int fd) = 0;
    virtual ssize_t Read(int fd, void* buffer, size_t size) = 0;
    virtual ssize_t PRead(int fd, void* buffer, size_t size, off_t offset) = 0;
    virtual ssize_t Write(int fd, const void* data, size_t size) = 0;
    virtual ssize_t PWrite(int fd, const void* data, size_t size, off_t offset) = 0;
    virtual int FSync(int fd) = 0;
    // renameat2 relative to the working folder; `flags` may be RENAME_NOREPLACE.
    virtual int Rename(const char* from, const char* to, unsigned flags) = 0;
    virtual int Unlink(const char* path) = 0;
    // unlinkat; AT_REMOVEDIR in `flags` removes an empty folder.
    virtual int UnlinkAt(int dirFd, const char* name, int flags) = 0;
    virtual int MkDir(const char* path, mode_t mode) = 0;
    virtual int Stat(const char* path, struct stat* st) = 0;
    virtual int LStat(const char* path, struct stat* st) = 0;
    virtual int FStat(int fd, struct stat* st) = 0;
    virtual int FStatAt(int dirFd, const char* name, struct stat* st, int flags) = 0;
    virtual DIR* OpenDir(const char* path) = 0;
    virtual DIR* FdOpenDir(int fd) = 0;
    // Null with errno 0 at the end of the folder, null with errno set on failure.
    virtual dirent* ReadDir(DIR* dir) = 0;
    virtual int CloseDir(DIR* dir) = 0;
    virtual int UTimeNsAt(int dirFd, const char* path, const timespec times[2], int flags) = 0;
    virtual int FUTimeNs(int fd, const timespec times[2]) = 0;
    virtual int Access(const char* path, int mode) = 0;
    virtual ssize_t ReadLink(const char* path, char* buffer, size_t size) = 0;
    virtual int SymLink(const char* target, const char* path) = 0;
    virtual int ChMod(const char* path, mode_t mode) = 0;
    virtual int FChMod(int fd, mode_t mode) = 0;
    // flock: an advisory lock on the open file description.
    virtual int Flock(int fd, int operation) = 0;
};

// Forwards every call to `target`.
class PlatformWrapper : public Platform {
public:
    explicit PlatformWrapper(Platform& target) noexcept : target_(target) {}
    Platform& Target() const noexcept { return target_; }

    int Open(const char* path, int flags, mode_t mode) override { return target_.Open(path, flags, mode); }
    int OpenAt(int dirFd, const char* name, int flags, mode_t mode) override
    {
        return target_.OpenAt(dirFd, name, flags, mode);
    }
    int Close(int fd) override { return target_.Close(fd); }
    int Dup(int fd) override { return target_.Dup(fd); }
    ssize_t Read(int fd, void* buffer, size_t size) override { return target_.Read(fd, buffer, size); }
    ssize_t PRead(int fd, void* buffer, size_t size, off_t offset) override
    {
        return target_.PRead(fd, buffer, size, offset);
    }
    ssize_t Write(int fd, const void* data, size_t size) override { return target_.Write(fd, data, size); }
    ssize_t PWrite(int fd, const void* data, size_t size, off_t offset) override
    {
        return target_.PWrite(fd, data, size, offset);
    }
    int FSync(int fd) override { return target_.FSync(fd); }
    int Rename(const char* from, const char* to, unsigned flags) override { return target_.Rename(from, to, flags); }
    int Unlink(const char* path) override { return target_.Unlink(path); }
    int UnlinkAt(int dirFd, const char* name, int flags) override { return target_.UnlinkAt(dirFd, name, flags); }
    int MkDir(const char* path, mode_t mode) override { return target_.MkDir(path, mode); }
    int Stat(const char* path, struct stat* st) override { return target_.Stat(path, st); }
    int LStat(const char* path, struct stat* st) override { return target_.LStat(path, st); }
    int FStat(int fd, struct stat* st) override { return target_.FStat(fd, st); }
    int FStatAt(int dirFd, const char* name, struct stat* st, int flags) override
    {
        return target_.FStatAt(dirFd, name, st, flags);
    }
    DIR* OpenDir(const char* path) override { return target_.OpenDir(path); }
    DIR* FdOpenDir(int fd) override { return target_.FdOpenDir(fd); }
    dirent* ReadDir(DIR* dir) override { return target_.ReadDir(dir); }
    int CloseDir(DIR* dir) override { return target_.CloseDir(dir); }
    int UTimeNsAt(int dirFd, const char* path, const timespec times[2], int flags) override
    {
        return target_.UTimeNsAt(dirFd, path, times, flags);
    }
    int FUTimeNs(int fd, const timespec times[2]) override { return target_.FUTimeNs(fd, times); }
    int Access(const char* path, int mode) override { return target_.Access(path, mode); }
    ssize_t ReadLink(const char* path, char* buffer, size_t size) override
    {
        return target_.ReadLink(path, buffer, size);
    }
    int SymLink(const char* target, const char* path) override { return target_.SymLink(target, path); }
    int ChMod(const char* path, mode_t mode) override { return target_.ChMod(path, mode); }
    int FChMod(int fd, mode_t mode) override { return target_.FChMod(fd, mode); }
    int Flock(int fd, int operation) override { return target_.Flock(fd, operation); }

private:
    Platform& target_;
};

// The implementation that calls the operating system.
Platform& SystemPlatform() noexcept;

namespace Internal {
extern Platform* activePlatform;
}

// The platform every file system call of the foundation goes through.
inline Platform& Sys() noexcept
{
    return *Internal::activePlatform;
}

// True when the active platform is the system's own: its calls may then be
// made from several threads at once, and their order is no test's concern.
inline bool IsSystemPlatformActive() noexcept
{
    return Internal::activePlatform == &SystemPlatform();
}

// Makes `platform` the active one (null: the system's again) and returns the
// one that was active. The caller keeps ownership and must install the
// previous one again before destroying it.
Platform* SetPlatform(Platform* platform) noexcept;

}  // namespace IO
