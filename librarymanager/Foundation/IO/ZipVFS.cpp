#include "IO/ZipVFS.hpp"

#include "IO/Errors.hpp"
#include "IO/Internal.hpp"
#include "IO/Platform.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cstring>
#include <cerrno>
#include <ctime>
#include <functional>
#include <map>
#include <new>
#include <string_view>
#include <utility>

namespace IO {

namespace {

// Extra field of the "extended timestamp": a flags byte, then (flag bit 0)
// the modification time as a signed 32-bit Unix time, little endian.
constexpr zip_uint16_t ExtendedTimestampId = 0x5455;

// Decompressed bytes are collected in pieces of this size, so that a size
// claimed by a damaged directory does not make one huge allocation up front.
constexpr std::size_t ReadPiece = 1u << 20;

KR::ErrorCode ErrorFromZip(int zipError, int systemError) noexcept
{
    switch (zipError) {
    case ZIP_ER_MEMORY:
        return KR::ErrMemFull;
    case ZIP_ER_NOENT:
        return ErrNotFound;
    case ZIP_ER_OPEN:
        return systemError != 0 ? Internal::ErrorFromErrno(systemError) : ErrSystem;
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
        // A failed system call is the disk's fault, not the archive's.
        return systemError != 0 ? Internal::ErrorFromErrno(systemError) : ErrDamagedArchive;
    case ZIP_ER_COMPNOTSUPP:
    case ZIP_ER_ENCRNOTSUPP:
    case ZIP_ER_NOPASSWD:
    case ZIP_ER_WRONGPASSWD:
        // The archive is fine; this reader cannot decode the entry.
        return ErrNotSupported;
    default:
        return ErrDamagedArchive;
    }
}

std::uint64_t Little(const unsigned char* p, int bytes) noexcept
{
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | p[i];
    return value;
}

// Reads `size` bytes at `offset` of the archive; false when they are not there.
using ByteSource = std::function<bool(std::uint64_t offset, std::size_t size, unsigned char* out)>;

// What the raw central directory tells of one entry, beyond what libzip
// gives: whether its stored name contains a zero byte (libzip turns such
// bytes into spaces), and its DOS date and time fields as stored (libzip
// gives them only as a time computed through the local time zone).
struct RawEntry {
    bool zeroInName = false;
    std::uint16_t dosTime = 0;
    std::uint16_t dosDate = 0;
};

// Reads the central directory. Gives an empty result when the directory
// cannot be found or walked; the archive is then taken as libzip reads it.
std::vector<RawEntry> ReadCentralDirectory(const ByteSource& read, std::uint64_t fileSize, std::uint64_t entryCount)
{
    constexpr std::size_t EndRecordSize = 22;
    constexpr std::size_t MaxComment = 65535;
    if (fileSize < EndRecordSize)
        return {};
    const auto tailSize = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, EndRecordSize + MaxComment));
    const std::uint64_t tailStart = fileSize - tailSize;
    std::vector<unsigned char> tail(tailSize);
    if (!read(tailStart, tailSize, tail.data()))
        return {};
    std::size_t end = tailSize - EndRecordSize + 1;
    while (end-- > 0)
        if (Little(&tail[end], 4) == 0x06054B50u)
            break;
    if (end == static_cast<std::size_t>(-1))
        return {};
    std::uint64_t directorySize = Little(&tail[end + 12], 4);
    std::uint64_t directoryOffset = Little(&tail[end + 16], 4);
    // Where the directory ends: at the end record, or at the zip64 end record.
    std::uint64_t directoryEnd = tailStart + end;
    if (directorySize == 0xFFFFFFFFu || directoryOffset == 0xFFFFFFFFu || Little(&tail[end + 10], 2) == 0xFFFFu) {
        // Zip64: the locator just before the end record gives the zip64 end record.
        const std::uint64_t endOffset = tailStart + end;
        unsigned char locator[20];
        unsigned char record[56];
        if (endOffset < sizeof locator || !read(endOffset - sizeof locator, sizeof locator, locator) ||
            Little(locator, 4) != 0x07064B50u)
            return {};
        const std::uint64_t recordOffset = Little(locator + 8, 8);
        if (recordOffset > fileSize || fileSize - recordOffset < sizeof record ||
            !read(recordOffset, sizeof record, record) || Little(record, 4) != 0x06064B50u)
            return {};
        directorySize = Little(record + 40, 8);
        directoryOffset = Little(record + 48, 8);
        directoryEnd = recordOffset;
    }
    // Offsets in an archive with something prepended (a self-extractor) may
    // count from the archive's own start: the directory then lies just
    // before its end record instead.
    auto startsDirectory = [&](std::uint64_t offset) {
        unsigned char signature[4];
        return offset <= fileSize && directorySize <= fileSize - offset &&
               (directorySize == 0 || (read(offset, 4, signature) && Little(signature, 4) == 0x02014B50u));
    };
    if (!startsDirectory(directoryOffset)) {
        if (directorySize > directoryEnd || !startsDirectory(directoryEnd - directorySize))
            return {};
        directoryOffset = directoryEnd - directorySize;
    }
    std::vector<unsigned char> directory(static_cast<std::size_t>(directorySize));
    if (directorySize > 0 && !read(directoryOffset, directory.size(), directory.data()))
        return {};

