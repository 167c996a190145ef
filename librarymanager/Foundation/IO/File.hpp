// Files.
//
// A File names a file at a location; Open gives access to its content, and an
// open file is both an input and an output channel whose default protocols
// are the binary ones in this machine's byte order. Reads and writes are
// buffered. A file served by a mounted FixedVFS can only be opened for
// reading; its content is read into memory when it is opened. At a mount
// point itself a File is the entry stored there (the container file), not
// the mounted folder.
#pragma once

#include "IO/Errors.hpp"
#include "IO/Folder.hpp"
#include "IO/Location.hpp"
#include "KR/Channel.hpp"

#include <memory>

namespace IO {

class Platform;

enum class OpenMode : std::int32_t {
    Read = 0,       // read from the start
    WriteNew = 1,   // the file's content is replaced by what is written (created when missing)
    ReadWrite = 2,  // read and write anywhere; the content is kept (created when missing)
};

class File : public KR::IChannel, public KR::OChannel {
public:
    File();  // refers to nothing: GetStatus gives ErrBadLocation
    // With OnNotFound::Create a missing file is created empty (its folder must
    // exist).
    explicit File(const Location& location, OnNotFound onNotFound = OnNotFound::Report);
    // The entry `name` of `folder`.
    File(const Folder& folder, const Name& name, OnNotFound onNotFound = OnNotFound::Report);
    ~File() override;  // closes the file

    // 0 when a file is at the location (or was created); ErrNotFound,
    // ErrNotAFile, ErrBadLocation, ErrNotLocal, ErrAccessDenied otherwise.
    KR::ErrorCode GetStatus() const;
    const Location& GetLocation() const noexcept { return location_; }

    KR::ErrorCode Open(OpenMode mode);
    // Writes what is buffered and closes; returns the first error of the
    // writes that were still buffered.
    KR::ErrorCode Close();
    bool IsOpen() const noexcept;

    // Channel operations; ErrNotOpen when the file is not open,
    // ErrWrongOpenMode for a write on a file opened for reading.
    KR::ErrorCode ReadBin(void* buffer, std::size_t size, std::size_t* read = nullptr) override;
    KR::ErrorCode WriteBin(const void* data, std::size_t size, std::size_t* written = nullptr) override;
    KR::ErrorCode Flush() override;

    // Any position from 0 on; a read beyond the end reaches the end of the
    // channel, a write there extends the file.
    KR::ErrorCode SetPosition(std::int64_t position);
    KR::ErrorCode GetPosition(std::int64_t* position) const;
    KR::ErrorCode GetSize(std::int64_t* size) const;

    // Modification time in foundation time (KR/Time.hpp), open or not.
    KR::ErrorCode GetModificationTime(std::int32_t* time) const;

    using KR::IChannel::SetProtocol;
    using KR::OChannel::SetProtocol;

    struct Impl;

protected:
    // For files made at a location chosen by a derived class.
    void Reset(const Location& location, OnNotFound onNotFound);

private:
    Location location_;
    std::unique_ptr<Impl> impl_;
};

// The first bytes of a file, read with plain system calls and no File object:
// for a walk that reads the start of each of many files (open, read, the
// size and time from one fstat, close). The values and error codes are those
// that File's Open, ReadBin, GetSize and GetModificationTime give for the
// same file. A file of a mounted file system is read through a File.
class FileHead {
public:
    // The calls go through `platform`: the active one, or one named for a
    // thread that must not follow a change of the active one.
    explicit FileHead(Platform& platform);
    FileHead();
    FileHead(const FileHead&) = delete;
    FileHead& operator=(const FileHead&) = delete;
    ~FileHead() { Close(); }

    // Opens the file at `location` and reads up to `capacity` bytes from its
    // start into `buffer`; when they did not reach its end, also its size.
    // With `wantTime`, or when the size was read, also its modification
    // time; a failure to read the time alone is in timeError, not the
    // result. The file stays open for ReadMore until Close (on an error it
    // is closed already).
    KR::ErrorCode Read(const Location& location, void* buffer, std::size_t capacity, bool wantTime);
    // The same for the file `name` of the real folder open as `folderFd`.
    KR::ErrorCode ReadAt(int folderFd, const char* name, void* buffer, std::size_t capacity, bool wantTime);
    // Reads `size` bytes at `offset` of the open file; ErrEndOfChannel when
    // fewer were left.
    KR::ErrorCode ReadMore(std::int64_t offset, void* buffer, std::size_t size, std::size_t* done);
    void Close() noexcept;

    bool opened = false;     // the file could be opened (the error came after)
    std::size_t got = 0;     // bytes read from the start
    std::int64_t size = 0;   // the file's size
    bool timeKnown = false;  // time or timeError was read
    std::int32_t time = 0;
    KR::ErrorCode timeError = KR::NoError;

private:
    KR::ErrorCode ReadOpen(int fd, void* buffer, std::size_t capacity, bool wantTime);

    Platform* platform_;
    int fd_ = -1;
    std::unique_ptr<File> file_;  // a file of a mounted file system
};

}  // namespace IO
