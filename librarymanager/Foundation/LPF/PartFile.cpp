#include "LPF/PartFile.hpp"

#include "IO/File.hpp"
#include "KR/Memory.hpp"
#include "KRUtils/ScratchFile.hpp"
#include "LPF/ByteOrder.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace LPF {

namespace {

// Layout constants; docs/formats/part-file.md has the byte tables.
constexpr unsigned char Magic[4] = {0x89, 'L', 'P', 'F'};
constexpr std::size_t FixedHeaderSize = 56;
constexpr std::size_t DirectoryEntrySize = 32;
constexpr std::uint32_t MaxSectionCount = 65535;
constexpr std::uint32_t PlaceableFlag = 0x1;
constexpr std::uint32_t ArchivableFlag = 0x2;

// The first read of a part file: header, directory and small sections.
constexpr std::size_t FirstReadSize = 4096;
// Sections up to this size that lie inside the first read are kept from it.
constexpr std::size_t PrefetchLimit = 1024;

constexpr std::uint64_t Align4(std::uint64_t v) noexcept
{
    return (v + 3) & ~std::uint64_t{3};
}

// What the header and directory of a part file say.
struct Layout {
    ByteOrder order = ByteOrder::Little;
    std::uint16_t version = 0;
    PartKind kind = PartKind::Symbol;
    std::uint32_t flags = 0;
    KR::UnID ownUnID{};
    std::string_view name;  // within the bytes parsed
    std::uint32_t count = 0;
    std::uint64_t directoryOffset = 0;
    std::uint64_t directoryEnd = 0;  // first byte after the directory
};

// One section of the directory.
struct SectionState {
    SectionInfo info;                 // as it is now (descriptor, size)
    SectionDescriptor fileDescriptor;  // as stored in the file
    std::uint32_t fileSize = 0;
    std::uint32_t offset = 0;
    bool inFile = false;                     // stored in the file (not only in memory)
    std::uint32_t prefetchOffset = NoPrefetch;  // where its bytes start in Impl::prefetch
    char** handle = nullptr;                 // data in this machine's byte order, once read

