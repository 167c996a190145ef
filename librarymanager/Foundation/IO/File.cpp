#include "IO/File.hpp"

#include "IO/FileSystem.hpp"
#include "IO/Internal.hpp"
#include "IO/Platform.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace IO {

namespace {

using Internal::ErrorFromErrno;

constexpr std::size_t BufferCapacity = 64u * 1024u;
// Reads of at least this many bytes that the buffer cannot serve go straight
// into the caller's memory: one system call, no copy, and no read-ahead that
// a caller reading whole blocks would not use.
constexpr std::size_t DirectReadThreshold = 4096;
// What Open reads at once from a file opened for reading.
constexpr std::size_t FirstBlockSize = 4096;

// Reads up to `size` bytes at `offset`; fewer only at the end of the file.
KR::ErrorCode ReadAt(Platform& platform, int fd, char* buffer, std::size_t size, std::int64_t offset,
                     std::size_t* done)
{
    *done = 0;
    while (*done < size) {
        const std::size_t want = size - *done;
        const ssize_t n = platform.PRead(fd, buffer + *done, want, static_cast<off_t>(offset) + *done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return ErrorFromErrno(errno);
        }
        *done += static_cast<std::size_t>(n);
        // A regular file gives fewer bytes than asked only at its end, so a
        // short read needs no further call to confirm it.
        if (static_cast<std::size_t>(n) < want)
            break;
    }
    return KR::NoError;
}

KR::ErrorCode ReadAt(int fd, char* buffer, std::size_t size, std::int64_t offset, std::size_t* done)
{
    return ReadAt(Sys(), fd, buffer, size, offset, done);
}

KR::ErrorCode WriteAt(int fd, const char* data, std::size_t size, std::int64_t offset, std::size_t* done)
{
    *done = 0;
    while (*done < size) {
        const ssize_t n = Sys().PWrite(fd, data + *done, size - *done, static_cast<off_t>(offset) + *done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return ErrorFromErrno(errno);
        }
        *done += static_cast<std::size_t>(n);
    }
    return KR::NoError;
}

}  // namespace

struct File::Impl {
    // Status of the location. Determined when first asked for (or at Open),
    // so that making a File and opening it costs no extra system call.
    mutable KR::ErrorCode status = KR::NoError;
    mutable bool statusKnown = false;

    bool open = false;
    OpenMode mode = OpenMode::Read;
    int fd = -1;
    std::int64_t position = 0;

    // A file of a mounted file system: its whole content.
    bool mounted = false;
    std::string content;

    // Size and time of a file opened for reading, taken from the file when
    // first asked for (or from the mounted file system at Open); they answer
    // GetSize and GetModificationTime while it stays open. The size is also
    // known without asking when the first read reached the end of the file.
    mutable bool openInfoValid = false;
    mutable bool openSizeValid = false;
    mutable std::int64_t openSize = 0;
    mutable std::int32_t openTime = 0;

    // Fills openSize and openTime from the open descriptor.
    KR::ErrorCode LoadOpenInfo() const
    {
        struct stat st {};
        if (Sys().FStat(fd, &st) != 0)
            return ErrorFromErrno(errno);
        openInfoValid = true;
        openSizeValid = true;
        openSize = st.st_size;
        openTime = Internal::FoundationTime(st.st_mtim.tv_sec);
        return KR::NoError;
    }

    // One buffer that holds either bytes read ahead or bytes not yet written.
    enum class Buffered : std::uint8_t { Nothing, ReadAhead, PendingWrite };
    std::unique_ptr<char[]> buffer;
    Buffered buffered = Buffered::Nothing;
    std::int64_t bufferOffset = 0;  // file offset of buffer[0]
    std::size_t bufferLength = 0;
    std::size_t firstBlockLength = 0;
    KR::ErrorCode writeError = KR::NoError;  // first failed write, reported again by Close

    // Files are opened and closed one after the other by the thousand (a
    // library walk opens every part file): the buffer of a closed file is
    // kept for the next one of the same thread instead of going back to the
    // heap, which spares an allocation per file and the page faults of
    // memory the heap gave back in between.
    static std::unique_ptr<char[]>& SpareBuffer() noexcept
    {
        thread_local std::unique_ptr<char[]> spare;
        return spare;
    }