    constexpr std::size_t HeaderSize = 46;
    std::vector<RawEntry> entries;
    std::size_t pos = 0;
    while (entries.size() < entryCount) {
        if (directory.size() - pos < HeaderSize || Little(&directory[pos], 4) != 0x02014B50u)
            return {};
        const auto nameLength = static_cast<std::size_t>(Little(&directory[pos + 28], 2));
        const auto rest = static_cast<std::size_t>(Little(&directory[pos + 30], 2) + Little(&directory[pos + 32], 2));
        if (directory.size() - pos - HeaderSize < nameLength + rest)
            return {};
        const unsigned char* name = &directory[pos + HeaderSize];
        RawEntry entry;
        entry.zeroInName = std::find(name, name + nameLength, 0) != name + nameLength;
        entry.dosTime = static_cast<std::uint16_t>(Little(&directory[pos + 12], 2));
        entry.dosDate = static_cast<std::uint16_t>(Little(&directory[pos + 14], 2));
        entries.push_back(entry);
        pos += HeaderSize + nameLength + rest;
    }
    return entries;
}

// Unix time of DOS date and time fields, taken as UTC, so that an entry
// reads the same in every time zone. Fields out of their ranges carry over
// as the calendar arithmetic gives them (month 0 is December before).
std::int64_t DosFieldsAsUtc(std::uint16_t date, std::uint16_t time) noexcept
{
    std::tm fields{};
    fields.tm_year = 80 + (date >> 9);
    fields.tm_mon = ((date >> 5) & 0x0F) - 1;
    fields.tm_mday = date & 0x1F;
    fields.tm_hour = time >> 11;
    fields.tm_min = (time >> 5) & 0x3F;
    fields.tm_sec = (time & 0x1F) * 2;
    return static_cast<std::int64_t>(::timegm(&fields));
}

// Whether an entry is a symbolic link: made on a Unix system with the file
// type of a link in the upper half of its external attributes.
bool IsSymbolicLink(zip_t* archive, zip_uint64_t index) noexcept
{
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive, index, 0, &system, &attributes) != 0)
        return false;
    return system == ZIP_OPSYS_UNIX && ((attributes >> 16) & S_IFMT) == S_IFLNK;
}

// The archive's bytes for libzip, read through the platform: libzip opens
// the source when the archive is opened and closes it when the archive is
// discarded, so the file system mounted from a zip file keeps one
// descriptor. Every read is a pread at the source's own offset.
class PlatformSource {
public:
    PlatformSource(std::string path, std::uint64_t size) : path_(std::move(path)), size_(size)
    {
        zip_error_init(&error_);
    }
    PlatformSource(const PlatformSource&) = delete;
    PlatformSource& operator=(const PlatformSource&) = delete;
    ~PlatformSource()
    {
        if (fd_ >= 0)
            Sys().Close(fd_);
        zip_error_fini(&error_);
    }

    // The errno of the last failed system call since the previous question,
    // or 0. libzip reports some failed reads of an entry only as a short
    // archive; this tells a failing disk from a damaged archive.
    int TakeSystemError() noexcept { return std::exchange(systemError_, 0); }

