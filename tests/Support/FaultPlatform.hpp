// A file system platform that fails chosen system calls, for tests that show
// what an operation leaves behind when the disk is full, a flush or rename
// fails, a folder cannot be read half way or a file vanishes between two
// calls.
//
//   TestSupport::FaultPlatform faults;        // installed until destroyed
//   operation();                              // counts its calls
//   const auto calls = faults.Calls();
//   for (std::uint64_t n = 1; n <= calls; ++n) {
//       faults.FailNth(Call::Any, n, EIO);    // counts restart
//       operation();                          // its n-th call fails
//   }
//
// A failed close or closedir still releases the descriptor, as Linux does.
#pragma once

#include "IO/Platform.hpp"

#include <dirent.h>
#include <fcntl.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace TestSupport {

// Kinds of call; the *at, f* and l* variants count with their plain call.
enum class Call : int {
    Open, Close, Dup, Read, Write, FSync, Rename, Unlink, MkDir, Stat,
    OpenDir, ReadDir, CloseDir, UTimeNs, Access, ReadLink, SymLink, ChMod, Flock,
    Any  // every kind together
};

class FaultPlatform : public IO::PlatformWrapper {
public:
    FaultPlatform() : IO::PlatformWrapper(IO::SystemPlatform()) { previous_ = IO::SetPlatform(this); }
    ~FaultPlatform() override { IO::SetPlatform(previous_); }
    FaultPlatform(const FaultPlatform&) = delete;
    FaultPlatform& operator=(const FaultPlatform&) = delete;

    // Fails the n-th call (from 1) of `kind` from now on with `error`, once.
    // Counting starts again at 0.
    void FailNth(Call kind, std::uint64_t n, int error)
    {
        Clear();
        nthKind_ = kind;
        nth_ = n;
        nthError_ = error;
    }
    // Fails every call on `path` or on an entry below it, including calls
    // on descriptors and folder streams opened from there.
    void FailPath(const std::string& path, int error)
    {
        failPath_ = path;
        pathError_ = error;
    }
    // No faults; counting starts again at 0.
    void Clear()
    {
        counts_.fill(0);
        nth_ = 0;
        failPath_.clear();
        injected_ = 0;
    }
    std::uint64_t Calls(Call kind = Call::Any) const { return counts_[static_cast<int>(kind)]; }
    // How many calls were failed on purpose.
    std::uint64_t Injected() const { return injected_; }