    bool EnsureBuffer()
    {
        if (!buffer)
            buffer = std::move(SpareBuffer());
        if (!buffer)
            buffer.reset(new (std::nothrow) char[BufferCapacity]);
        return static_cast<bool>(buffer);
    }

    void ReleaseBuffer() noexcept
    {
        std::unique_ptr<char[]>& spare = SpareBuffer();
        if (buffer && !spare)
            spare = std::move(buffer);
        buffer.reset();
    }

    KR::ErrorCode FlushWrites()
    {
        if (buffered != Buffered::PendingWrite)
            return KR::NoError;
        std::size_t done = 0;
        const KR::ErrorCode err = WriteAt(fd, buffer.get(), bufferLength, bufferOffset, &done);
        buffered = Buffered::Nothing;
        bufferLength = 0;
        if (err != KR::NoError && writeError == KR::NoError)
            writeError = err;
        return err;
    }
};

File::File()
{
    Reset(Location(), OnNotFound::Report);
}

File::File(const Location& location, OnNotFound onNotFound)
{
    Reset(location, onNotFound);
}

File::File(const Folder& folder, const Name& name, OnNotFound onNotFound)
{
    Reset(Location(folder.GetLocation(), name), onNotFound);
}

File::~File()
{
    if (IsOpen())
        Close();
}

namespace {

// What is at `location`, seen as a file that is not open: its size and
// modification time (either may be null), from the mounted file system that
// holds it or else from the disk. ErrNotAFile for a folder.
KR::ErrorCode LookUpFile(const Location& location, std::int64_t* size, std::int32_t* time)
{
    const KR::ErrorCode err = Internal::CheckLocal(location);
    if (err != KR::NoError)
        return err;
    const std::string& path = location.GetText();
    RelativeLocation inside;
    if (const FixedVFS* vfs = Internal::FindEntryMount(path, &inside)) {
        FixedVFS::EntryInfo info;
        const KR::ErrorCode infoErr = Internal::GetMountedFileInfo(*vfs, inside, &info);
        if (infoErr != KR::NoError)
            return infoErr;
        if (size != nullptr)
            *size = static_cast<std::int64_t>(info.size);
        if (time != nullptr)
            *time = info.modificationTime;
        return KR::NoError;
    }
    struct stat st {};
    if (Sys().Stat(path.c_str(), &st) != 0)
        return ErrorFromErrno(errno);
    if (S_ISDIR(st.st_mode))
        return ErrNotAFile;
    if (size != nullptr)
        *size = st.st_size;
    if (time != nullptr)
        *time = Internal::FoundationTime(st.st_mtim.tv_sec);
    return KR::NoError;
}

}  // namespace

void File::Reset(const Location& location, OnNotFound onNotFound)
{
    if (IsOpen())
        Close();
    location_ = location;
    impl_ = std::make_unique<Impl>();
    const KR::ErrorCode err = Internal::CheckLocal(location_);
    if (err != KR::NoError || onNotFound == OnNotFound::Report) {
        impl_->status = err;
        impl_->statusKnown = err != KR::NoError;
        return;
    }
    impl_->statusKnown = true;
    impl_->status = LookUpFile(location_, nullptr, nullptr);
    if (impl_->status != ErrNotFound)
        return;
    if (Internal::FindEntryMount(location_.GetText(), nullptr) != nullptr) {
        impl_->status = ErrReadOnly;
        return;
    }
    const int fd = Sys().Open(location_.GetText().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        Sys().Close(fd);
        impl_->status = KR::NoError;
    } else {
        impl_->status = errno == EEXIST ? LookUpFile(location_, nullptr, nullptr) : ErrorFromErrno(errno);
    }
}

KR::ErrorCode File::GetStatus() const
{
    if (!impl_->statusKnown) {
        impl_->status = LookUpFile(location_, nullptr, nullptr);
        impl_->statusKnown = true;
    }
    return impl_->status;
}

