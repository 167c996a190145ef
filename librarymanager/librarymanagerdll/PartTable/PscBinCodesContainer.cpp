// The container of compiled script codes and its registry.
#include "PartTable/PscBinCodesContainer.hpp"

#include "Guard.hpp"
#include "KR/Memory.hpp"
#include "KR/Time.hpp"
#include "KRUtils/KRUtils.hpp"
#include "KRUtils/ScratchFile.hpp"
#include "LibrarySet/ModuleState.hpp"

#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

namespace LM {

// ----- Items ----------------------------------------------------------------

namespace {

KR::ErrorCode ReadGuid(KR::IChannel& channel, KR::GUID* guid)
{
    KR::ErrorCode err = channel.Read(guid->data1);
    if (err == KR::NoError)
        err = channel.Read(guid->data2);
    if (err == KR::NoError)
        err = channel.Read(guid->data3);
    for (std::uint8_t& byte : guid->data4) {
        if (err == KR::NoError)
            err = channel.Read(byte);
    }
    return err;
}

KR::ErrorCode WriteGuid(KR::OChannel& channel, const KR::GUID& guid)
{
    KR::ErrorCode err = channel.Write(guid.data1);
    if (err == KR::NoError)
        err = channel.Write(guid.data2);
    if (err == KR::NoError)
        err = channel.Write(guid.data3);
    for (std::uint8_t byte : guid.data4) {
        if (err == KR::NoError)
            err = channel.Write(byte);
    }
    return err;
}

void KillIfSet(char**& handle) noexcept
{
    if (handle != nullptr)
        KR::bmManager.KillHandle(handle);
    handle = nullptr;
}

}  // namespace

PscBinCodeItem::PscBinCodeItem(const KR::UnID& id, const IO::Location& where, std::int16_t type)
    : partId(id), location(where), scriptType(type)
{
}

PscBinCodeItem::PscBinCodeItem(PscBinCodeItem&& other) noexcept
    : KR::Object(other),
      partId(other.partId),
      location(std::move(other.location)),
      scriptType(other.scriptType),
      codeOffset(other.codeOffset),
      ancestryOffset(other.ancestryOffset),
      codeSize(other.codeSize),
      ancestrySize(other.ancestrySize),
      checked(other.checked),
      useCount(other.useCount),
      lastUse(other.lastUse),
      code(std::exchange(other.code, nullptr)),
      ancestry(std::exchange(other.ancestry, nullptr))
{
}

PscBinCodeItem& PscBinCodeItem::operator=(PscBinCodeItem&& other) noexcept
{
    if (this != &other) {
        ReleaseHandles();
        partId = other.partId;
        location = std::move(other.location);
        scriptType = other.scriptType;
        codeOffset = other.codeOffset;
        ancestryOffset = other.ancestryOffset;
        codeSize = other.codeSize;
        ancestrySize = other.ancestrySize;
        checked = other.checked;
        useCount = other.useCount;
        lastUse = other.lastUse;
        code = std::exchange(other.code, nullptr);
        ancestry = std::exchange(other.ancestry, nullptr);
    }
    return *this;
}

PscBinCodeItem::~PscBinCodeItem()
{
    ReleaseHandles();
}

void PscBinCodeItem::ReleaseHandles() noexcept
{
    KillIfSet(code);
    KillIfSet(ancestry);
}

KR::ErrorCode PscBinCodeItem::Read(KR::IChannel& channel)
{
    // Read into a fresh item so that a failure leaves this one as it was.
    PscBinCodeItem read;
    KR::ErrorCode err = ReadGuid(channel, &read.partId.mainGuid);
    if (err == KR::NoError)
        err = ReadGuid(channel, &read.partId.revGuid);
    if (err == KR::NoError)
        err = read.location.Read(channel);
    if (err == KR::NoError)
        err = channel.Read(read.scriptType);
    for (std::int32_t* field : {&read.useCount, &read.lastUse}) {
        if (err == KR::NoError)
            err = channel.Read(*field);
    }
    for (std::uint32_t* field : {&read.codeOffset, &read.ancestryOffset, &read.codeSize, &read.ancestrySize}) {
        if (err == KR::NoError)
            err = channel.Read(*field);
    }
    if (err != KR::NoError)
        return err;
    *this = std::move(read);
    return KR::NoError;
}

KR::ErrorCode PscBinCodeItem::Write(KR::OChannel& channel) const
{
    KR::ErrorCode err = WriteGuid(channel, partId.mainGuid);
    if (err == KR::NoError)
        err = WriteGuid(channel, partId.revGuid);
    if (err == KR::NoError)
        err = location.Write(channel);
    if (err == KR::NoError)
        err = channel.Write(scriptType);
    for (std::int32_t field : {useCount, lastUse}) {
        if (err == KR::NoError)
            err = channel.Write(field);
    }
    for (std::uint32_t field : {codeOffset, ancestryOffset, codeSize, ancestrySize}) {
        if (err == KR::NoError)
            err = channel.Write(field);
    }
    return err;
}

// ----- Container ------------------------------------------------------------

namespace {

std::size_t HashBytes(const void* data, std::size_t size, std::size_t seed) noexcept
{
    // FNV-1a over the bytes, mixed with the seed.
    std::uint64_t h = 1469598103934665603ull ^ seed;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        h ^= bytes[i];
        h *= 1099511628211ull;
    }
    return static_cast<std::size_t>(h);
}

// One more use: the count (saturating) and the time.
void CountUse(PscBinCodeItem& item, std::int32_t now) noexcept
{
    if (item.useCount < std::numeric_limits<std::int32_t>::max())
        ++item.useCount;
    item.lastUse = now;
}

}  // namespace