    static constexpr std::uint32_t NoPrefetch = 0xFFFFFFFFu;
};

struct Refusal {
    KR::ErrorCode code;
    const char* what;
};

// Parses the fixed header and the document name. `data` holds the first
// `available` bytes of a file of `fileSize` bytes; `available` is at least
// min(fileSize, FirstReadSize), which always covers the header and the name.
Refusal ParseHeader(const unsigned char* data, std::size_t available, std::uint64_t fileSize, Layout* layout)
{
    if (available < sizeof(Magic) || std::memcmp(data, Magic, sizeof(Magic)) != 0)
        return {ErrNotPartFile, "no part file magic"};
    if (available < 8)
        return {ErrDamaged, "header cut short"};
    // The platform word tells the header's byte order: read as little-endian
    // it is 0x5757 for a little-endian header, read as big-endian 0x4D4D for
    // a big-endian one.
    if (Load32(data + 4, ByteOrder::Little) == NativePlatform)
        layout->order = ByteOrder::Little;
    else if (Load32(data + 4, ByteOrder::Big) == OtherPlatform)
        layout->order = ByteOrder::Big;
    else
        return {ErrDamaged, "unknown byte order in header"};
    if (available < FixedHeaderSize || fileSize < FixedHeaderSize)
        return {ErrDamaged, "header cut short"};
    const ByteOrder o = layout->order;
    layout->version = Load16(data + 8, o);
    if ((layout->version >> 8) != (CurrentFormatVersion >> 8))
        return {ErrUnsupportedVersion, "unsupported format version"};
    std::uint16_t kind = Load16(data + 10, o);
    if (kind != static_cast<std::uint16_t>(PartKind::Symbol) && kind != static_cast<std::uint16_t>(PartKind::Script))
        return {ErrDamaged, "unknown part kind"};
    layout->kind = static_cast<PartKind>(kind);
    layout->flags = Load32(data + 12, o);
    layout->ownUnID.mainGuid = LoadGUID(data + 16, o);
    layout->ownUnID.revGuid = LoadGUID(data + 32, o);
    std::uint16_t nameLength = Load16(data + 48, o);
    if (nameLength > MaxDocumentNameLength)
        return {ErrDamaged, "document name too long"};
    layout->count = Load32(data + 52, o);
    if (layout->count > MaxSectionCount)
        return {ErrDamaged, "section count out of range"};
    if (FixedHeaderSize + nameLength > available || FixedHeaderSize + nameLength > fileSize)
        return {ErrDamaged, "document name runs past the end"};
    layout->name = std::string_view(reinterpret_cast<const char*>(data + FixedHeaderSize), nameLength);
    layout->directoryOffset = Align4(FixedHeaderSize + nameLength);
    layout->directoryEnd = layout->directoryOffset + std::uint64_t{layout->count} * DirectoryEntrySize;
    if (layout->directoryEnd > fileSize)
        return {ErrDamaged, "section directory runs past the end"};
    return {KR::NoError, nullptr};
}

// Parses the directory (`dir` holds its count * 32 bytes) and checks every
// entry against the file.
Refusal ParseDirectory(const unsigned char* dir, const Layout& layout, std::uint64_t fileSize,
                       std::vector<SectionState>* sections)
{
    sections->clear();
    sections->reserve(layout.count);
    const ByteOrder o = layout.order;
    for (std::uint32_t i = 0; i < layout.count; ++i) {
        const unsigned char* e = dir + std::size_t{i} * DirectoryEntrySize;
        SectionState s;
        s.info.type = Load32(e, o);
        s.info.subIdent = e[4];
        s.fileDescriptor.version = Load32(e + 8, o);
        s.fileDescriptor.platform = Load32(e + 12, o);
        s.fileDescriptor.flags = Load32(e + 16, o);
        s.offset = Load32(e + 20, o);
        s.fileSize = Load32(e + 24, o);
        ByteOrder ignored;
        if (!ByteOrderOfPlatform(s.fileDescriptor.platform, &ignored))
            return {ErrDamaged, "section of unknown byte order"};
        if (s.offset < layout.directoryEnd || std::uint64_t{s.offset} + s.fileSize > fileSize)
            return {ErrDamaged, "section outside the file"};
        s.info.descriptor = s.fileDescriptor;
        s.info.size = s.fileSize;
        s.inFile = true;
        sections->push_back(s);
    }
    // No section twice, and no two sections sharing bytes. Part files hold a
    // handful of sections: compare pairs without allocating; sort only long
    // directories.
    const std::size_t n = sections->size();
    if (n <= 16) {
        for (std::size_t i = 0; i < n; ++i) {
            const SectionState& a = (*sections)[i];
            for (std::size_t j = i + 1; j < n; ++j) {
                const SectionState& b = (*sections)[j];
                if (a.info.type == b.info.type && a.info.subIdent == b.info.subIdent)
                    return {ErrDamaged, "section listed twice"};
                if (a.fileSize != 0 && b.fileSize != 0 && a.offset < std::uint64_t{b.offset} + b.fileSize &&
                    b.offset < std::uint64_t{a.offset} + a.fileSize)
                    return {ErrDamaged, "sections overlap"};
            }
        }
        return {KR::NoError, nullptr};
    }
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    std::vector<std::uint64_t> keys;
    ranges.reserve(n);
    keys.reserve(n);
    for (const SectionState& s : *sections) {
        keys.push_back((std::uint64_t{s.info.type} << 8) | s.info.subIdent);
        if (s.fileSize != 0)
            ranges.emplace_back(s.offset, std::uint64_t{s.offset} + s.fileSize);
    }
    std::sort(keys.begin(), keys.end());
    if (std::adjacent_find(keys.begin(), keys.end()) != keys.end())
        return {ErrDamaged, "section listed twice"};
    std::sort(ranges.begin(), ranges.end());
    for (std::size_t i = 1; i < ranges.size(); ++i)
        if (ranges[i].first < ranges[i - 1].second)
            return {ErrDamaged, "sections overlap"};
    return {KR::NoError, nullptr};
}

std::string Describe(const IO::Location& location, const char* what)
{
    return location.GetText() + ": " + what;
}

// Writes `bytes` to a scratch file beside `location` and then puts it in the
// place of the file there, so that a failed write leaves the old file whole.
KR::ErrorCode ReplaceFile(const IO::Location& location, const std::string& bytes)
{
    IOUtil::ScratchFile scratch(location);
    KR::ErrorCode err = scratch.GetStatus();
    if (err == KR::NoError)
        err = scratch.Open(IO::OpenMode::WriteNew);
    if (err == KR::NoError)
        err = scratch.WriteBin(bytes.data(), bytes.size());
    if (err == KR::NoError)
        err = scratch.Close();
    if (err == KR::NoError)
        err = scratch.MakePermanent();
    return err;
}

// What the first read of a part file gave besides its bytes.
struct FirstRead {
    unsigned char* bytes;  // FirstReadSize bytes
    std::size_t got = 0;
    std::uint64_t fileSize = 0;
    bool timeKnown = false;
    std::int32_t time = 0;
    KR::ErrorCode timeError = KR::NoError;
};

// Parses and checks the header and directory that the first read gave;
// `head` is the file, still open, for the rest of a long directory.
// Without `head`, a long directory is not read: `*cut` tells it.
Refusal ParseHead(PartKind expected, const FirstRead& read, IO::FileHead* head, Layout* layout,
                  std::vector<SectionState>* directory, bool* cut = nullptr)
{
    Refusal r = ParseHeader(read.bytes, read.got, read.fileSize, layout);
    if (r.code != KR::NoError)
        return r;
    if (layout->kind != expected)
        return {ErrWrongKind, expected == PartKind::Symbol ? "is a script file, not a symbol file"
                                                           : "is a symbol file, not a script file"};

    if (layout->directoryEnd <= read.got)
        return ParseDirectory(read.bytes + layout->directoryOffset, *layout, read.fileSize, directory);
    // A long directory: read the rest of it.
    if (head == nullptr) {
        *cut = true;
        return {KR::NoError, nullptr};
    }
    std::string whole(static_cast<std::size_t>(layout->directoryEnd), '\0');
    std::memcpy(whole.data(), read.bytes, read.got);
    std::size_t more = 0;
    const KR::ErrorCode err = head->ReadMore(static_cast<std::int64_t>(read.got), whole.data() + read.got,
                                            whole.size() - read.got, &more);
    if (err == KR::ErrEndOfChannel)
        return {ErrChanged, "became shorter while being read"};
    if (err != KR::NoError)
        return {err, "cannot be read"};
    return ParseDirectory(reinterpret_cast<const unsigned char*>(whole.data()) + layout->directoryOffset, *layout,
                          read.fileSize, directory);
}

// Opens the file, reads its first bytes, and parses and checks its header
// and directory (reading the rest of a long directory). The file is closed
// again on return, whatever the outcome.
Refusal ReadHead(const IO::Location& location, PartKind expected, ModificationTime when, FirstRead* read,
                 Layout* layout, std::vector<SectionState>* directory)
{
    // The size comes with the time from one call, so the time is read
    // whenever the size is needed.
    IO::FileHead head;
    const KR::ErrorCode err = head.Read(location, read->bytes, FirstReadSize, when == ModificationTime::ReadAtOpen);
    if (err != KR::NoError)
        return {err, head.opened ? "cannot be read" : "cannot be opened"};
    read->got = head.got;
    read->fileSize = static_cast<std::uint64_t>(head.size);
    read->timeKnown = head.timeKnown;
    read->time = head.time;
    read->timeError = head.timeError;
    return ParseHead(expected, *read, &head, layout, directory);
}

// The first 31 bytes of a document name at most, not cutting a UTF-8
// sequence, and a terminator, into `name` (32 bytes).
KR::ErrorCode CutDocumentName(std::string_view full, char* name)
{
    if (full.empty()) {
        name[0] = '\0';
        return ErrNoName;
    }
    std::size_t n = std::min<std::size_t>(full.size(), 31);
    if (n < full.size()) {
        // Cut before a UTF-8 sequence that would not fit whole: step back
        // over continuation bytes to the lead byte of their sequence.
        std::size_t cut = n;
        for (int step = 0; step < 3 && cut > 0 && (static_cast<unsigned char>(full[cut]) & 0xC0) == 0x80; ++step)
            --cut;
        if (static_cast<unsigned char>(full[cut]) >= 0xC0)
            n = cut;
    }
    std::memcpy(name, full.data(), n);
    name[n] = '\0';
    return KR::NoError;
}

}  // namespace