bool File::IsOpen() const noexcept
{
    return impl_ && impl_->open;
}

KR::ErrorCode File::Open(OpenMode mode)
{
    Impl& impl = *impl_;
    if (impl.open)
        return ErrAlreadyOpen;
    if (mode != OpenMode::Read && mode != OpenMode::WriteNew && mode != OpenMode::ReadWrite)
        return KR::ErrIllegalArgument;
    KR::ErrorCode err = Internal::CheckLocal(location_);
    if (err != KR::NoError)
        return err;

    const std::string& path = location_.GetText();
    RelativeLocation inside;
    if (const FixedVFS* vfs = Internal::FindEntryMount(path, &inside)) {
        FixedVFS::EntryInfo info;
        err = Internal::GetMountedFileInfo(*vfs, inside, &info);
        impl.status = err;
        impl.statusKnown = true;
        if (err != KR::NoError)
            return err;
        if (mode != OpenMode::Read)
            return ErrReadOnly;
        if (info.size > Internal::MaxInMemoryFileSize)
            return ErrTooLarge;
        std::string content;
        err = vfs->ReadFile(inside, &content, Internal::MaxInMemoryFileSize);
        if (err != KR::NoError)
            return err;
        impl.content = std::move(content);
        impl.mounted = true;
        impl.openInfoValid = true;
        impl.openSizeValid = true;
        impl.openSize = static_cast<std::int64_t>(impl.content.size());
        impl.openTime = info.modificationTime;
    } else {
        int flags = O_CLOEXEC;
        switch (mode) {
        case OpenMode::Read:
            flags |= O_RDONLY;
            break;
        case OpenMode::WriteNew:
            flags |= O_WRONLY | O_CREAT | O_TRUNC;
            break;
        case OpenMode::ReadWrite:
            flags |= O_RDWR | O_CREAT;
            break;
        }
        // A file of the folder a walk is reading is opened by its name
        // alone, relative to the walk's open folder.
        const char* name = nullptr;
        const int folderFd = mode == OpenMode::Read ? Internal::WalkedFolderOf(path, &name) : -1;
        const int fd = folderFd >= 0 ? Sys().OpenAt(folderFd, name, flags, 0666) : Sys().Open(path.c_str(), flags, 0666);
        if (fd < 0) {
            err = ErrorFromErrno(errno);
            if (err == ErrNotFound || err == ErrNotAFile || err == ErrNotAFolder) {
                impl.status = err;
                impl.statusKnown = true;
            }
            return err;
        }
        impl.fd = fd;
        impl.openInfoValid = false;
        impl.openSizeValid = false;
        if (mode == OpenMode::Read) {
            // A folder can be opened for reading as well. Reading the first
            // block now tells a folder apart (its read fails) and serves the
            // first reads, so no call is spent asking what the entry is.
            if (!impl.EnsureBuffer()) {
                Sys().Close(fd);
                impl.fd = -1;
                return KR::ErrMemFull;
            }
            std::size_t done = 0;
            err = ReadAt(fd, impl.buffer.get(), FirstBlockSize, 0, &done);
            if (err != KR::NoError) {
                Sys().Close(fd);
                impl.fd = -1;
                if (err == ErrNotAFile) {
                    impl.status = err;
                    impl.statusKnown = true;
                }
                return err;
            }
            impl.firstBlockLength = done;
            if (done < FirstBlockSize) {
                impl.openSizeValid = true;
                impl.openSize = static_cast<std::int64_t>(done);
            }
        }
    }
    impl.status = KR::NoError;
    impl.statusKnown = true;
    impl.open = true;
    impl.mode = mode;
    impl.position = 0;
    impl.buffered = Impl::Buffered::Nothing;
    impl.bufferLength = 0;
    if (!impl.mounted && mode == OpenMode::Read) {
        impl.buffered = Impl::Buffered::ReadAhead;
        impl.bufferOffset = 0;
        impl.bufferLength = impl.firstBlockLength;
    }
    impl.writeError = KR::NoError;
    return KR::NoError;
}