std::size_t PscBinCodesContainer::KeyHash::operator()(const IdKey& key) const noexcept
{
    return HashBytes(&key.id, sizeof key.id, static_cast<std::uint16_t>(key.scriptType));
}

std::size_t PscBinCodesContainer::KeyHash::operator()(const LocationKey& key) const noexcept
{
    return key.location.Hash() * 31u + static_cast<std::uint16_t>(key.scriptType);
}

PscBinCodesContainer::PscBinCodesContainer(const IO::Location& cacheFolder)
    : timestamp_(KR::dateTimeManager.GetCurrentTime()), folder_(cacheFolder, IO::OnNotFound::Report)
{
    std::snprintf(fileName_, sizeof fileName_, "%s.dat", GetModuleString(ModuleString::ScriptCodeCacheFile));
    (void)RunGuarded([&] {
        auto file = std::make_unique<IO::File>(folder_, IO::Name(fileName_));
        if (file->Open(IO::OpenMode::Read) == KR::NoError && file->GetSize(&fileSize_) == KR::NoError)
            file_ = std::move(file);
    });
    if (!Load())
        ClearItems();
}

PscBinCodesContainer::~PscBinCodesContainer()
{
    (void)RunGuarded([&] { WriteFile(); });
    ClearItems();
}

bool PscBinCodesContainer::Load()
{
    if (file_ == nullptr)
        return false;
    IO::File& in = *file_;
    std::uint32_t magic = 0;
    if (in.Read(magic) != KR::NoError || magic != Magic)
        return false;
    std::int32_t timestamp = 0;
    if (in.Read(timestamp) != KR::NoError)
        return false;
    timestamp_ = timestamp;
    std::uint16_t version = 0;
    std::uint32_t count = 0;
    std::uint32_t step = 0;
    std::uint32_t recordSize = 0;
    if (in.Read(version) != KR::NoError || version != ArrayVersion || in.Read(count) != KR::NoError ||
        in.Read(step) != KR::NoError || in.Read(recordSize) != KR::NoError)
        return false;
    // A count that the file cannot hold is refused before anything is set
    // aside for it.
    const std::uint64_t available = static_cast<std::uint64_t>(fileSize_) - HeaderBytes;
    if (fileSize_ < static_cast<std::int64_t>(HeaderBytes) || count > available / PscBinCodeItem::MinRecordBytes)
        return false;
    const auto fitsInFile = [&](std::uint32_t offset, std::uint32_t size) {
        return std::uint64_t{offset} + size <= static_cast<std::uint64_t>(fileSize_);
    };
    for (std::uint32_t n = 0; n < count; ++n) {
        PscBinCodeItem item;
        if (item.Read(in) != KR::NoError)
            return false;
        if (item.scriptType < 1 || item.scriptType > 6 || !fitsInFile(item.codeOffset, item.codeSize) ||
            !fitsInFile(item.ancestryOffset, item.ancestrySize))
            return false;
        IndexItem(static_cast<std::int32_t>(items_.Push(std::move(item))));
    }
    return true;
}