struct PartFile::Impl {
    IO::Location location;
    PartKind kind = PartKind::Symbol;
    ByteOrder headerOrder = ByteOrder::Little;
    std::uint16_t version = CurrentFormatVersion;
    std::uint32_t flags = 0;
    KR::UnID ownUnID{};
    std::string name;
    // The file's modification time, taken at open or when first asked for.
    mutable bool modificationTimeKnown = false;
    mutable std::int32_t modificationTime = 0;
    mutable KR::ErrorCode modificationTimeError = KR::NoError;

    void FetchModificationTime() const
    {
        if (modificationTimeKnown)
            return;
        modificationTimeError = IO::File(location).GetModificationTime(&modificationTime);
        modificationTimeKnown = true;
    }
    std::uint64_t fileSize = 0;
    std::vector<SectionState> sections;
    // Raw bytes of the small sections that came with the first read.
    std::string prefetch;

    Impl() = default;
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    ~Impl()
    {
        for (SectionState& s : sections)
            if (s.handle != nullptr)
                KR::bmManager.KillHandle(s.handle);
    }

    void Open(PartKind expected, ModificationTime when);
    void Adopt(Layout&& layout, std::vector<SectionState>&& directory, const unsigned char* first,
               std::size_t firstSize);
    SectionState* Find(std::uint32_t type, std::uint8_t subIdent) noexcept;
    const SectionState* Find(std::uint32_t type, std::uint8_t subIdent) const noexcept
    {
        return const_cast<Impl*>(this)->Find(type, subIdent);
    }
    KR::ErrorCode ReadRaw(const SectionState& s, char* destination) const;
    KR::ErrorCode Load(SectionState& s);
    KR::ErrorCode Save();
};