    static zip_int64_t Callback(void* self, void* data, zip_uint64_t length, zip_source_cmd_t command)
    {
        return static_cast<PlatformSource*>(self)->Run(data, length, command);
    }

private:
    zip_int64_t Fail(int zipError, int systemError)
    {
        if (systemError != 0)
            systemError_ = systemError;
        zip_error_set(&error_, zipError, systemError);
        return -1;
    }

    zip_int64_t Run(void* data, zip_uint64_t length, zip_source_cmd_t command)
    {
        switch (command) {
        case ZIP_SOURCE_OPEN: {
            if (fd_ >= 0)
                return 0;  // already open: libzip counts its users
            fd_ = Sys().Open(path_.c_str(), O_RDONLY | O_CLOEXEC, 0);
            if (fd_ < 0)
                return Fail(ZIP_ER_OPEN, errno);
            // The file must still be the one examined when the archive was
            // opened; one that changed in between is read as damaged.
            struct stat st {};
            if (Sys().FStat(fd_, &st) != 0)
                return Fail(ZIP_ER_READ, errno);
            if (!S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) != size_)
                return Fail(ZIP_ER_CHANGED, 0);
            offset_ = 0;
            return 0;
        }
        case ZIP_SOURCE_READ: {
            if (offset_ >= size_)
                return 0;
            const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - offset_));
            for (;;) {
                const ssize_t n = Sys().PRead(fd_, data, wanted, static_cast<off_t>(offset_));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0)
                    return Fail(ZIP_ER_READ, errno);
                offset_ += static_cast<std::uint64_t>(n);
                return n;
            }
        }
        case ZIP_SOURCE_SEEK: {
            const zip_int64_t to = zip_source_seek_compute_offset(offset_, size_, data, length, &error_);
            if (to < 0)
                return -1;
            offset_ = static_cast<std::uint64_t>(to);
            return 0;
        }
        case ZIP_SOURCE_TELL:
            return static_cast<zip_int64_t>(offset_);
        case ZIP_SOURCE_STAT: {
            auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &error_);
            if (st == nullptr)
                return -1;
            zip_stat_init(st);
            st->size = size_;
            st->valid |= ZIP_STAT_SIZE;
            return sizeof *st;
        }
        case ZIP_SOURCE_CLOSE:
            if (fd_ >= 0) {
                const int fd = fd_;
                fd_ = -1;
                if (Sys().Close(fd) != 0)
                    return Fail(ZIP_ER_CLOSE, errno);
            }
            return 0;
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&error_, data, length);
        case ZIP_SOURCE_FREE:
            delete this;
            return 0;
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                                  ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                                                  ZIP_SOURCE_SUPPORTS, -1);
        default:
            return Fail(ZIP_ER_OPNOTSUPP, 0);
        }
    }

    std::string path_;
    std::uint64_t size_;
    std::uint64_t offset_ = 0;
    int fd_ = -1;
    int systemError_ = 0;
    zip_error_t error_;
};

// Opens the archive read from `source`; frees the source when that fails.
zip_t* OpenFromSource(zip_source_t* source, zip_error_t* error) noexcept
{
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, error);
    if (archive == nullptr)
        zip_source_free(source);
    return archive;
}

}  // namespace

struct ZipVFS::Impl {
    struct Node {
        bool isFolder = true;
        bool hasOwnTime = false;  // a file, or a folder with an entry of its own
        std::int32_t time = 0;
        std::uint64_t size = 0;
        zip_uint64_t index = 0;  // entry of a file
        std::uint32_t parent = 0;
        std::map<std::string, std::uint32_t> children;  // byte order
    };

    zip_t* archive = nullptr;
    PlatformSource* source = nullptr;  // owned by the archive; null for an archive in memory
    std::string data;  // the archive's bytes when it was read from a mounted file system
    std::vector<Node> nodes;  // node 0 is the root
    std::uint32_t refused = 0;

    Impl() { nodes.emplace_back(); }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    ~Impl()
    {
        if (archive != nullptr)
            zip_discard(archive);
    }

    const Node* Find(const RelativeLocation& path) const
    {
        if (!path.IsValid())
            return nullptr;
        const Node* node = &nodes[0];
        for (std::uint32_t i = 0; i < path.GetLength(); ++i) {
            Name name;
            path.GetName(i, &name);
            const auto it = node->children.find(name.Std());
            if (it == node->children.end())
                return nullptr;
            node = &nodes[it->second];
        }
        return node;
    }