KR::ErrorCode File::Close()
{
    Impl& impl = *impl_;
    if (!impl.open)
        return ErrNotOpen;
    impl.FlushWrites();
    KR::ErrorCode err = impl.writeError;
    if (impl.fd >= 0 && Sys().Close(impl.fd) != 0 && err == KR::NoError)
        err = ErrorFromErrno(errno);
    impl.fd = -1;
    impl.open = false;
    impl.mounted = false;
    impl.openInfoValid = false;
    impl.openSizeValid = false;
    std::string().swap(impl.content);
    impl.ReleaseBuffer();
    impl.buffered = Impl::Buffered::Nothing;
    impl.bufferLength = 0;
    impl.writeError = KR::NoError;
    return err;
}

KR::ErrorCode File::ReadBin(void* buffer, std::size_t size, std::size_t* read)
{
    if (read != nullptr)
        *read = 0;
    Impl& impl = *impl_;
    if (!impl.open)
        return ErrNotOpen;
    if (impl.mode == OpenMode::WriteNew)
        return ErrWrongOpenMode;
    if (size == 0)
        return KR::NoError;
    if (buffer == nullptr)
        return KR::ErrIllegalArgument;
    char* out = static_cast<char*>(buffer);
    std::size_t copied = 0;

    if (impl.mounted) {
        const auto available = static_cast<std::int64_t>(impl.content.size()) - impl.position;
        copied = available > 0 ? std::min(size, static_cast<std::size_t>(available)) : 0;
        if (copied > 0)
            std::memcpy(out, impl.content.data() + impl.position, copied);
    } else {
        KR::ErrorCode err = impl.FlushWrites();
        if (err != KR::NoError)
            return err;
        if (impl.buffered == Impl::Buffered::ReadAhead && impl.position >= impl.bufferOffset &&
            impl.position < impl.bufferOffset + static_cast<std::int64_t>(impl.bufferLength)) {
            const auto skip = static_cast<std::size_t>(impl.position - impl.bufferOffset);
            copied = std::min(size, impl.bufferLength - skip);
            std::memcpy(out, impl.buffer.get() + skip, copied);
        }
        std::size_t remaining = size - copied;
        const std::int64_t offset = impl.position + static_cast<std::int64_t>(copied);
        // Past the end of a file whose size is known nothing is left to read.
        if (impl.mode == OpenMode::Read && impl.openSizeValid && offset >= impl.openSize)
            remaining = 0;
        if (remaining >= DirectReadThreshold) {
            std::size_t done = 0;
            err = ReadAt(impl.fd, out + copied, remaining, offset, &done);
            copied += done;
        } else if (remaining > 0) {
            if (!impl.EnsureBuffer())
                return KR::ErrMemFull;
            std::size_t done = 0;
            impl.buffered = Impl::Buffered::Nothing;
            err = ReadAt(impl.fd, impl.buffer.get(), BufferCapacity, offset, &done);
            if (err == KR::NoError) {
                impl.buffered = Impl::Buffered::ReadAhead;
                impl.bufferOffset = offset;
                impl.bufferLength = done;
                const std::size_t take = std::min(remaining, done);
                std::memcpy(out + copied, impl.buffer.get(), take);
                copied += take;
            }
        }
        if (err != KR::NoError) {
            impl.position += static_cast<std::int64_t>(copied);
            if (read != nullptr)
                *read = copied;
            return err;
        }
    }
    impl.position += static_cast<std::int64_t>(copied);
    if (read != nullptr)
        *read = copied;
    return copied < size ? KR::ErrEndOfChannel : KR::NoError;
}