void PscBinCodesContainer::ClearItems() noexcept
{
    items_.Clear();
    byId_.clear();
    byLocation_.clear();
}

void PscBinCodesContainer::IndexItem(std::int32_t k)
{
    const PscBinCodeItem& item = items_[static_cast<std::uint32_t>(k)];
    // emplace keeps an entry that is there already: the first item wins.
    byLocation_.emplace(LocationKey{item.location, item.scriptType}, k);
    if (!item.partId.IsNull())
        byId_.emplace(IdKey{item.partId, item.scriptType}, k);
}

std::int32_t PscBinCodesContainer::Find(const KR::UnID& id, const IO::Location& location,
                                        std::int16_t scriptType) const
{
    if (id.IsNull()) {
        auto found = byLocation_.find(LocationKey{location, scriptType});
        return found != byLocation_.end() ? found->second : -1;
    }
    auto found = byId_.find(IdKey{id, scriptType});
    return found != byId_.end() ? found->second : -1;
}

bool PscBinCodesContainer::IsChecked(std::int32_t k) const
{
    return IsValidIndex(k) && items_[static_cast<std::uint32_t>(k)].checked;
}

void PscBinCodesContainer::SetChecked(std::int32_t k, bool checked)
{
    if (IsValidIndex(k))
        items_[static_cast<std::uint32_t>(k)].checked = checked;
}

char** PscBinCodesContainer::LoadFromFile(std::uint32_t offset, std::uint32_t size)
{
    if (file_ == nullptr)
        return nullptr;
    char** handle = KR::bmManager.NewHandle(size);
    if (handle == nullptr)
        return nullptr;
    if (file_->SetPosition(offset) != KR::NoError || file_->ReadBin(*handle, size) != KR::NoError)
        KR::bmManager.KillHandle(handle);
    return handle;
}

KR::ErrorCode PscBinCodesContainer::GetCode(std::int32_t k, char*** code, char*** ancestry)
{
    if (code != nullptr)
        *code = nullptr;
    if (ancestry != nullptr)
        *ancestry = nullptr;
    if (!IsValidIndex(k))
        return ErrBadIndex;
    PscBinCodeItem& item = items_[static_cast<std::uint32_t>(k)];
    CountUse(item, KR::dateTimeManager.GetCurrentTime());
    const auto lend = [&](char**& held, std::uint32_t offset, std::uint32_t size, char*** out) {
        if (out == nullptr)
            return;
        if (held == nullptr && size != 0)
            held = LoadFromFile(offset, size);
        if (held != nullptr)
            *out = KR::bmManager.DuplicateHandle(held);
    };
    lend(item.code, item.codeOffset, item.codeSize, code);
    lend(item.ancestry, item.ancestryOffset, item.ancestrySize, ancestry);
    return KR::NoError;
}

KR::ErrorCode PscBinCodesContainer::SetCode(std::int32_t k, char** code, char** ancestry)
{
    PscBinCodeItem& item = items_[static_cast<std::uint32_t>(k)];
    item.ReleaseHandles();
    item.useCount = 1;
    item.lastUse = KR::dateTimeManager.GetCurrentTime();
    // DuplicateHandle gives null when it cannot copy; the item then has no
    // handle. A code without its section is never kept.
    if (code != nullptr)
        item.code = KR::bmManager.DuplicateHandle(code);
    if (ancestry != nullptr) {
        item.ancestry = KR::bmManager.DuplicateHandle(ancestry);
        if (item.ancestry == nullptr)
            item.ReleaseHandles();
    }
    return KR::NoError;
}

template <typename Call>
void PscBinCodesContainer::Tell(Call call, const KR::UnID& id, std::int16_t scriptType, const LibrarySet& sender)
{
    const PscBinCodesContainerEvent event(this, id, scriptType);
    for (auto observers = EnumerateObservers(); !observers.IsEnd(); observers.Next()) {
        if (auto* observer = dynamic_cast<PscBinCodesContainerObserver*>(observers.GetCurrent()))
            (observer->*call)(sender, event);
    }
}

