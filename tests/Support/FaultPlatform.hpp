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
#include <type_traits>

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

// A call of `kind` on `path`: counted, failed when asked, else passed on.
#define LM_FAULT_FORWARD(Ret, Name, kind, path, Params, ...) \
    Ret Name Params override { return Fail(Call::kind, path) ? Ret(-1) : Target().Name(__VA_ARGS__); }

    int Open(const char* path, int flags, mode_t mode) override
    {
        return Fail(Call::Open, path) ? -1 : Track(Target().Open(path, flags, mode), path);
    }
    int OpenAt(int dirFd, const char* name, int flags, mode_t mode) override
    {
        const std::string path = PathAt(dirFd, name);
        return Fail(Call::Open, path) ? -1 : Track(Target().OpenAt(dirFd, name, flags, mode), path);
    }
    int Close(int fd) override { return Release(Call::Close, PathOf(fd), fd, [&] { return Target().Close(fd); }); }
    int Dup(int fd) override { return Fail(Call::Dup, PathOf(fd)) ? -1 : Track(Target().Dup(fd), PathOf(fd)); }
    LM_FAULT_FORWARD(ssize_t, Read, Read, PathOf(fd), (int fd, void* b, size_t n), fd, b, n)
    LM_FAULT_FORWARD(ssize_t, PRead, Read, PathOf(fd), (int fd, void* b, size_t n, off_t at), fd, b, n, at)
    LM_FAULT_FORWARD(ssize_t, Write, Write, PathOf(fd), (int fd, const void* d, size_t n), fd, d, n)
    LM_FAULT_FORWARD(ssize_t, PWrite, Write, PathOf(fd), (int fd, const void* d, size_t n, off_t at), fd, d, n, at)
    LM_FAULT_FORWARD(int, FSync, FSync, PathOf(fd), (int fd), fd)
    int Rename(const char* from, const char* to, unsigned flags) override
    {
        return Fail(Call::Rename, from, to) ? -1 : Target().Rename(from, to, flags);
    }
    LM_FAULT_FORWARD(int, Unlink, Unlink, path, (const char* path), path)
    LM_FAULT_FORWARD(int, UnlinkAt, Unlink, PathAt(dirFd, name), (int dirFd, const char* name, int flags), dirFd, name,
                     flags)
    LM_FAULT_FORWARD(int, MkDir, MkDir, path, (const char* path, mode_t mode), path, mode)
    LM_FAULT_FORWARD(int, Stat, Stat, path, (const char* path, struct stat* st), path, st)
    LM_FAULT_FORWARD(int, LStat, Stat, path, (const char* path, struct stat* st), path, st)
    LM_FAULT_FORWARD(int, FStat, Stat, PathOf(fd), (int fd, struct stat* st), fd, st)
    LM_FAULT_FORWARD(int, FStatAt, Stat, PathAt(dirFd, name), (int dirFd, const char* name, struct stat* st, int flags),
                     dirFd, name, st, flags)
    DIR* OpenDir(const char* path) override
    {
        return Fail(Call::OpenDir, path) ? nullptr : Track(Target().OpenDir(path), path);
    }
    DIR* FdOpenDir(int fd) override
    {
        const std::string path = PathOf(fd);
        return Fail(Call::OpenDir, path) ? nullptr : Track(Target().FdOpenDir(fd), path);
    }
    dirent* ReadDir(DIR* dir) override { return Fail(Call::ReadDir, PathOf(dir)) ? nullptr : Target().ReadDir(dir); }
    int CloseDir(DIR* dir) override
    {
        fdPaths_.erase(::dirfd(dir));
        return Release(Call::CloseDir, PathOf(dir), dir, [&] { return Target().CloseDir(dir); });
    }
    LM_FAULT_FORWARD(int, UTimeNsAt, UTimeNs, PathAt(dirFd, path),
                     (int dirFd, const char* path, const timespec times[2], int flags), dirFd, path, times, flags)
    LM_FAULT_FORWARD(int, FUTimeNs, UTimeNs, PathOf(fd), (int fd, const timespec times[2]), fd, times)
    LM_FAULT_FORWARD(int, Access, Access, path, (const char* path, int mode), path, mode)
    LM_FAULT_FORWARD(ssize_t, ReadLink, ReadLink, path, (const char* path, char* b, size_t n), path, b, n)
    LM_FAULT_FORWARD(int, SymLink, SymLink, path, (const char* target, const char* path), target, path)
    LM_FAULT_FORWARD(int, ChMod, ChMod, path, (const char* path, mode_t mode), path, mode)
    LM_FAULT_FORWARD(int, FChMod, ChMod, PathOf(fd), (int fd, mode_t mode), fd, mode)
    LM_FAULT_FORWARD(int, Flock, Flock, PathOf(fd), (int fd, int operation), fd, operation)
#undef LM_FAULT_FORWARD

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
    template <class Handle>
    Handle Track(Handle handle, const std::string& path)
    {
        if constexpr (std::is_pointer_v<Handle>) {
            if (handle != nullptr)
                dirPaths_[handle] = path;
        } else if (handle >= 0) {
            fdPaths_[handle] = path;
        }
        return handle;
    }
    // Closes `handle` whether or not the call is to fail, as Linux does.
    template <class Handle, class CloseIt>
    int Release(Call kind, const std::string& path, Handle handle, CloseIt close)
    {
        const bool fail = Fail(kind, path);
        const int error = errno;
        if constexpr (std::is_pointer_v<Handle>)
            dirPaths_.erase(handle);
        else
            fdPaths_.erase(handle);
        const int result = close();
        errno = fail ? error : errno;
        return fail ? -1 : result;
    }
    template <class Key>
    static std::string Find(const std::map<Key, std::string>& paths, Key key)
    {
        const auto it = paths.find(key);
        return it != paths.end() ? it->second : std::string();
    }
    std::string PathOf(int fd) const { return Find(fdPaths_, fd); }
    std::string PathOf(DIR* dir) const { return Find(dirPaths_, dir); }
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