// Reads and checks the header and directory; throws PartFileException.
void PartFile::Impl::Open(PartKind expected, ModificationTime when)
{
    unsigned char first[FirstReadSize];
    FirstRead read{first};
    Layout layout;
    std::vector<SectionState> directory;
    const Refusal r = ReadHead(location, expected, when, &read, &layout, &directory);
    if (r.code != KR::NoError)
        throw PartFileException(r.code, Describe(location, r.what));
    fileSize = read.fileSize;
    modificationTimeKnown = read.timeKnown;
    modificationTime = read.time;
    modificationTimeError = read.timeError;
    Adopt(std::move(layout), std::move(directory), first, read.got);
}

// Takes over a parsed header and directory; keeps the bytes of the small
// sections that lie within `first`.
void PartFile::Impl::Adopt(Layout&& layout, std::vector<SectionState>&& directory, const unsigned char* first,
                           std::size_t firstSize)
{
    headerOrder = layout.order;
    version = layout.version;
    kind = layout.kind;
    flags = layout.flags;
    ownUnID = layout.ownUnID;
    name.assign(layout.name);
    sections = std::move(directory);
    // One block for all of them, allocated once at its final size.
    auto kept = [firstSize](const SectionState& s) {
        return s.fileSize <= PrefetchLimit && std::uint64_t{s.offset} + s.fileSize <= firstSize;
    };
    std::size_t total = 0;
    for (const SectionState& s : sections)
        total += kept(s) ? s.fileSize : 0;
    std::string block;
    block.reserve(total);
    for (SectionState& s : sections) {
        if (kept(s)) {
            s.prefetchOffset = static_cast<std::uint32_t>(block.size());
            block.append(reinterpret_cast<const char*>(first) + s.offset, s.fileSize);
        }
    }
    prefetch = std::move(block);
}

SectionState* PartFile::Impl::Find(std::uint32_t type, std::uint8_t subIdent) noexcept
{
    for (SectionState& s : sections)
        if (s.info.type == type && s.info.subIdent == subIdent)
            return &s;
    return nullptr;
}

// Copies the section's bytes as stored in the file into `destination`
// (fileSize bytes), from the first read or by reading the file again.
KR::ErrorCode PartFile::Impl::ReadRaw(const SectionState& s, char* destination) const
{
    if (s.fileSize == 0)
        return KR::NoError;
    if (s.prefetchOffset != SectionState::NoPrefetch) {
        std::memcpy(destination, prefetch.data() + s.prefetchOffset, s.fileSize);
        return KR::NoError;
    }
    IO::File file(location);
    KR::ErrorCode err = file.Open(IO::OpenMode::Read);
    if (err != KR::NoError)
        return err;
    // The directory read at open describes the file only while the file is
    // the same: same size and modification time.
    std::int64_t size = 0;
    err = file.GetSize(&size);
    if (err != KR::NoError)
        return err;
    if (static_cast<std::uint64_t>(size) != fileSize)
        return ErrChanged;
    if (modificationTimeKnown && modificationTimeError == KR::NoError) {
        std::int32_t time = 0;
        err = file.GetModificationTime(&time);
        if (err != KR::NoError)
            return err;
        if (time != modificationTime)
            return ErrChanged;
    }
    err = file.SetPosition(s.offset);
    if (err == KR::NoError) {
        std::size_t got = 0;
        err = file.ReadBin(destination, s.fileSize, &got);
        if (err == KR::ErrEndOfChannel)
            err = ErrChanged;
    }
    file.Close();
    return err;
}