KR::ErrorCode File::WriteBin(const void* data, std::size_t size, std::size_t* written)
{
    if (written != nullptr)
        *written = 0;
    Impl& impl = *impl_;
    if (!impl.open)
        return ErrNotOpen;
    if (impl.mode == OpenMode::Read)
        return ErrWrongOpenMode;
    if (size == 0)
        return KR::NoError;
    if (data == nullptr)
        return KR::ErrIllegalArgument;
    const char* in = static_cast<const char*>(data);

    // Bytes read ahead may be overwritten now; they are read again if needed.
    if (impl.buffered == Impl::Buffered::ReadAhead) {
        impl.buffered = Impl::Buffered::Nothing;
        impl.bufferLength = 0;
    }
    // Pending bytes are one contiguous run; a write elsewhere sends them first.
    if (impl.buffered == Impl::Buffered::PendingWrite &&
        (impl.position != impl.bufferOffset + static_cast<std::int64_t>(impl.bufferLength) ||
         impl.bufferLength + size > BufferCapacity)) {
        const KR::ErrorCode err = impl.FlushWrites();
        if (err != KR::NoError)
            return err;
    }
    if (impl.buffered == Impl::Buffered::Nothing && size >= BufferCapacity) {
        std::size_t done = 0;
        const KR::ErrorCode err = WriteAt(impl.fd, in, size, impl.position, &done);
        impl.position += static_cast<std::int64_t>(done);
        if (written != nullptr)
            *written = done;
        return err;
    }
    if (impl.buffered == Impl::Buffered::Nothing) {
        if (!impl.EnsureBuffer())
            return KR::ErrMemFull;
        impl.buffered = Impl::Buffered::PendingWrite;
        impl.bufferOffset = impl.position;
        impl.bufferLength = 0;
    }
    std::memcpy(impl.buffer.get() + impl.bufferLength, in, size);
    impl.bufferLength += size;
    impl.position += static_cast<std::int64_t>(size);
    if (written != nullptr)
        *written = size;
    return KR::NoError;
}

KR::ErrorCode File::Flush()
{
    Impl& impl = *impl_;
    if (!impl.open)
        return ErrNotOpen;
    return impl.FlushWrites();
}

KR::ErrorCode File::SetPosition(std::int64_t position)
{
    Impl& impl = *impl_;
    if (!impl.open)
        return ErrNotOpen;
    if (position < 0)
        return KR::ErrIllegalArgument;
    impl.position = position;
    return KR::NoError;
}

KR::ErrorCode File::GetPosition(std::int64_t* position) const
{
    if (position == nullptr)
        return KR::ErrIllegalArgument;
    if (!impl_->open)
        return ErrNotOpen;
    *position = impl_->position;
    return KR::NoError;
}

KR::ErrorCode File::GetSize(std::int64_t* size) const
{
    if (size == nullptr)
        return KR::ErrIllegalArgument;
    const Impl& impl = *impl_;
    if (impl.open) {
        if (impl.mode == OpenMode::Read) {
            if (!impl.openSizeValid) {
                const KR::ErrorCode err = impl.LoadOpenInfo();
                if (err != KR::NoError)
                    return err;
            }
            *size = impl.openSize;
            return KR::NoError;
        }
        struct stat st {};
        if (Sys().FStat(impl.fd, &st) != 0)
            return ErrorFromErrno(errno);
        std::int64_t result = st.st_size;
        if (impl.buffered == Impl::Buffered::PendingWrite)
            result = std::max(result, impl.bufferOffset + static_cast<std::int64_t>(impl.bufferLength));
        *size = result;
        return KR::NoError;
    }
    return LookUpFile(location_, size, nullptr);
}

KR::ErrorCode File::GetModificationTime(std::int32_t* time) const
{
    if (time == nullptr)
        return KR::ErrIllegalArgument;
    const Impl& impl = *impl_;
    if (impl.open && impl.mode == OpenMode::Read) {
        if (!impl.openInfoValid) {
            const KR::ErrorCode err = impl.LoadOpenInfo();
            if (err != KR::NoError)
                return err;
        }
        *time = impl.openTime;
        return KR::NoError;
    }
    return LookUpFile(location_, nullptr, time);
}

// ---------------------------------------------------------------------------
// FileHead

FileHead::FileHead(Platform& platform) : platform_(&platform) {}

FileHead::FileHead() : platform_(&Sys()) {}

