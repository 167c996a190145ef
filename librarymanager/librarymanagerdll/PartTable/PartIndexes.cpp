// The part table's two sorted indexes, the duplicate check and the searches
// over the table.
//
// Sorting: the indexes hold record indices only. To sort, each record's keys
// are copied once into an auxiliary array, the array is sorted and the
// indices are taken from it. For the name index the key is the document
// name's first sixteen bytes packed into two integers in byte order and the
// mapped type; names that agree in those bytes are compared in full with the
// module's name comparison, so the order is exactly the one that comparing
// the records would give. The sorted names then give every record the rank
// of its (name, mapped type), and the UnID index sorts the packed GUIDs
// (integers in the GUID's field order) followed by that rank, without
// comparing a string again. The duplicate check runs on the same keys.
#include "Guard.hpp"
#include "PartTable/PartTable.hpp"

#include "IO/Location.hpp"
#include "KR/DebugChannel.hpp"
#include "KR/Text.hpp"
#include "LibrarySet/ModuleState.hpp"

#include <algorithm>
#include <cstring>

namespace LM {

namespace {

// The first sixteen bytes of a name, zero after its terminator, as two
// integers whose order is the byte order of the names' beginnings.
struct NamePrefix {
    std::uint64_t high;
    std::uint64_t low;
};

NamePrefix MakeNamePrefix(const char* name) noexcept
{
    std::uint64_t words[2] = {0, 0};
    bool ended = false;
    for (int k = 0; k < 16; ++k) {
        const unsigned char c = ended ? 0 : static_cast<unsigned char>(name[k]);
        ended = ended || c == 0;
        words[k / 8] = (words[k / 8] << 8) | c;
    }
    return {words[0], words[1]};
}

struct NameKey {
    std::uint64_t high;
    std::uint64_t low;
    const char* name;
    FTM::GeneralID type;
    std::uint32_t index;
};

// Two names with equal prefixes are equal when the prefix holds the
// terminator; otherwise the full comparison decides.
int CompareNameKeys(const NameKey& a, const NameKey& b) noexcept
{
    if (a.high != b.high)
        return a.high < b.high ? -1 : 1;
    if (a.low != b.low)
        return a.low < b.low ? -1 : 1;
    if ((a.low & 0xFFu) == 0)
        return 0;
    return CompareDocumentNames(a.name, b.name);
}

bool NameKeyLess(const NameKey& a, const NameKey& b) noexcept
{
    if (const int c = CompareNameKeys(a, b); c != 0)
        return c < 0;
    return a.type < b.type;
}

bool SameName(const NameKey& a, const NameKey& b) noexcept
{
    return CompareNameKeys(a, b) == 0;
}

struct PackedGuid {
    std::uint64_t high;  // data1, data2, data3
    std::uint64_t low;   // data4, first byte most significant
};

PackedGuid Pack(const KR::GUID& guid) noexcept
{
    std::uint64_t low = 0;
    for (std::uint8_t byte : guid.data4)
        low = (low << 8) | byte;
    return {(static_cast<std::uint64_t>(guid.data1) << 32) | (static_cast<std::uint64_t>(guid.data2) << 16) |
                guid.data3,
            low};
}

struct UnIDKey {
    PackedGuid main;
    PackedGuid rev;
    std::uint32_t nameTypeRank;  // rank of (name, mapped type) in name order
    std::uint32_t nameRank;      // rank of the name alone
    std::uint32_t index;
};

bool UnIDKeyLess(const UnIDKey& a, const UnIDKey& b) noexcept
{
    if (a.main.high != b.main.high)
        return a.main.high < b.main.high;
    if (a.main.low != b.main.low)
        return a.main.low < b.main.low;
    if (a.rev.high != b.rev.high)
        return a.rev.high < b.rev.high;
    if (a.rev.low != b.rev.low)
        return a.rev.low < b.rev.low;
    return a.nameTypeRank < b.nameTypeRank;
}

bool SameUnID(const UnIDKey& a, const UnIDKey& b) noexcept
{
    return a.main.high == b.main.high && a.main.low == b.main.low && a.rev.high == b.rev.high &&
           a.rev.low == b.rev.low;
}

bool IsNullKey(const UnIDKey& key) noexcept
{
    return (key.main.high | key.main.low | key.rev.high | key.rev.low) == 0;
}

// Order of UnIDs: main GUID, then revision GUID.
int CompareUnIDs(const KR::UnID& a, const KR::UnID& b) noexcept
{
    if (const int c = KR::guidManager.Compare(a.mainGuid, b.mainGuid); c != 0)
        return c;
    return KR::guidManager.Compare(a.revGuid, b.revGuid);
}

bool IsNullUnID(const KR::UnID& id) noexcept
{
    return id == NULLUnID;
}

// Fills the name, count and locations of a duplicate report.
template <typename Report, typename LocationOf>
void FillReport(Report& report, const char* name, std::uint32_t count, LocationOf&& locationOf)
{
    KR::ch04Manager.CopyN(report.name, name, sizeof report.name - 1);
    report.count = count;
    if (count > DuplicateNameReport::InlineCount) {
        report.locations = new IO::Location[count];
        for (std::uint32_t k = 0; k < count; ++k)
            report.locations[k] = locationOf(k);
    } else {
        for (std::uint32_t k = 0; k < count; ++k)
            report.inlineLocations[k] = locationOf(k);
    }
}

}  // namespace

// ----- Building --------------------------------------------------------------

// The sorted keys that building the indexes leaves, on which the duplicate
// check runs: the UnID index's keys, and by position in the name index the
// rank of the record's (name, mapped type).
struct PartTable::SortedKeys {
    std::vector<UnIDKey> unID;
    std::vector<std::uint32_t> nameTypeRankAt;
};

void PartTable::BuildIndexes()
{
    SortedKeys keys;
    Sort(keys);
    // Records are read only for what is reported.
    errorHandler_.DuplicateCheckStarted();
    ReportSharedUnIDs(keys);
    ReportSharedNames(keys);
}

void PartTable::SortIndexes()
{
    SortedKeys keys;
    Sort(keys);
}

void PartTable::Sort(SortedKeys& sorted)
{
    nameIndex_.clear();
    unIDIndex_.clear();
    const std::size_t n = count_;

    // The name index, and for every record the rank of its name and of its
    // (name, mapped type) in name order: equal names share a rank.
    std::vector<std::uint32_t> nameRank(n);
    std::vector<std::uint32_t> nameTypeRank(n);
    std::vector<std::uint32_t>& nameTypeRankAt = sorted.nameTypeRankAt;
    nameTypeRankAt.assign(n, 0);
    {
        std::vector<NameKey> keys(n);
        for (std::size_t i = 0; i < n; ++i) {
            const LibElement& record = At(i);
            const NamePrefix prefix = MakeNamePrefix(record.documentName);
            keys[i] = {prefix.high, prefix.low, record.documentName, MapPartFileType(record.fileType),
                       static_cast<std::uint32_t>(i)};
        }
        std::sort(keys.begin(), keys.end(), NameKeyLess);
        nameIndex_.resize(n);
        std::uint32_t rank = 0;
        std::uint32_t typeRank = 0;
        for (std::size_t k = 0; k < n; ++k) {
            if (k > 0) {
                const bool sameName = SameName(keys[k - 1], keys[k]);
                rank += sameName ? 0 : 1;
                typeRank += sameName && keys[k - 1].type == keys[k].type ? 0 : 1;
            }
            nameIndex_[k] = keys[k].index;
            nameRank[keys[k].index] = rank;
            nameTypeRank[keys[k].index] = typeRank;
            nameTypeRankAt[k] = typeRank;
        }
    }

    // The UnID index: the key UnID, then the (name, mapped type) rank, which
    // orders as name and type do.
    std::vector<UnIDKey>& keys = sorted.unID;
    keys.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const KR::UnID& id = GetKeyUnID(At(i));
        keys[i] = {Pack(id.mainGuid), Pack(id.revGuid), nameTypeRank[i], nameRank[i], static_cast<std::uint32_t>(i)};
    }
    std::sort(keys.begin(), keys.end(), UnIDKeyLess);
    unIDIndex_.resize(n);
    for (std::size_t k = 0; k < n; ++k)
        unIDIndex_[k] = keys[k].index;
}