std::int32_t PscBinCodesContainer::Add(const KR::UnID& id, const IO::Location& location, std::int16_t scriptType,
                                       char** code, char** ancestry, const LibrarySet& sender)
{
    const auto k = static_cast<std::int32_t>(items_.Push(PscBinCodeItem(id, location, scriptType)));
    SetCode(k, code, ancestry);
    IndexItem(k);
    Tell(&PscBinCodesContainerObserver::BinCodeAdded, id, scriptType, sender);
    return k;
}

KR::ErrorCode PscBinCodesContainer::Remove(std::int32_t k, const LibrarySet& sender)
{
    if (!IsValidIndex(k))
        return ErrBadIndex;
    PscBinCodeItem& item = items_[static_cast<std::uint32_t>(k)];
    item.ReleaseHandles();
    item.codeOffset = item.ancestryOffset = 0;
    item.codeSize = item.ancestrySize = 0;
    item.useCount = 0;
    item.checked = false;
    // Copies: an observer may clear the container while it is told.
    const KR::UnID id = item.partId;
    const std::int16_t scriptType = item.scriptType;
    Tell(&PscBinCodesContainerObserver::BinCodeRemoved, id, scriptType, sender);
    return KR::NoError;
}

KR::ErrorCode PscBinCodesContainer::ClearAll(const LibrarySet& sender)
{
    ClearItems();
    Tell(&PscBinCodesContainerObserver::BinCodesCleared, NULLUnID, 0, sender);
    return KR::NoError;
}

// ----- Writing the file -------------------------------------------------------

void PscBinCodesContainer::PurgeIfDue(std::int32_t now)
{
    // Due when half a calendar month has passed since the last purge: the
    // midpoint between the timestamp and the same moment one month later.
    KR::DateTimeRecord date;
    KR::dateTimeManager.Split(timestamp_, &date);
    ++date.month;  // Combine carries month 13 into January of the next year
    const std::int32_t monthLater = KR::dateTimeManager.Combine(date);
    if ((std::int64_t{timestamp_} + monthLater) / 2 >= now)
        return;

    // Dropped: items unused for a month, and items used fewer than five
    // times and unused for half a month.
    KR::dateTimeManager.Split(now, &date);
    --date.month;  // month 0 is December of the year before
    const std::int32_t monthAgo = KR::dateTimeManager.Combine(date);
    const auto halfMonthAgo = static_cast<std::int32_t>((std::int64_t{now} + monthAgo) / 2);
    KR::VAArray<PscBinCodeItem> kept(AllocationStep);
    for (PscBinCodeItem& item : items_) {
        const bool drop =
            item.lastUse < monthAgo || (item.lastUse < halfMonthAgo && item.useCount < FrequentUseCount);
        if (!drop)
            kept.Push(std::move(item));
    }
    ClearItems();
    items_ = std::move(kept);
    for (std::int32_t k = 1; k <= GetCount(); ++k)
        IndexItem(k);
    timestamp_ = now;
}

std::uint32_t PscBinCodesContainer::CopyFromFile(std::uint32_t offset, std::uint32_t size, IO::File& out,
                                                 std::vector<char>* buffer, bool* writeFailed)
{
    if (file_ == nullptr || size == 0)
        return 0;
    if (buffer->size() < size)
        buffer->resize(size);
    if (file_->SetPosition(offset) != KR::NoError || file_->ReadBin(buffer->data(), size) != KR::NoError)
        return 0;
    if (out.WriteBin(buffer->data(), size) != KR::NoError)
        *writeFailed = true;
    return size;
}

