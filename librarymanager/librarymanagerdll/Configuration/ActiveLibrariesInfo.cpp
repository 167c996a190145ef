// The library set's stored configuration: writing the active libraries info
// block, restoring a set from one, comparing and merging, and resetting.
#include "Configuration/InfoBlock.hpp"
#include "IO/File.hpp"
#include "LibrarySet.hpp"
#include "LibrarySet/ActiveLibraryList.hpp"
#include "LibrarySet/Guard.hpp"
#include "LibrarySet/OtherObjectList.hpp"

#include <exception>
#include <string>
#include <unordered_set>
#include <vector>

namespace LM {

namespace {

// Reads up to `count` records with `read`. A record that cannot be read ends
// the list; its exception is kept in `*failure`, so that the records read
// before it can be added before it is passed on.
template <typename Record, typename Read>
std::vector<Record> ReadRecords(std::int32_t count, Read read, std::exception_ptr* failure)
{
    std::vector<Record> records;
    try {
        for (std::int32_t i = 0; i < count; ++i)
            records.push_back(read());
    } catch (...) {
        *failure = std::current_exception();
    }
    return records;
}

void RethrowIf(const std::exception_ptr& failure)
{
    if (failure)
        std::rethrow_exception(failure);
}

// Reads the library and other object records that follow the cache items
// and adds them to the lists: libraries made from locations are mounted
// when `mount`; other objects already present with the same location and
// URL are skipped when `skipPresent`. What was read before a record that
// cannot be read stays added; the exception is then passed on.
void AddStoredRecords(Info::ItemReader& in, ActiveLibraryList& libraries, OtherObjectList& otherObjects, bool mount,
                      bool skipPresent)
{
    std::exception_ptr failure;
    const std::int32_t libraryCount = in.Int32();
    libraries.AddAll(ReadRecords<ActiveLibraryList::Record>(libraryCount, [&] { return in.Library(); }, &failure),
                     mount);
    RethrowIf(failure);
    const std::int32_t otherCount = in.Int32();
    otherObjects.AddRecords(
        ReadRecords<OtherObjectList::Record>(otherCount, [&] { return in.OtherObject(); }, &failure), skipPresent);
    RethrowIf(failure);
    (void)in.Int32();  // the end magic, not checked
}

}  // namespace

// ----- Writing ---------------------------------------------------------------------------

std::int32_t LibrarySet::GetCurrVersActiveLibrariesInfo(char*** info, bool withPermanent)
{
    Info::ItemWriter out;
    out.Int32(Info::Magic);
    out.Bool(useLanCache_);
    if (useLanCache_)
        out.Location(lanCacheLocation_);
    out.Location(urlCacheLocation_);

    // Without permanent libraries, the permanent folder and file libraries
    // are left out; permanent URL libraries stay.
    out.Int32(withPermanent ? activeLibraries_->GetCount() : activeLibraries_->GetUrlOrNotPermanentCount());
    for (std::int32_t i = 0; i < activeLibraries_->GetCount(); ++i) {
        const ActiveLibrary& library = *activeLibraries_->Get(i);
        const bool isUrl = !library.url.IsEmpty();
        if (!withPermanent && !isUrl && library.permanent)
            continue;
        ActiveLibraryList::Record record;
        record.vital = library.vital;
        record.permanent = library.permanent;
        record.isUrl = isUrl;
        record.url = library.url;
        record.location = library.location;
        out.Library(record);
    }

    out.Int32(otherObjects_->GetCount());
    for (std::int32_t i = 0; i < otherObjects_->GetCount(); ++i) {
        const OtherObject& object = *otherObjects_->Get(i);
        out.OtherObject(object.location, object.url);
    }
    out.Int32(Info::Magic);

    char** block = out.NewHandle();
    *info = block;
    return block != nullptr ? KR::NoError : KR::ErrMemFull;
}

std::int32_t LibrarySet::GetActiveLibrariesInfo(char*** info, bool withPermanent, std::int32_t version)
{
    return GuardError([&] {
        if (info == nullptr)
            return KR::ErrParam;
        char** block = nullptr;
        KR::ErrorCode result = GetCurrVersActiveLibrariesInfo(&block, withPermanent);
        if (version == 0 || version == InfoCurrentVersion) {
            *info = block;
            return result;
        }
        Info::HandleOwner current(block);
        if (result == KR::NoError)
            result = ConvertInfoToOld(current.Get(), version, info);
        return result;
    });
}

// ----- Conversions --------------------------------------------------------------------------

std::int32_t LibrarySet::ConvertInfoToCurrent(char** info, char*** current, bool swapBytes) const
{
    return Info::ConvertToCurrent(info, current, swapBytes, urlCacheLocation_, [this](const IO::Location& location) {
        return IO::File(location).GetStatus() == KR::NoError && IsLocationStorableFileType(location, nullptr);
    });
}

std::int32_t LibrarySet::ConvertInfoToOld(char** current, std::int32_t version, char*** old)
{
    return Info::ConvertToOld(current, version, old);
}

// ----- Restoring, merging, resetting -------------------------------------------------------------

std::int32_t LibrarySet::SetActiveLibrariesFromInfo(char** info, bool swapBytes)
{
    return GuardError([&] {
        char** converted = nullptr;
        (void)ConvertInfoToCurrent(info, &converted, swapBytes);  // the handle tells
        if (converted == nullptr)
            return ErrBadIndex;
        Info::HandleOwner current(converted);

        // From here on the lists are replaced, whatever the block holds.
        activeLibraries_->Clear();
        otherObjects_->Clear();
        // A converted text block is always in this platform's byte order.
        const bool oldText = Info::HasOldTextHeader(*info, Info::SizeOf(info));
        enumerated_ = false;

        Info::ItemReader in(*current.Get(), Info::SizeOf(current.Get()), swapBytes && !oldText);
        if (in.Int32() != Info::Magic)
            return KR::NoError;
        useLanCache_ = in.Bool();
        // The set keeps its own cache locations.
        if (useLanCache_)
            (void)in.Location();
        (void)in.Location();
        AddStoredRecords(in, *activeLibraries_, *otherObjects_, !useLanCache_, false);
        return KR::NoError;
    });
}

bool LibrarySet::IsEqualActiveLibraries(char** info, bool withPermanent, bool compareCaches) const
{
    return Guard(false, [&] {
        char** converted = nullptr;
        (void)ConvertInfoToCurrent(info, &converted, false);
        if (converted == nullptr)
            return false;
        Info::HandleOwner current(converted);
        Info::ItemReader in(*current.Get(), Info::SizeOf(current.Get()), false);

        if (in.Int32() != Info::Magic)
            return false;
        const bool useLanCache = in.Bool();
        if (compareCaches && useLanCache != useLanCache_)
            return false;
        if (useLanCache) {
            const IO::Location lanCache = in.Location();
            if (compareCaches && lanCache != lanCacheLocation_)
                return false;
        }
        const IO::Location urlCache = in.Location();
        if (compareCaches && urlCache != urlCacheLocation_)
            return false;

        const std::int32_t count = in.Int32();
        if (count != (withPermanent ? activeLibraries_->GetCount() : activeLibraries_->GetUrlOrNotPermanentCount()))
            return false;
        // A stored library matches any library of the whole list with an
        // equal URL (a URL record) or an equal location (any other record);
        // the flags and the order do not count.
        std::unordered_set<std::string> urls;
        std::unordered_set<IO::Location> locations;
        for (std::int32_t i = 0; i < activeLibraries_->GetCount(); ++i) {
            urls.insert(activeLibraries_->Get(i)->url.Std());
            locations.insert(activeLibraries_->Get(i)->location);
        }
        for (std::int32_t i = 0; i < count; ++i) {
            const ActiveLibraryList::Record record = in.Library();
            if (record.isUrl ? urls.count(record.url.Std()) == 0 : locations.count(record.location) == 0)
                return false;
        }

        // Other objects must be the same, in the same order.
        const std::int32_t otherCount = in.Int32();
        if (otherCount != otherObjects_->GetCount())
            return false;
        for (std::int32_t i = 0; i < otherCount; ++i) {
            const OtherObjectList::Record record = in.OtherObject();
            const OtherObject& object = *otherObjects_->Get(i);
            if (record.location != object.location || record.url != object.url)
                return false;
        }
        return in.Int32() == Info::Magic;
    });
}

std::int32_t LibrarySet::MergeActiveLibraries(char** info)
{
    return GuardError([&] {
        // Only a binary block of this byte order is merged, read as it is.
        const std::size_t size = Info::SizeOf(info);
        if (Info::DetectVersion(size > 0 ? *info : nullptr, size, false) != Info::Version::Current)
            return KR::NoError;
        Info::ItemReader in(*info, size, false);
        (void)in.Int32();
        // The set keeps its own cache settings.
        if (in.Bool())
            (void)in.Location();
        (void)in.Location();
        AddStoredRecords(in, *activeLibraries_, *otherObjects_, true, true);
        return KR::NoError;
    });
}

std::int32_t LibrarySet::ResetActiveLibraries()
{
    return GuardError([&] {
        // The lists are emptied in place (which unmounts what the libraries
        // mounted), so the set never goes without them.
        activeLibraries_->Clear();
        otherObjects_->Clear();
        enumerated_ = false;
        useLanCache_ = false;
        return KR::NoError;
    });
}

}  // namespace LM