// The locations of the records at positions start, start + 1, ... of an
// index, for a report.
auto PartTable::LocationsFrom(const std::vector<std::uint32_t>& index, std::size_t start) const
{
    return [this, &index, start](std::uint32_t k) -> const IO::Location& { return At(index[start + k]).location; };
}

// Parts that share a UnID, and files without UnID that share a name and a
// type: runs of equal keys in the UnID index.
void PartTable::ReportSharedUnIDs(const SortedKeys& sorted)
{
    const std::vector<UnIDKey>& keys = sorted.unID;
    const std::size_t n = keys.size();
    for (std::size_t runStart = 0; runStart < n;) {
        std::size_t runEnd = runStart + 1;
        while (runEnd < n && SameUnID(keys[runStart], keys[runEnd]))
            ++runEnd;
        const bool nullKey = IsNullKey(keys[runStart]);
        if (runEnd - runStart >= 2) {
            for (std::size_t subStart = runStart; subStart < runEnd;) {
                std::size_t subEnd = subStart + 1;
                while (subEnd < runEnd && (nullKey ? keys[subEnd].nameTypeRank == keys[subStart].nameTypeRank
                                                   : keys[subEnd].nameRank == keys[subStart].nameRank))
                    ++subEnd;
                const auto count = static_cast<std::uint32_t>(subEnd - subStart);
                const LibElement& first = At(keys[subStart].index);
                if (nullKey) {
                    if (count >= 2) {
                        DuplicateNameReport report;
                        FillReport(report, first.documentName, count, LocationsFrom(unIDIndex_, subStart));
                        errorHandler_.DuplicateFilesFound(&report);
                    }
                } else {
                    DuplicateUnIDReport report;
                    report.unID = GetKeyUnID(first);
                    FillReport(report, first.documentName, count, LocationsFrom(unIDIndex_, subStart));
                    errorHandler_.DuplicateUnIDFound(&report);
                }
                subStart = subEnd;
            }
        }
        runStart = runEnd;
    }
}