// Reads the section into a handle in this machine's byte order.
KR::ErrorCode PartFile::Impl::Load(SectionState& s)
{
    char** handle = KR::bmManager.NewHandle(s.fileSize);
    if (handle == nullptr)
        return KR::bmManager.GetLastError() != KR::NoError ? KR::bmManager.GetLastError() : KR::ErrMemFull;
    KR::ErrorCode err = ReadRaw(s, *handle);
    SectionDescriptor descriptor = s.fileDescriptor;
    ISectionHandler* handler = err == KR::NoError ? GetSectionHandler(s.info.type) : nullptr;
    if (err == KR::NoError && descriptor.platform != NativePlatform) {
        if (handler == nullptr || !handler->CanConvert())
            err = ErrNoHandler;
        else
            err = handler->ConvertToNative(nullptr, &descriptor, handle);
        if (err == KR::NoError && descriptor.platform != NativePlatform)
            err = ErrNoHandler;  // the handler did not convert it after all
    }
    if (err == KR::NoError && handler != nullptr)
        err = handler->Validate(&descriptor, handle);
    if (err != KR::NoError) {
        KR::bmManager.KillHandle(handle);
        return err;
    }
    s.handle = handle;
    s.info.descriptor = descriptor;
    s.info.size = static_cast<std::uint32_t>(KR::bmManager.GetHandleSize(handle));
    return KR::NoError;
}

KR::ErrorCode PartFile::Impl::Save()
{
    PartFileWriter writer(kind);
    writer.SetOwnUnID(ownUnID);
    writer.SetPlaceable((flags & PlaceableFlag) != 0);
    writer.SetArchivable((flags & ArchivableFlag) != 0);
    KR::ErrorCode err = writer.SetDocumentName(name);
    if (err != KR::NoError)
        return err;
    for (const SectionState& s : sections) {
        if (s.handle != nullptr) {
            err = writer.AddSection(s.info.type, s.info.subIdent, s.info.descriptor, *s.handle,
                                    KR::bmManager.GetHandleSize(s.handle));
        } else {
            // Not read yet: take the stored bytes, converted when a handler
            // can do it; otherwise they are kept as they are, with the
            // descriptor that names their byte order.
            std::string raw(s.fileSize, '\0');
            err = ReadRaw(s, raw.data());
            if (err != KR::NoError)
                return err;
            SectionDescriptor descriptor = s.fileDescriptor;
            ISectionHandler* handler = GetSectionHandler(s.info.type);
            if (descriptor.platform != NativePlatform && handler != nullptr && handler->CanConvert()) {
                char** handle = KR::bmManager.NewHandle(raw.size());
                if (handle == nullptr)
                    return KR::ErrMemFull;
                std::memcpy(*handle, raw.data(), raw.size());
                SectionDescriptor converted = descriptor;
                if (handler->ConvertToNative(nullptr, &converted, handle) == KR::NoError &&
                    converted.platform == NativePlatform) {
                    descriptor = converted;
                    raw.assign(*handle, KR::bmManager.GetHandleSize(handle));
                }
                KR::bmManager.KillHandle(handle);
            }
            err = writer.AddSection(s.info.type, s.info.subIdent, descriptor, raw.data(), raw.size());
        }
        if (err != KR::NoError)
            return err;
    }
    const std::string bytes = writer.ToBytes();
    err = ReplaceFile(location, bytes);
    if (err != KR::NoError)
        return err;
    // The file is now the bytes just written: take over their directory.
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    Layout layout;
    std::vector<SectionState> directory;
    Refusal r = ParseHeader(data, bytes.size(), bytes.size(), &layout);
    if (r.code == KR::NoError)
        r = ParseDirectory(data + layout.directoryOffset, layout, bytes.size(), &directory);
    if (r.code != KR::NoError)
        return KR::ErrInternal;
    for (std::size_t i = 0; i < directory.size(); ++i) {
        // Sections read before keep their handles and present descriptors.
        directory[i].handle = std::exchange(sections[i].handle, nullptr);
        if (directory[i].handle != nullptr) {
            directory[i].info.descriptor = sections[i].info.descriptor;
            directory[i].info.size = sections[i].info.size;
        }
    }
    fileSize = bytes.size();
    IO::File written(location);
    modificationTimeError = written.GetModificationTime(&modificationTime);
    modificationTimeKnown = true;
    Adopt(std::move(layout), std::move(directory), data, std::min(bytes.size(), FirstReadSize));
    return KR::NoError;
}