    int Open(const char* path, int flags, mode_t mode) override
    {
        if (Fail(Call::Open, path))
            return -1;
        return Track(Target().Open(path, flags, mode), path);
    }
    int OpenAt(int dirFd, const char* name, int flags, mode_t mode) override
    {
        const std::string path = PathAt(dirFd, name);
        if (Fail(Call::Open, path))
            return -1;
        return Track(Target().OpenAt(dirFd, name, flags, mode), path);
    }
    int Close(int fd) override
    {
        const bool fail = Fail(Call::Close, PathOf(fd));
        const int error = errno;
        fdPaths_.erase(fd);
        const int result = Target().Close(fd);
        errno = fail ? error : errno;
        return fail ? -1 : result;
    }
    int Dup(int fd) override
    {
        const std::string path = PathOf(fd);
        return Fail(Call::Dup, path) ? -1 : Track(Target().Dup(fd), path);
    }
    ssize_t Read(int fd, void* buffer, size_t size) override
    {
        return Fail(Call::Read, PathOf(fd)) ? -1 : Target().Read(fd, buffer, size);
    }
    ssize_t PRead(int fd, void* buffer, size_t size, off_t offset) override
    {
        return Fail(Call::Read, PathOf(fd)) ? -1 : Target().PRead(fd, buffer, size, offset);
    }
    ssize_t Write(int fd, const void* data, size_t size) override
    {
        return Fail(Call::Write, PathOf(fd)) ? -1 : Target().Write(fd, data, size);
    }
    ssize_t PWrite(int fd, const void* data, size_t size, off_t offset) override
    {
        return Fail(Call::Write, PathOf(fd)) ? -1 : Target().PWrite(fd, data, size, offset);
    }
    int FSync(int fd) override { return Fail(Call::FSync, PathOf(fd)) ? -1 : Target().FSync(fd); }
    int Rename(const char* from, const char* to, unsigned flags) override
    {
        return Fail(Call::Rename, from, to) ? -1 : Target().Rename(from, to, flags);
    }
    int Unlink(const char* path) override { return Fail(Call::Unlink, path) ? -1 : Target().Unlink(path); }
    int UnlinkAt(int dirFd, const char* name, int flags) override
    {
        return Fail(Call::Unlink, PathAt(dirFd, name)) ? -1 : Target().UnlinkAt(dirFd, name, flags);
    }
    int MkDir(const char* path, mode_t mode) override { return Fail(Call::MkDir, path) ? -1 : Target().MkDir(path, mode); }
    int Stat(const char* path, struct stat* st) override { return Fail(Call::Stat, path) ? -1 : Target().Stat(path, st); }
    int LStat(const char* path, struct stat* st) override
    {
        return Fail(Call::Stat, path) ? -1 : Target().LStat(path, st);
    }
    int FStat(int fd, struct stat* st) override { return Fail(Call::Stat, PathOf(fd)) ? -1 : Target().FStat(fd, st); }
    int FStatAt(int dirFd, const char* name, struct stat* st, int flags) override
    {
        return Fail(Call::Stat, PathAt(dirFd, name)) ? -1 : Target().FStatAt(dirFd, name, st, flags);
    }
    DIR* OpenDir(const char* path) override
    {
        if (Fail(Call::OpenDir, path))
            return nullptr;
        DIR* dir = Target().OpenDir(path);
        if (dir != nullptr)
            dirPaths_[dir] = path;
        return dir;
    }
    DIR* FdOpenDir(int fd) override
    {
        const std::string path = PathOf(fd);
        if (Fail(Call::OpenDir, path))
            return nullptr;
        DIR* dir = Target().FdOpenDir(fd);
        if (dir != nullptr)
            dirPaths_[dir] = path;
        return dir;
    }
    dirent* ReadDir(DIR* dir) override { return Fail(Call::ReadDir, PathOf(dir)) ? nullptr : Target().ReadDir(dir); }
    int CloseDir(DIR* dir) override
    {
        const bool fail = Fail(Call::CloseDir, PathOf(dir));
        const int error = errno;
        fdPaths_.erase(::dirfd(dir));
        dirPaths_.erase(dir);
        const int result = Target().CloseDir(dir);
        errno = fail ? error : errno;
        return fail ? -1 : result;
    }
    int UTimeNsAt(int dirFd, const char* path, const timespec times[2], int flags) override
    {
        return Fail(Call::UTimeNs, PathAt(dirFd, path)) ? -1 : Target().UTimeNsAt(dirFd, path, times, flags);
    }
    int FUTimeNs(int fd, const timespec times[2]) override
    {
        return Fail(Call::UTimeNs, PathOf(fd)) ? -1 : Target().FUTimeNs(fd, times);
    }
    int Access(const char* path, int mode) override
    {
        return Fail(Call::Access, path) ? -1 : Target().Access(path, mode);
    }
    ssize_t ReadLink(const char* path, char* buffer, size_t size) override
    {
        return Fail(Call::ReadLink, path) ? -1 : Target().ReadLink(path, buffer, size);
    }
    int SymLink(const char* target, const char* path) override
    {
        return Fail(Call::SymLink, path) ? -1 : Target().SymLink(target, path);
    }
    int ChMod(const char* path, mode_t mode) override { return Fail(Call::ChMod, path) ? -1 : Target().ChMod(path, mode); }
    int FChMod(int fd, mode_t mode) override { return Fail(Call::ChMod, PathOf(fd)) ? -1 : Target().FChMod(fd, mode); }
    int Flock(int fd, int operation) override { return Fail(Call::Flock, PathOf(fd)) ? -1 : Target().Flock(fd, operation); }

private:
    // Counts the call; true (with errno set) when it is to fail.
    bool Fail(Call kind, const std::string& path, const std::string& otherPath = std::string())
    {
        const std::uint64_t ofKind = ++counts_[static_cast<int>(kind)];
        const std::uint64_t ofAll = ++counts_[static_cast<int>(Call::Any)];
        int error = 0;
        if (nth_ != 0 && (nthKind_ == Call::Any ? ofAll : nthKind_ == kind ? ofKind : 0) == nth_)
            error = nthError_;
        else if (!failPath_.empty() && (Below(path) || Below(otherPath)))
            error = pathError_;
        if (error == 0)
            return false;
        ++injected_;
        errno = error;
        return true;
    }
    bool Below(const std::string& path) const
    {
        return path.compare(0, failPath_.size(), failPath_) == 0 &&
               (path.size() == failPath_.size() || path[failPath_.size()] == '/');
    }
    int Track(int fd, const std::string& path)
    {
        if (fd >= 0)
            fdPaths_[fd] = path;
        return fd;
    }
    std::string PathOf(int fd) const
    {
        const auto it = fdPaths_.find(fd);
        return it != fdPaths_.end() ? it->second : std::string();
    }
    std::string PathOf(DIR* dir) const
    {
        const auto it = dirPaths_.find(dir);
        return it != dirPaths_.end() ? it->second : std::string();
    }
    std::string PathAt(int dirFd, const char* name) const
    {
        if (dirFd == AT_FDCWD || name[0] == '/')
            return name;
        return PathOf(dirFd) + "/" + name;
    }

    IO::Platform* previous_ = nullptr;
    std::array<std::uint64_t, static_cast<int>(Call::Any) + 1> counts_{};
    Call nthKind_ = Call::Any;
    std::uint64_t nth_ = 0;
    int nthError_ = 0;
    std::string failPath_;
    int pathError_ = 0;
    std::uint64_t injected_ = 0;
    std::map<int, std::string> fdPaths_;
    std::map<DIR*, std::string> dirPaths_;
};

// Runs `operation(0)` once without faults to count its system calls, then
// `operation(n)` once for each of them with the n-th call failing with
// `error`. Returns the number of calls counted.
template <class Operation>
std::uint64_t SweepFaults(FaultPlatform& faults, int error, Operation operation)
{
    faults.Clear();
    operation(std::uint64_t{0});
    const std::uint64_t calls = faults.Calls();
    for (std::uint64_t n = 1; n <= calls; ++n) {
        faults.FailNth(Call::Any, n, error);
        operation(n);
    }
    faults.Clear();
    return calls;
}

// The number of descriptors this process has open, from /proc/self/fd.
inline std::size_t OpenDescriptorCount()
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

}  // namespace TestSupport