bool PscBinCodesContainer::WriteTo(IO::File& out, std::int32_t now)
{
    const auto writeHeader = [&](std::uint32_t magic) {
        bool ok = out.Write(magic) == KR::NoError && out.Write(timestamp_) == KR::NoError &&
                  out.Write(ArrayVersion) == KR::NoError && out.Write(items_.GetSize()) == KR::NoError &&
                  out.Write(static_cast<std::uint32_t>(AllocationStep)) == KR::NoError &&
                  out.Write(PscBinCodeItem::RecordSize) == KR::NoError;
        for (const PscBinCodeItem& item : items_) {
            if (ok)
                ok = item.Write(out) == KR::NoError;
        }
        return ok;
    };
    // The table is written first with the old positions; it has the same
    // length as the final one, so the data start right after it.
    if (!writeHeader(0))
        return false;

    bool failed = false;
    std::vector<char> buffer;
    // Writes one block (the code or the section) of an item: from memory when
    // it is held, else copied from the old file; records where it went.
    const auto writeBlock = [&](char** held, std::uint32_t* offset, std::uint32_t* size) {
        std::int64_t position = 0;
        if (out.GetPosition(&position) != KR::NoError || position < 0 ||
            position > std::numeric_limits<std::uint32_t>::max()) {
            failed = true;
            return;
        }
        const std::uint32_t oldOffset = *offset;
        const std::uint32_t oldSize = *size;
        *offset = static_cast<std::uint32_t>(position);
        if (held != nullptr) {
            const std::size_t bytes = KR::bmManager.GetHandleSize(held);
            if (bytes > std::numeric_limits<std::uint32_t>::max()) {
                failed = true;
                return;
            }
            *size = static_cast<std::uint32_t>(bytes);
            if (bytes != 0 && out.WriteBin(*held, bytes) != KR::NoError)
                failed = true;
        } else {
            *size = CopyFromFile(oldOffset, oldSize, out, &buffer, &failed);
        }
    };
    for (PscBinCodeItem& item : items_) {
        if (failed)
            return false;
        CountUse(item, now);
        writeBlock(item.code, &item.codeOffset, &item.codeSize);
        writeBlock(item.ancestry, &item.ancestryOffset, &item.ancestrySize);
    }
    if (failed)
        return false;
    // The table again, now with the new positions, and the magic last.
    return out.SetPosition(0) == KR::NoError && writeHeader(0) && out.SetPosition(0) == KR::NoError &&
           out.Write(Magic) == KR::NoError;
}

bool PscBinCodesContainer::WriteFile()
{
    const std::int32_t now = KR::dateTimeManager.GetCurrentTime();
    PurgeIfDue(now);
    const IO::Name name(fileName_);
    bool written = false;
    if (!folder_.GetLocation().IsEmpty()) {
        // The new file is complete before it replaces the old one (which
        // the items not in memory are still copied from).
        IOUtil::ScratchFile scratch(folder_, name);
        written = scratch.GetStatus() == KR::NoError && scratch.Open(IO::OpenMode::WriteNew) == KR::NoError &&
                  WriteTo(scratch, now) && scratch.MakePermanent() == KR::NoError;
    }
    file_.reset();
    // A file that could not be replaced goes: it may hold codes that were
    // removed or cleared since it was read, and a cache that starts empty
    // only costs compiling again.
    if (!written && !folder_.GetLocation().IsEmpty())
        (void)folder_.Delete(name, IO::DataSafety::DeleteNow);
    return written;
}

// ----- Registry ---------------------------------------------------------------

namespace {

using ContainerMap = std::unordered_map<IO::Location, std::unique_ptr<PscBinCodesContainer>>;

// A function-local static: made on first use, after the foundation's own
// process-wide objects, and so destroyed before them when the module is
// unloaded, while the containers can still use files.
ContainerMap& GetRegistry()
{
    static ContainerMap registry;
    return registry;
}

}  // namespace

PscBinCodesContainer* PscBinCodesContainerRegistry::Obtain(const IO::Location& cacheFolder) noexcept
{
    PscBinCodesContainer* container = nullptr;
    (void)RunGuarded([&] {
        ContainerMap& registry = GetRegistry();
        auto found = registry.find(cacheFolder);
        if (found != registry.end()) {
            container = found->second.get();
            return;
        }
        auto made = std::make_unique<PscBinCodesContainer>(cacheFolder);
        container = registry.emplace(cacheFolder, std::move(made)).first->second.get();
    });
    return container;
}

PscBinCodesContainer* PscBinCodesContainerRegistry::Find(const IO::Location& cacheFolder) noexcept
{
    ContainerMap& registry = GetRegistry();
    auto found = registry.find(cacheFolder);
    return found != registry.end() ? found->second.get() : nullptr;
}

std::size_t PscBinCodesContainerRegistry::GetCount() noexcept
{
    return GetRegistry().size();
}

bool PscBinCodesContainerRegistry::Destroy(const IO::Location& cacheFolder) noexcept
{
    ContainerMap& registry = GetRegistry();
    auto found = registry.find(cacheFolder);
    if (found == registry.end())
        return false;
    // Out of the registry first, so that nothing finds it while it goes.
    std::unique_ptr<PscBinCodesContainer> container = std::move(found->second);
    registry.erase(found);
    container.reset();
    return true;
}

}  // namespace LM