KR::ErrorCode FileHead::Read(const Location& location, void* buffer, std::size_t capacity, bool wantTime)
{
    Close();
    opened = false;
    KR::ErrorCode err = Internal::CheckLocal(location);
    if (err != KR::NoError)
        return err;
    const std::string& path = location.GetText();
    RelativeLocation inside;
    if (Internal::FindEntryMount(path, &inside) != nullptr) {
        // A mounted file system answers through a File, as it always did.
        file_ = std::make_unique<File>(location);
        err = file_->Open(OpenMode::Read);
        opened = err == KR::NoError;
        got = 0;
        timeKnown = false;
        timeError = KR::NoError;
        if (err == KR::NoError) {
            err = file_->ReadBin(buffer, capacity, &got);
            if (err == KR::ErrEndOfChannel) {
                size = static_cast<std::int64_t>(got);
                err = KR::NoError;
            } else if (err == KR::NoError) {
                err = file_->GetSize(&size);
            }
        }
        if (err == KR::NoError && (wantTime || got == capacity)) {
            timeError = file_->GetModificationTime(&time);
            timeKnown = true;
        }
        if (err != KR::NoError)
            Close();
        return err;
    }
    // A file of the folder a walk is reading is opened by its name alone,
    // relative to the walk's open folder.
    const char* name = nullptr;
    const int folderFd = Internal::WalkedFolderOf(path, &name);
    const int fd = folderFd >= 0 ? platform_->OpenAt(folderFd, name, O_RDONLY | O_CLOEXEC, 0666)
                                 : platform_->Open(path.c_str(), O_RDONLY | O_CLOEXEC, 0666);
    if (fd < 0)
        return ErrorFromErrno(errno);
    return ReadOpen(fd, buffer, capacity, wantTime);
}

KR::ErrorCode FileHead::ReadAt(int folderFd, const char* name, void* buffer, std::size_t capacity, bool wantTime)
{
    Close();
    opened = false;
    const int fd = platform_->OpenAt(folderFd, name, O_RDONLY | O_CLOEXEC, 0666);
    if (fd < 0)
        return ErrorFromErrno(errno);
    return ReadOpen(fd, buffer, capacity, wantTime);
}

KR::ErrorCode FileHead::ReadOpen(int fd, void* buffer, std::size_t capacity, bool wantTime)
{
    fd_ = fd;
    opened = true;
    got = 0;
    timeKnown = false;
    timeError = KR::NoError;
    // A folder opens for reading too; its read fails, as File::Open's does.
    KR::ErrorCode err = IO::ReadAt(*platform_, fd, static_cast<char*>(buffer), capacity, 0, &got);
    if (err != KR::NoError) {
        Close();
        return err;
    }
    if (got < capacity && !wantTime) {
        size = static_cast<std::int64_t>(got);
        return KR::NoError;
    }
    struct stat st {};
    if (platform_->FStat(fd, &st) != 0) {
        err = ErrorFromErrno(errno);
        if (got == capacity) {
            Close();
            return err;  // the size is needed: as GetSize's failure
        }
        size = static_cast<std::int64_t>(got);
        timeError = err;
        timeKnown = true;
        return KR::NoError;
    }
    // A short first read reached the end: that is the size File gives.
    size = got < capacity ? static_cast<std::int64_t>(got) : static_cast<std::int64_t>(st.st_size);
    time = Internal::FoundationTime(st.st_mtim.tv_sec);
    timeKnown = true;
    return KR::NoError;
}

KR::ErrorCode FileHead::ReadMore(std::int64_t offset, void* buffer, std::size_t size, std::size_t* done)
{
    *done = 0;
    if (file_ != nullptr) {
        KR::ErrorCode err = file_->SetPosition(offset);
        return err != KR::NoError ? err : file_->ReadBin(buffer, size, done);
    }
    if (fd_ < 0)
        return ErrNotOpen;
    const KR::ErrorCode err = IO::ReadAt(*platform_, fd_, static_cast<char*>(buffer), size, offset, done);
    if (err != KR::NoError)
        return err;
    return *done < size ? KR::ErrEndOfChannel : KR::NoError;
}

void FileHead::Close() noexcept
{
    if (fd_ >= 0)
        platform_->Close(fd_);
    fd_ = -1;
    file_.reset();
}

}  // namespace IO