PartFileException::PartFileException(KR::ErrorCode id, std::string message, std::string sourceName)
    : KR::KRException(id, std::move(message), std::move(sourceName))
{
}

const char* PartFileException::GetClassName() const noexcept
{
    return "LPF::PartFileException";
}

PartFile::PartFile(const IO::Location& location, PartKind kind, ModificationTime when)
    : impl_(std::make_unique<Impl>())
{
    impl_->location = location;
    try {
        impl_->Open(kind, when);
    } catch (const std::bad_alloc&) {
        throw PartFileException(KR::ErrMemFull, Describe(location, "out of memory"));
    }
}

PartFile::~PartFile() = default;

const IO::Location& PartFile::GetLocation() const noexcept
{
    return impl_->location;
}

PartKind PartFile::GetKind() const noexcept
{
    return impl_->kind;
}

std::uint32_t PartFile::GetHeaderPlatform() const noexcept
{
    return PlatformOfByteOrder(impl_->headerOrder);
}

std::uint16_t PartFile::GetFormatVersion() const noexcept
{
    return impl_->version;
}

KR::ErrorCode PartFile::GetDocumentName(char* name) const
{
    if (name == nullptr)
        return KR::ErrParam;
    return CutDocumentName(impl_->name, name);
}

const std::string& PartFile::GetFullDocumentName() const noexcept
{
    return impl_->name;
}

KR::ErrorCode PartFile::GetModificationTime(std::int32_t* time) const
{
    if (time == nullptr)
        return KR::ErrParam;
    impl_->FetchModificationTime();
    if (impl_->modificationTimeError != KR::NoError)
        return impl_->modificationTimeError;
    *time = impl_->modificationTime;
    return KR::NoError;
}

std::uint32_t PartFile::GetSectionCount() const noexcept
{
    return static_cast<std::uint32_t>(impl_->sections.size());
}

KR::ErrorCode PartFile::GetSectionInfo(std::uint32_t index, SectionInfo* info) const
{
    if (info == nullptr)
        return KR::ErrParam;
    if (index >= impl_->sections.size())
        return KR::ErrIllegalArgument;
    *info = impl_->sections[index].info;
    return KR::NoError;
}

bool PartFile::HasSection(std::uint32_t type, std::uint8_t subIdent) const noexcept
{
    return impl_->Find(type, subIdent) != nullptr;
}

KR::ErrorCode PartFile::GetSectionDataRef(std::uint32_t type, std::uint8_t subIdent, char*** section)
{
    if (section == nullptr)
        return KR::ErrParam;
    *section = nullptr;
    SectionState* s = impl_->Find(type, subIdent);
    if (s == nullptr)
        return ErrSectionNotFound;
    if (s->handle == nullptr) {
        KR::ErrorCode err = impl_->Load(*s);
        if (err != KR::NoError)
            return err;
    }
    *section = s->handle;
    return KR::NoError;
}

KR::ErrorCode PartFile::SetSectionDataRef(std::uint32_t type, std::uint8_t subIdent, char** section)
{
    if (section != nullptr && !KR::bmManager.IsHandle(section))
        return KR::ErrBadHandle;
    SectionState* s = impl_->Find(type, subIdent);
    if (s == nullptr) {
        if (section == nullptr)
            return ErrSectionNotFound;
        SectionState added;
        added.info.type = type;
        added.info.subIdent = subIdent;
        added.info.descriptor = SectionDescriptor{};
        added.info.size = static_cast<std::uint32_t>(KR::bmManager.GetHandleSize(section));
        added.handle = section;
        impl_->sections.push_back(added);
        return KR::NoError;
    }
    if (section == nullptr) {
        if (s->handle != nullptr)
            KR::bmManager.KillHandle(s->handle);
        if (s->inFile) {
            s->info.descriptor = s->fileDescriptor;
            s->info.size = s->fileSize;
        } else {
            impl_->sections.erase(impl_->sections.begin() + (s - impl_->sections.data()));
        }
        return KR::NoError;
    }
    if (s->handle != section && s->handle != nullptr)
        KR::bmManager.KillHandle(s->handle);
    s->handle = section;
    s->info.descriptor.platform = NativePlatform;
    s->info.size = static_cast<std::uint32_t>(KR::bmManager.GetHandleSize(section));
    return KR::NoError;
}