// Library parts that share a name but not a UnID: runs of equal names and
// types in the name index.
void PartTable::ReportSharedNames(const SortedKeys& sorted)
{
    const std::vector<std::uint32_t>& nameTypeRankAt = sorted.nameTypeRankAt;
    const std::size_t n = nameTypeRankAt.size();
    const FTM::GeneralID firstType = GetModuleState().firstPartFileType;
    for (std::size_t runStart = 0; runStart < n;) {
        std::size_t runEnd = runStart + 1;
        while (runEnd < n && nameTypeRankAt[runEnd] == nameTypeRankAt[runStart])
            ++runEnd;
        if (runEnd - runStart >= 2) {
            const LibElement& first = At(nameIndex_[runStart]);
            if (MapPartFileType(first.fileType) == firstType) {
                const KR::UnID& key = GetKeyUnID(first);
                bool differs = false;
                for (std::size_t k = runStart + 1; k < runEnd && !differs; ++k)
                    differs = GetKeyUnID(At(nameIndex_[k])) != key;
                if (differs) {
                    DuplicateNameReport report;
                    FillReport(report, first.documentName, static_cast<std::uint32_t>(runEnd - runStart),
                               LocationsFrom(nameIndex_, runStart));
                    errorHandler_.DuplicateNameFound(&report);
                }
            }
        }
        runStart = runEnd;
    }
}

void PartTable::UpdateIndexes(std::int32_t i, bool reStored)
{
    const LibElement* record = Get(i);
    if (record == nullptr)
        return;
    const auto index = static_cast<std::uint32_t>(i);
    if (reStored) {
        for (std::vector<std::uint32_t>* list : {&nameIndex_, &unIDIndex_}) {
            auto found = std::find(list->begin(), list->end(), index);
            if (found != list->end())
                list->erase(found);
        }
    }
    const char* name = record->documentName;
    auto namePosition = std::lower_bound(nameIndex_.begin(), nameIndex_.end(), name,
                                         [this](std::uint32_t entry, const char* key) {
                                             return CompareDocumentNames(At(entry).documentName, key) < 0;
                                         });
    nameIndex_.insert(namePosition, index);

    const KR::UnID& id = GetKeyUnID(*record);
    auto unIDPosition = std::lower_bound(unIDIndex_.begin(), unIDIndex_.end(), id,
                                         [this](std::uint32_t entry, const KR::UnID& key) {
                                             return CompareUnIDs(GetKeyUnID(At(entry)), key) < 0;
                                         });
    unIDIndex_.insert(unIDPosition, index);
}

// ----- Searches ------------------------------------------------------------------

std::int32_t PartTable::FindByLocation(const IO::Location& location) const
{
    for (std::size_t i = 0; i < count_; ++i) {
        const LibElement& record = At(i);
        if (record.valid && record.location == location)
            return static_cast<std::int32_t>(i);
    }
    return -1;
}

std::int32_t PartTable::FindByFileName(const char* name, const FTM::GeneralID* type) const
{
    if (name == nullptr)
        return -1;
    IO::Name last;
    for (std::size_t i = 0; i < count_; ++i) {
        const LibElement& record = At(i);
        if (!record.valid || (type != nullptr && record.fileType != *type))
            continue;
        if (record.location.GetLastLocalName(&last) != 0)
            continue;
        if (KR::ch04Manager.Compare(last.ToCStr(), name, 1) == 0)
            return static_cast<std::int32_t>(i);
    }
    return -1;
}

void PartTable::GetNameRange(const char* name, std::size_t* first, std::size_t* last) const
{
    *first = *last = 0;
    if (name == nullptr)
        return;
    auto begin = std::lower_bound(nameIndex_.begin(), nameIndex_.end(), name,
                                  [this](std::uint32_t entry, const char* key) {
                                      return CompareDocumentNames(At(entry).documentName, key) < 0;
                                  });
    auto end = std::upper_bound(begin, nameIndex_.end(), name, [this](const char* key, std::uint32_t entry) {
        return CompareDocumentNames(key, At(entry).documentName) < 0;
    });
    *first = static_cast<std::size_t>(begin - nameIndex_.begin());
    *last = static_cast<std::size_t>(end - nameIndex_.begin());
}