    // Foundation time of entry `index`: the extended timestamp when the entry
    // has one, otherwise the DOS date and time taken as UTC.
    std::int32_t EntryTime(zip_uint64_t index, const zip_stat_t& st, const RawEntry* raw) const
    {
        zip_uint16_t length = 0;
        const zip_uint8_t* field =
            zip_file_extra_field_get_by_id(archive, index, ExtendedTimestampId, 0, &length, ZIP_FL_CENTRAL);
        if (field != nullptr && length >= 5 && (field[0] & 1) != 0) {
            const std::uint32_t raw = static_cast<std::uint32_t>(field[1]) | (static_cast<std::uint32_t>(field[2]) << 8) |
                                      (static_cast<std::uint32_t>(field[3]) << 16) |
                                      (static_cast<std::uint32_t>(field[4]) << 24);
            return Internal::FoundationTime(static_cast<std::int32_t>(raw));
        }
        if (raw != nullptr)
            return Internal::FoundationTime(DosFieldsAsUtc(raw->dosDate, raw->dosTime));
        if ((st.valid & ZIP_STAT_MTIME) == 0)
            return 0;
        // Without the raw directory: the library turned the DOS fields into a
        // time as local time; turning it back gives the fields, which are then
        // read as UTC (wrong only for times that the local zone skips).
        std::tm fields{};
        const std::time_t local = st.mtime;
        if (::localtime_r(&local, &fields) == nullptr)
            return 0;
        return Internal::FoundationTime(static_cast<std::int64_t>(::timegm(&fields)));
    }

    // Adds entry `index` to the tree; false when it is refused.
    bool AddEntry(zip_uint64_t index, const RawEntry* raw)
    {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(archive, index, 0, &st) != 0 || (st.valid & ZIP_STAT_NAME) == 0 || st.name == nullptr)
            return false;
        const std::string_view name(st.name);
        if (name.empty() || name[0] == '/' || name.find('\\') != std::string_view::npos)
            return false;
        const bool folderEntry = name.back() == '/';
        // A link's data are the text of its target; it is never served as
        // a file, nor followed.
        if (IsSymbolicLink(archive, index))
            return false;

        std::vector<std::string_view> components;
        std::size_t pos = 0;
        while (pos < name.size()) {
            std::size_t end = name.find('/', pos);
            if (end == std::string_view::npos)
                end = name.size();
            const std::string_view component = name.substr(pos, end - pos);
            pos = end + 1;
            if (component.empty() || component == ".")
                continue;
            if (component == "..")
                return false;
            components.push_back(component);
        }
        if (components.empty())
            return false;

        // Every existing node on the way must be a folder; a clash with an
        // earlier entry refuses this one. New nodes are made only after the
        // last existing one, so a refused entry leaves no trace.
        std::uint32_t current = 0;
        std::size_t i = 0;
        for (; i < components.size(); ++i) {
            const auto it = nodes[current].children.find(std::string(components[i]));
            if (it == nodes[current].children.end())
                break;
            const bool last = i + 1 == components.size();
            if (!nodes[it->second].isFolder || (last && !folderEntry))
                return false;
            current = it->second;
        }
        for (; i < components.size(); ++i) {
            Node node;
            node.parent = current;
            const auto added = static_cast<std::uint32_t>(nodes.size());
            nodes.push_back(std::move(node));
            nodes[current].children.emplace(std::string(components[i]), added);
            current = added;
        }
        Node& node = nodes[current];
        node.hasOwnTime = true;
        node.time = EntryTime(index, st, raw);
        if (!folderEntry) {
            node.isFolder = false;
            node.index = index;
            node.size = (st.valid & ZIP_STAT_SIZE) != 0 ? st.size : 0;
        }
        return true;
    }

    KR::ErrorCode Build(const ByteSource& read, std::uint64_t fileSize)
    {
        const zip_int64_t count = zip_get_num_entries(archive, 0);
        if (count < 0)
            return ErrDamagedArchive;
        try {
            const std::vector<RawEntry> raw = ReadCentralDirectory(read, fileSize, static_cast<std::uint64_t>(count));
            for (zip_int64_t i = 0; i < count; ++i) {
                const auto index = static_cast<std::size_t>(i);
                const RawEntry* entry = index < raw.size() ? &raw[index] : nullptr;
                if ((entry != nullptr && entry->zeroInName) || !AddEntry(static_cast<zip_uint64_t>(i), entry))
                    ++refused;
            }
        } catch (const std::bad_alloc&) {
            return KR::ErrMemFull;
        }
        // A folder without an entry of its own takes the newest time found
        // below it. Children always come after their parent.
        for (std::size_t i = nodes.size(); i-- > 1;) {
            Node& parent = nodes[nodes[i].parent];
            if (!parent.hasOwnTime)
                parent.time = std::max(parent.time, nodes[i].time);
        }
        return KR::NoError;
    }
};