KR::ErrorCode PartFile::GetSectionDescriptor(std::uint32_t type, std::uint8_t subIdent,
                                             SectionDescriptor* descriptor) const
{
    if (descriptor == nullptr)
        return KR::ErrParam;
    const SectionState* s = impl_->Find(type, subIdent);
    if (s == nullptr)
        return ErrSectionNotFound;
    *descriptor = s->info.descriptor;
    return KR::NoError;
}

KR::ErrorCode PartFile::Save()
{
    try {
        return impl_->Save();
    } catch (const std::bad_alloc&) {
        return KR::ErrMemFull;
    }
}

SymbolFile::SymbolFile(const IO::Location& location, ModificationTime when)
    : PartFile(location, PartKind::Symbol, when)
{
}

KR::ErrorCode SymbolFile::GetOwnUnID(KR::UnID* id) const
{
    if (id == nullptr)
        return KR::ErrParam;
    *id = impl_->ownUnID;
    return KR::NoError;
}

KR::ErrorCode SymbolFile::IsPlaceable(bool* placeable) const
{
    if (placeable == nullptr)
        return KR::ErrParam;
    *placeable = (impl_->flags & PlaceableFlag) != 0;
    return KR::NoError;
}

KR::ErrorCode SymbolFile::IsArchivable(bool* archivable) const
{
    if (archivable == nullptr)
        return KR::ErrParam;
    *archivable = (impl_->flags & ArchivableFlag) != 0;
    return KR::NoError;
}

ScriptFile::ScriptFile(const IO::Location& location, ModificationTime when)
    : PartFile(location, PartKind::Script, when)
{
}

std::unique_ptr<PartFile> OpenPartFile(const IO::Location& location, KR::ErrorCode* error)
{
    KR::ErrorCode err = KR::NoError;
    std::unique_ptr<PartFile> file;
    try {
        try {
            file = std::make_unique<SymbolFile>(location);
        } catch (const PartFileException& e) {
            if (e.GetID() != ErrWrongKind)
                throw;
            file = std::make_unique<ScriptFile>(location);
        }
    } catch (const KR::KRException& e) {
        err = e.GetID();
    } catch (const std::bad_alloc&) {
        err = KR::ErrMemFull;
    }
    if (error != nullptr)
        *error = err;
    return file;
}

KR::ErrorCode ReadPartFileSummary(const IO::Location& location, PartKind expected, std::uint32_t sectionType,
                                  std::uint8_t subIdent, PartFileSummary* summary, const PartFileHead* head) noexcept
{
    if (summary == nullptr)
        return KR::ErrParam;
    // One buffer and one directory per thread, reused file after file.
    thread_local unsigned char first[FirstReadSize];
    thread_local std::vector<SectionState> directory;
    try {
        FirstRead read{first};
        Layout layout;
        bool cut = false;
        Refusal r{KR::NoError, nullptr};
        if (head != nullptr) {
            if (head->error != KR::NoError)
                return head->error;
            read.got = std::min(head->got, FirstReadSize);
            std::memcpy(first, head->bytes, read.got);
            read.fileSize = head->fileSize;
            read.timeKnown = head->timeKnown;
            read.time = head->time;
            read.timeError = head->timeError;
            r = ParseHead(expected, read, nullptr, &layout, &directory, &cut);
        }
        // Without a head read ahead, or with one that did not hold the whole
        // directory, the file is read now.
        if (head == nullptr || cut)
            r = ReadHead(location, expected, ModificationTime::ReadAtOpen, &read, &layout, &directory);
        if (r.code != KR::NoError)
            return r.code;
        summary->ownUnID = layout.ownUnID;
        summary->placeable = (layout.flags & PlaceableFlag) != 0;
        summary->archivable = (layout.flags & ArchivableFlag) != 0;
        summary->documentNameError = CutDocumentName(layout.name, summary->documentName);
        summary->modificationTime = read.time;
        summary->modificationTimeError = read.timeError;
        summary->hasSection = false;
        summary->sectionBytes = nullptr;
        summary->sectionSize = 0;
        for (const SectionState& s : directory) {
            if (s.info.type != sectionType || s.info.subIdent != subIdent)
                continue;
            summary->hasSection = true;
            summary->sectionDescriptor = s.fileDescriptor;
            summary->sectionSize = s.fileSize;
            if (std::uint64_t{s.offset} + s.fileSize <= read.got)
                summary->sectionBytes = reinterpret_cast<const char*>(first) + s.offset;
            break;
        }
        return KR::NoError;
    } catch (const std::bad_alloc&) {
        return KR::ErrMemFull;
    } catch (const KR::KRException& e) {
        return e.GetID();
    }
}