std::int32_t PartTable::FindByDocumentName(const char* name) const
{
    if (name == nullptr || count_ == 0)
        return -1;
    auto found = std::lower_bound(nameIndex_.begin(), nameIndex_.end(), name,
                                  [this](std::uint32_t entry, const char* key) {
                                      return CompareDocumentNames(At(entry).documentName, key) < 0;
                                  });
    if (found == nameIndex_.end())
        return -1;
    const LibElement& record = At(*found);
    if (CompareDocumentNames(record.documentName, name) != 0 || !record.valid)
        return -1;
    return static_cast<std::int32_t>(*found);
}

std::int32_t PartTable::FindByUnID(const KR::UnID& id, const char* name) const
{
    if (count_ == 0)
        return -1;
    if (!IsNullUnID(id)) {
        auto found = std::lower_bound(unIDIndex_.begin(), unIDIndex_.end(), id,
                                      [this](std::uint32_t entry, const KR::UnID& key) {
                                          return CompareUnIDs(GetKeyUnID(At(entry)), key) < 0;
                                      });
        if (found == unIDIndex_.end())
            return -1;
        const LibElement& record = At(*found);
        if (GetKeyUnID(record) != id || !record.valid)
            return -1;
        return static_cast<std::int32_t>(*found);
    }
    std::size_t first = 0;
    std::size_t last = 0;
    GetNameRange(name, &first, &last);
    for (std::size_t k = first; k < last; ++k) {
        const LibElement& record = At(nameIndex_[k]);
        if (record.valid && IsNullUnID(GetKeyUnID(record)))
            return static_cast<std::int32_t>(nameIndex_[k]);
    }
    return -1;
}

std::int32_t PartTable::FindByMainGuid(const KR::UnID& id, KR::VAArray<std::int32_t>* hits) const
{
    hits->Clear();
    std::int32_t count = 0;
    const std::size_t slot = chains_.Find(id.mainGuid);
    if (slot == ChainMap::None)
        return 0;
    // A hit list that cannot grow keeps the hits found so far.
    (void)RunGuarded([&] {
        for (std::uint32_t i = chains_.At(slot).head; i != NoRecord; i = chainNext_[i]) {
            const LibElement& record = At(i);
            if (record.valid && IsLibraryPartFileType(record.fileType)) {
                hits->Push(static_cast<std::int32_t>(i));
                ++count;
            }
        }
    });
    return count;
}

std::int32_t PartTable::FindFirstWithOwnUnID(const KR::UnID& id) const
{
    const std::size_t slot = chains_.Find(id.mainGuid);
    if (slot == ChainMap::None)
        return -1;
    for (std::uint32_t i = chains_.At(slot).head; i != NoRecord; i = chainNext_[i])
        if (At(i).GetSymbolData()->GetOwnUnID() == id)
            return static_cast<std::int32_t>(i);
    return -1;
}

std::int32_t PartTable::FindPlaceholder(const KR::UnID& id, const char* name) const
{
    if (IsNullUnID(id)) {
        if (name == nullptr)
            return -1;
        // Records without part data have NULLUnID too: scan the table.
        for (std::size_t i = 0; i < count_; ++i) {
            const LibElement& record = At(i);
            const SymbolData* data = record.GetSymbolData();
            if (record.valid || (data != nullptr && !IsNullUnID(data->GetOwnUnID())))
                continue;
            if (CompareDocumentNames(record.documentName, name) == 0)
                return static_cast<std::int32_t>(i);
        }
        return -1;
    }
    // Only records with part data can carry a UnID other than NULLUnID, and
    // their chain lists them in table order.
    const std::size_t slot = chains_.Find(id.mainGuid);
    if (slot == ChainMap::None)
        return -1;
    for (std::uint32_t i = chains_.At(slot).head; i != NoRecord; i = chainNext_[i]) {
        const LibElement& record = At(i);
        if (record.valid || record.GetSymbolData()->GetOwnUnID() != id)
            continue;
        if (name == nullptr || CompareDocumentNames(record.documentName, name) == 0)
            return static_cast<std::int32_t>(i);
    }
    return -1;
}

std::int32_t PartTable::GetSortedIndexByName(std::int32_t k) const noexcept
{
    if (!IsValidIndex(k) || static_cast<std::size_t>(k) >= nameIndex_.size())
        return -1;
    return static_cast<std::int32_t>(nameIndex_[static_cast<std::size_t>(k)]);
}

}  // namespace LM