ZipVFS::ZipVFS(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

ZipVFS::~ZipVFS() = default;

std::unique_ptr<ZipVFS> ZipVFS::Open(const Location& zipFile, KR::ErrorCode* error)
{
    KR::ErrorCode ignored = KR::NoError;
    KR::ErrorCode& err = error != nullptr ? *error : ignored;
    err = Internal::CheckLocal(zipFile);
    if (err != KR::NoError)
        return nullptr;

    auto impl = std::make_unique<Impl>();
    ByteSource read;
    std::uint64_t fileSize = 0;
    int scanFd = -1;  // the descriptor of the name scan, when the archive is a file
    int scanErrno = 0;  // why a read of the name scan failed
    const std::string& path = zipFile.GetText();
    RelativeLocation inside;
    if (const FixedVFS* vfs = Internal::FindEntryMount(path, &inside)) {
        // A zip file inside a mounted file system: its bytes in memory.
        FixedVFS::EntryInfo info;
        err = Internal::GetMountedFileInfo(*vfs, inside, &info);
        if (err == KR::NoError)
            err = vfs->ReadFile(inside, &impl->data, Internal::MaxInMemoryFileSize);
        if (err != KR::NoError)
            return nullptr;
        if (impl->data.empty()) {
            err = ErrDamagedArchive;
            return nullptr;
        }
        fileSize = impl->data.size();
        const std::string& data = impl->data;
        read = [&data](std::uint64_t offset, std::size_t size, unsigned char* out) {
            if (offset > data.size() || data.size() - offset < size)
                return false;
            std::memcpy(out, data.data() + offset, size);
            return true;
        };
    } else {
        scanFd = Sys().Open(path.c_str(), O_RDONLY | O_CLOEXEC, 0);
        if (scanFd < 0) {
            err = Internal::ErrorFromErrno(errno);
            return nullptr;
        }
        struct stat st {};
        const bool statFailed = Sys().FStat(scanFd, &st) != 0;
        if (statFailed || !S_ISREG(st.st_mode) || st.st_size == 0) {
            err = statFailed ? Internal::ErrorFromErrno(errno) : S_ISDIR(st.st_mode) ? ErrNotAFile : ErrDamagedArchive;
            Sys().Close(scanFd);
            return nullptr;
        }
        fileSize = static_cast<std::uint64_t>(st.st_size);
        read = [scanFd, &scanErrno](std::uint64_t offset, std::size_t size, unsigned char* out) {
            std::size_t done = 0;
            while (done < size) {
                const ssize_t n = Sys().PRead(scanFd, out + done, size - done, static_cast<off_t>(offset + done));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0)
                    scanErrno = errno;
                if (n <= 0)
                    return false;
                done += static_cast<std::size_t>(n);
            }
            return true;
        };
    }
    // libzip reads the archive through a source: the bytes in memory, or the
    // file read through the platform (which then keeps a descriptor of its
    // own while the file system is mounted).
    zip_error_t zipError;
    zip_error_init(&zipError);
    zip_source_t* source = nullptr;
    PlatformSource* platformSource = nullptr;
    if (scanFd < 0) {
        source = zip_source_buffer_create(impl->data.data(), impl->data.size(), 0, &zipError);
    } else {
        platformSource = new (std::nothrow) PlatformSource(path, fileSize);
        if (platformSource != nullptr) {
            source = zip_source_function_create(&PlatformSource::Callback, platformSource, &zipError);
            if (source == nullptr)
                delete platformSource;
        } else {
            zip_error_set(&zipError, ZIP_ER_MEMORY, 0);
        }
    }
    if (source != nullptr)
        impl->archive = OpenFromSource(source, &zipError);
    if (impl->archive != nullptr && scanFd >= 0)
        impl->source = platformSource;
    if (impl->archive == nullptr) {
        err = ErrorFromZip(zip_error_code_zip(&zipError), zip_error_code_system(&zipError));
    } else {
        err = impl->Build(read, fileSize);
        if (err == KR::NoError && scanErrno != 0)
            err = Internal::ErrorFromErrno(scanErrno);
    }
    zip_error_fini(&zipError);
    if (scanFd >= 0)
        Sys().Close(scanFd);
    if (err != KR::NoError)
        return nullptr;
    return std::unique_ptr<ZipVFS>(new ZipVFS(std::move(impl)));
}