// ---------------------------------------------------------------------------
// PartFileWriter

PartFileWriter::PartFileWriter(PartKind kind) : kind_(kind) {}

KR::ErrorCode PartFileWriter::SetDocumentName(std::string_view name)
{
    if (name.size() > MaxDocumentNameLength)
        return ErrNameTooLong;
    if (name.find('\0') != std::string_view::npos)
        return KR::ErrParam;
    documentName_ = name;
    return KR::NoError;
}

KR::ErrorCode PartFileWriter::SetHeaderPlatform(std::uint32_t platform)
{
    ByteOrder order;
    if (!ByteOrderOfPlatform(platform, &order))
        return KR::ErrParam;
    headerPlatform_ = platform;
    return KR::NoError;
}

KR::ErrorCode PartFileWriter::AddSection(std::uint32_t type, std::uint8_t subIdent, const SectionDescriptor& descriptor,
                                         const void* data, std::size_t size)
{
    ByteOrder order;
    if (!ByteOrderOfPlatform(descriptor.platform, &order))
        return KR::ErrParam;
    if ((data == nullptr && size != 0) || size > 0xFFFFFFFFu)
        return KR::ErrParam;
    Section section;
    section.info.type = type;
    section.info.subIdent = subIdent;
    section.info.descriptor = descriptor;
    section.info.size = static_cast<std::uint32_t>(size);
    if (size != 0)
        section.data.assign(static_cast<const char*>(data), size);
    for (Section& s : sections_) {
        if (s.info.type == type && s.info.subIdent == subIdent) {
            s = std::move(section);
            return KR::NoError;
        }
    }
    if (sections_.size() >= MaxSectionCount)
        return KR::ErrParam;
    sections_.push_back(std::move(section));
    return KR::NoError;
}

std::string PartFileWriter::ToBytes() const
{
    ByteOrder o = ByteOrder::Little;
    ByteOrderOfPlatform(headerPlatform_, &o);
    const std::uint64_t directoryOffset = Align4(FixedHeaderSize + documentName_.size());
    std::uint64_t dataOffset = directoryOffset + sections_.size() * DirectoryEntrySize;
    std::uint64_t total = dataOffset;
    for (const Section& s : sections_)
        total = Align4(total) + s.data.size();

    std::string out;
    out.reserve(static_cast<std::size_t>(total));
    out.append(reinterpret_cast<const char*>(Magic), sizeof Magic);
    Append32(out, PlatformOfByteOrder(o), o);
    Append16(out, CurrentFormatVersion, o);
    Append16(out, static_cast<std::uint16_t>(kind_), o);
    Append32(out, (placeable_ ? PlaceableFlag : 0) | (archivable_ ? ArchivableFlag : 0), o);
    AppendGUID(out, ownUnID_.mainGuid, o);
    AppendGUID(out, ownUnID_.revGuid, o);
    Append16(out, static_cast<std::uint16_t>(documentName_.size()), o);
    Append16(out, 0, o);
    Append32(out, static_cast<std::uint32_t>(sections_.size()), o);
    out += documentName_;
    out.resize(static_cast<std::size_t>(directoryOffset), '\0');

    std::uint64_t offset = dataOffset;
    for (const Section& s : sections_) {
        offset = Align4(offset);
        Append32(out, s.info.type, o);
        out.push_back(static_cast<char>(s.info.subIdent));
        out.append(3, '\0');
        Append32(out, s.info.descriptor.version, o);
        Append32(out, s.info.descriptor.platform, o);
        Append32(out, s.info.descriptor.flags, o);
        Append32(out, static_cast<std::uint32_t>(offset), o);
        Append32(out, static_cast<std::uint32_t>(s.data.size()), o);
        Append32(out, 0, o);
        offset += s.data.size();
    }
    for (const Section& s : sections_) {
        out.resize(static_cast<std::size_t>(Align4(out.size())), '\0');
        out += s.data;
    }
    return out;
}

KR::ErrorCode PartFileWriter::WriteTo(const IO::Location& location) const
{
    std::string bytes;
    try {
        bytes = ToBytes();
    } catch (const std::bad_alloc&) {
        return KR::ErrMemFull;
    }
    if (bytes.size() > 0xFFFFFFFFu)
        return KR::ErrParam;  // offsets are 32-bit
    return ReplaceFile(location, bytes);
}

}  // namespace LPF