KR::ErrorCode ZipVFS::GetInfo(const RelativeLocation& path, EntryInfo* info) const
{
    if (info == nullptr)
        return KR::ErrIllegalArgument;
    const Impl::Node* node = impl_->Find(path);
    if (node == nullptr)
        return ErrNotFound;
    info->isFolder = node->isFolder;
    info->modificationTime = node->time;
    info->size = node->isFolder ? 0 : node->size;
    return KR::NoError;
}

KR::ErrorCode ZipVFS::ListFolder(const RelativeLocation& path, std::vector<FolderEntry>* entries) const
{
    if (entries == nullptr)
        return KR::ErrIllegalArgument;
    entries->clear();
    const Impl::Node* node = impl_->Find(path);
    if (node == nullptr)
        return ErrNotFound;
    if (!node->isFolder)
        return ErrNotAFolder;
    entries->reserve(node->children.size());
    for (const auto& [name, index] : node->children)
        entries->push_back(FolderEntry{Name(name), impl_->nodes[index].isFolder});
    return KR::NoError;
}

KR::ErrorCode ZipVFS::ReadFile(const RelativeLocation& path, std::string* content, std::uint64_t maxSize) const
{
    if (content == nullptr)
        return KR::ErrIllegalArgument;
    const Impl::Node* node = impl_->Find(path);
    if (node == nullptr)
        return ErrNotFound;
    if (node->isFolder)
        return ErrNotAFile;
    if (node->size > maxSize || node->size > std::string().max_size())
        return ErrTooLarge;

    // A system error of the archive's file wins over what libzip makes of it.
    const auto systemError = [this]() { return impl_->source != nullptr ? impl_->source->TakeSystemError() : 0; };
    systemError();
    zip_file_t* file = zip_fopen_index(impl_->archive, node->index, 0);
    if (file == nullptr) {
        const zip_error_t* error = zip_get_error(impl_->archive);
        const int failed = systemError();
        return ErrorFromZip(failed != 0 ? ZIP_ER_READ : zip_error_code_zip(error),
                            failed != 0 ? failed : zip_error_code_system(error));
    }
    KR::ErrorCode err = KR::NoError;
    std::string out;
    try {
        const auto size = static_cast<std::size_t>(node->size);
        while (out.size() < size) {
            const std::size_t got = out.size();
            out.resize(got + std::min(ReadPiece, size - got));
            const zip_int64_t n = zip_fread(file, out.data() + got, out.size() - got);
            if (n <= 0) {  // an error, or data shorter than the directory says
                err = ErrDamagedArchive;
                break;
            }
            out.resize(got + static_cast<std::size_t>(n));
        }
        // Reading on to the end makes the library check the CRC; more bytes
        // than announced are damage too.
        if (err == KR::NoError) {
            char probe = 0;
            if (zip_fread(file, &probe, 1) != 0)
                err = ErrDamagedArchive;
        }
    } catch (const std::bad_alloc&) {
        err = KR::ErrMemFull;
    }
    if (zip_fclose(file) != 0 && err == KR::NoError)
        err = ErrDamagedArchive;
    if (const int failed = systemError(); failed != 0 && err != KR::ErrMemFull)
        err = Internal::ErrorFromErrno(failed);
    if (err == KR::NoError)
        *content = std::move(out);
    return err;
}

std::uint32_t ZipVFS::GetRefusedCount() const noexcept
{
    return impl_->refused;
}

FixedVFS* CreateZipVFS(const Location& location)
{
    return ZipVFS::Open(location).release();
}

}  // namespace IO
