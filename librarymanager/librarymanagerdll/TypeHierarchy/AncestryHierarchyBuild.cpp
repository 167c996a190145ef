// Building the type hierarchy: the breadth-first walk that moves sub-trees
// below the present revision of an ancestor, conforms parts to their
// ancestors and finally places the old parts.
//
// The walk is exactly the plain one (every observable choice, the order of
// the nodes, the paths and ids it produces). What is faster underneath lies
// in RecordIndex, made in one pass over the records when Build starts:
// - The records holding a path of multiplicity 2 or more: the plain walk
//   scans the whole part table for each such path, which makes a hierarchy
//   with many moved types quadratic. The index lists them by path id, in
//   record order, and keeps the list current as records get new paths.
// - The search of a record by its UnID, made several times for every node:
//   the part table's sorted index needs a binary search whose every step
//   reads a record and its part data at scattered places, so in a large
//   table each search waits on memory dozens of times. The index answers
//   from a hash table of the table's own answers; nothing Build changes
//   (ancestry ids, parameters) alters them.
// - The records' validity, type and ancestry id are read from one dense
//   array, and the new ancestry ids are written back to the records in
//   record order when Build ends, however it ends.
#include "AncestryHierarchy.hpp"

#include "KR/DebugChannel.hpp"
#include "KR/Exceptions.hpp"
#include "KRUtils/KRUtils.hpp"
#include "KRUtils/Progress.hpp"
#include "LibrarySet.hpp"
#include "LibrarySet/ModuleState.hpp"
#include "PartTable/PartTable.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <type_traits>
#include <vector>

namespace LM {

namespace {

// How often the walk reports its progress, in nodes.
constexpr std::int32_t ProgressStep = 25;

// Ends the progress phase however Build is left.
struct PhaseEnd {
    PhaseEnd() = default;
    PhaseEnd(const PhaseEnd&) = delete;
    PhaseEnd& operator=(const PhaseEnd&) = delete;
    ~PhaseEnd() { TTEndProcessPhase(); }
};

}  // namespace

// What Build reads of the part table again and again, gathered in one pass
// over the records when Build starts:
// - per record, in one dense array: whether it is valid, whether it takes
//   part in hierarchy work, whether it is an old part, and its ancestry id;
// - the records holding each path, in record order;
// - UnID -> the record the part table's nameless UnID search finds.
// Build changes no record's validity, file type or own UnID and leaves the
// table's indexes alone; it changes ancestry ids only through Move, which
// keeps this index current. So every answer is the one the table gives.
class AncestryHierarchy::RecordIndex {
public:
    explicit RecordIndex(const PartTable& table)
    {
        const std::int32_t n = std::max(table.GetCount(), 0);
        records_.resize(static_cast<std::size_t>(n));
        // The UnID table is made only where the table's UnID index lists
        // every record; before its first sort it lists none.
        const bool mirrorUnIDs = n > 0 && table.GetUnIDIndex().size() == static_cast<std::size_t>(n);
        if (mirrorUnIDs) {
            const std::size_t capacity =
                std::bit_ceil(static_cast<std::size_t>(n) + static_cast<std::size_t>(n) / 4 + 1);
            slots_.assign(capacity, Slot{});
            mask_ = capacity - 1;
        }
        std::vector<std::size_t> shared;  // slots of UnIDs that several records carry
        holders_.reserve(static_cast<std::size_t>(n));
        for (std::int32_t i = 0; i < n; ++i) {
            // The part data lie apart from the records: ask for those a few
            // records ahead while this one is read.
            if (const LibElement* ahead = table.Get(i + PrefetchDistance); ahead != nullptr)
                if (const SymbolData* data = ahead->GetSymbolData(); data != nullptr) {
                    __builtin_prefetch(&data->GetOwnUnID());
                    __builtin_prefetch(&data->ancestryId);
                }
            const LibElement* record = table.Get(i);
            Record& r = records_[static_cast<std::size_t>(i)];
            r.flags = record->valid ? Valid : 0;
            const SymbolData* data = record->GetSymbolData();
            const bool part = data != nullptr && IsLibraryPartFileType(record->fileType);
            if (data != nullptr)
                r.pathId = data->ancestryId;
            if (part) {
                r.flags |= Words(data->GetOwnUnID()).IsNull() ? HierarchyPart | OldPart : HierarchyPart;
                if (r.pathId != 0)
                    holders_.push_back(Holder(r.pathId, i));
            }
            if (!mirrorUnIDs || !part || (r.flags & OldPart) != 0)
                continue;  // only library parts have a key UnID other than the null one
            const KR::UnID& id = data->GetOwnUnID();
            const std::size_t at = Probe(id);
            if (Words(slots_[at].id).IsNull())
                slots_[at] = Slot{id, record->valid ? i : -1};
            else
                shared.push_back(at);
        }
        // Which record of a shared UnID is found depends on the index order.
        std::sort(shared.begin(), shared.end());
        shared.erase(std::unique(shared.begin(), shared.end()), shared.end());
        for (std::size_t at : shared)
            slots_[at].part = table.FindByUnID(slots_[at].id, nullptr);
        // Records were appended in ascending order: sorting by path id keeps
        // each path's holders ascending.
        std::sort(holders_.begin(), holders_.end());
    }

    // How many records ahead the scan asks for part data.
    static constexpr std::int32_t PrefetchDistance = 8;

    // Whether the UnID searches can be answered here.
    bool MirrorsUnIDs() const noexcept { return !slots_.empty(); }

    // The part table's nameless UnID search (MirrorsUnIDs() must be true).
    std::int32_t FindByUnID(const KR::UnID& id) const noexcept
    {
        const Words key(id);
        if (key.IsNull())
            return -1;
        const Slot& slot = slots_[Probe(id)];
        return Words(slot.id).IsNull() ? -1 : slot.part;
    }

    bool IsValid(std::int32_t i) const noexcept { return Has(i) && (At(i).flags & Valid) != 0; }
    bool IsHierarchyPart(std::int32_t i) const noexcept { return Has(i) && (At(i).flags & HierarchyPart) != 0; }
    bool IsOldPart(std::int32_t i) const noexcept { return Has(i) && (At(i).flags & OldPart) != 0; }
    // The ancestry id of a record as Build has set it (0 for a record
    // without part data).
    std::uint32_t PathOf(std::int32_t i) const noexcept { return Has(i) ? At(i).pathId : 0; }
    bool Holds(std::int32_t i, std::uint32_t pathId) const noexcept
    {
        return IsHierarchyPart(i) && At(i).pathId == pathId;
    }

    // The records holding `pathId`, ascending: a copy, as the caller moves
    // them while it goes through the list.
    std::vector<std::int32_t> HoldersOf(std::uint32_t pathId) const
    {
        std::vector<std::int32_t> list;
        if (pathId == 0)
            return list;
        auto at = std::lower_bound(holders_.begin(), holders_.end(), Holder(pathId, 0));
        for (; at != holders_.end() && (*at >> 32) == pathId; ++at) {
            const auto i = static_cast<std::int32_t>(*at & 0xFFFFFFFFu);
            if (Holds(i, pathId))
                list.push_back(i);
        }
        if (pathId < addedHead_.size() && addedHead_[pathId] != 0) {
            for (std::uint32_t link = addedHead_[pathId]; link != 0; link = added_[link - 1].next)
                if (Holds(added_[link - 1].part, pathId))
                    list.push_back(added_[link - 1].part);
            // A record can be listed both ways, or twice among the added.
            std::sort(list.begin(), list.end());
            list.erase(std::unique(list.begin(), list.end()), list.end());
        }
        return list;
    }

    // Record `i` (one that takes part in hierarchy work) now holds `pathId`,
    // an id the tree has just returned for a live path.
    void Move(std::int32_t i, std::uint32_t pathId)
    {
        if (!IsHierarchyPart(i) || At(i).pathId == pathId)
            return;
        records_[static_cast<std::size_t>(i)].pathId = pathId;
        records_[static_cast<std::size_t>(i)].flags |= Changed;
        if (pathId == 0)
            return;
        if (pathId >= addedHead_.size())
            addedHead_.resize(std::max<std::size_t>(std::size_t{pathId} + 1, addedHead_.size() * 2), 0);
        added_.push_back(Link{i, addedHead_[pathId]});
        addedHead_[pathId] = static_cast<std::uint32_t>(added_.size());
    }

    // Gives the records of `set` the ancestry ids that Move changed, in
    // record order.
    void WriteBack(LibrarySet& set) const noexcept
    {
        for (std::size_t i = 0; i < records_.size(); ++i)
            if ((records_[i].flags & Changed) != 0)
                set.SetSymbolAncestryId(static_cast<std::int32_t>(i), records_[i].pathId);
    }

private:
    static constexpr std::uint32_t Valid = 1;
    static constexpr std::uint32_t HierarchyPart = 2;
    static constexpr std::uint32_t OldPart = 4;
    static constexpr std::uint32_t Changed = 8;
    struct Record {
        std::uint32_t pathId = 0;
        std::uint32_t flags = 0;
    };
    // A UnID's bytes as four words. Two UnIDs are equal exactly when their
    // GUIDs are equal field by field, that is when their bytes are.
    struct Words {
        std::uint64_t w[4];

        explicit Words(const KR::UnID& id) noexcept
        {
            static_assert(sizeof(w) == sizeof(KR::UnID) && std::has_unique_object_representations_v<KR::GUID>);
            std::memcpy(w, &id, sizeof(w));
        }
        bool IsNull() const noexcept { return (w[0] | w[1] | w[2] | w[3]) == 0; }
        friend bool operator==(const Words& a, const Words& b) noexcept
        {
            return ((a.w[0] ^ b.w[0]) | (a.w[1] ^ b.w[1]) | (a.w[2] ^ b.w[2]) | (a.w[3] ^ b.w[3])) == 0;
        }
    };
    // One entry of the UnID table, open addressing with linear probing, so
    // a search usually reads one cache line. A null UnID marks a free slot:
    // no record is keyed by it.
    struct Slot {
        KR::UnID id{};
        std::int32_t part = -1;
    };
    // One holder added during the run, in a list per path id.
    struct Link {
        std::int32_t part;
        std::uint32_t next;  // 1 + the next link's place in added_; 0: the end
    };

    static std::uint64_t Holder(std::uint32_t pathId, std::int32_t i) noexcept
    {
        return (std::uint64_t{pathId} << 32) | static_cast<std::uint32_t>(i);
    }

    static std::size_t Hash(const Words& id) noexcept
    {
        const std::uint64_t* w = id.w;
        std::uint64_t h = (w[0] ^ std::rotl(w[1], 29)) * 0x9E3779B97F4A7C15ull;
        h ^= (w[2] ^ std::rotl(w[3], 41)) * 0xC2B2AE3D27D4EB4Full;
        h ^= h >> 32;
        h *= 0xD6E8FEB86659FD93ull;
        h ^= h >> 29;
        return static_cast<std::size_t>(h);
    }

    // The slot holding `id`, or the free slot where it would go.
    std::size_t Probe(const KR::UnID& id) const noexcept
    {
        const Words key(id);
        std::size_t at = Hash(key) & mask_;
        for (;; at = (at + 1) & mask_) {
            const Words held(slots_[at].id);
            if (held.IsNull() || held == key)
                return at;
        }
    }

    bool Has(std::int32_t i) const noexcept { return i >= 0 && static_cast<std::size_t>(i) < records_.size(); }
    const Record& At(std::int32_t i) const noexcept { return records_[static_cast<std::size_t>(i)]; }

    std::vector<Record> records_;
    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
    // (path id, record) of every holder when Build started, ascending; an
    // entry goes stale when its record moves, and is then skipped.
    std::vector<std::uint64_t> holders_;
    // Holders gained since: by path id, 1 + the place of the first link.
    std::vector<std::uint32_t> addedHead_;
    std::vector<Link> added_;
};

void AncestryHierarchy::Build(bool conformAll)
{
    if (librarySet == nullptr)
        return;  // no part table to reconcile with
    PartTable& table = *librarySet->partTable_;
    const std::int32_t n = librarySet->GetSymbolNumber();
    TTBeginNextProcessPhase(118, n);
    PhaseEnd phaseEnd;

    std::vector<char> found(static_cast<std::size_t>(std::max(n, 0)), 0);
    std::vector<char> moved(found.size(), 0);
    IndexList list(20);
    IdQueue queue(1000);
    RecordIndex records(table);
    recordIndex_ = &records;
    // However Build is left, the records get the ancestry ids it gave them.
    struct Detach {
        AncestryHierarchy& tree;
        ~Detach()
        {
            tree.recordIndex_->WriteBack(*tree.librarySet);
            tree.recordIndex_ = nullptr;
        }
    } detach{*this};

    std::int32_t count = 0;
    try {
        PushChildNodeIds(GetRootNodeId(), &queue);
        while (!queue.IsEmpty()) {
            if (count % ProgressStep == 0)
                TTSetProcessValue(count);
            ++count;
            const std::uint32_t node = queue.Pop();
            KR::UnID id{};
            GetLastPathNode(node, &id);
            if (id == NULLUnID)
                continue;  // old parts: not walked below

            const std::int32_t part = FindPart(id);
            if (part != -1) {
                found[static_cast<std::size_t>(part)] = 1;
                if (conformAll || moved[static_cast<std::size_t>(part)] != 0)
                    ConformSymbolToNewHierarchyPosition(node, part);
                PushChildNodeIds(node, &queue);
                continue;
            }
            if (GetSimilarUnIDIdxs(id, &list) == 0) {
                PushChildNodeIds(node, &queue);
                continue;
            }
            // Another revision is present: the node's sub-tree moves below it.
            const std::int32_t similar = list[1];
            const std::uint32_t target = recordIndex_->PathOf(similar);
            IdQueue before(50);
            PushChildNodeIds(target, &before);
            MoveSubtree(node, similar, moved.data());
            if (found[static_cast<std::size_t>(similar)] != 0) {
                // The target's children were queued already; queue those the
                // move added.
                IdQueue after(50);
                PushChildNodeIds(target, &after);
                PushDifference(&before, &after, &queue);
            }
        }
    } catch (const KR::KRException& e) {
        e.Print(KR::dbChannel);
        return;
    }
    BuildOldLibParts(count);
}

std::int32_t AncestryHierarchy::GetSimilarUnIDIdxs(const KR::UnID& id, IndexList* list)
{
    list->Clear();
    const std::int32_t found = librarySet->SearchSymbolByMainUnID(id, list);
    return found > 0 ? found : 0;
}

void AncestryHierarchy::PushDifference(IdQueue* before, IdQueue* after, IdQueue* target)
{
    while (!before->IsEmpty()) {
        const std::uint32_t x = before->Pop();
        while (!after->IsEmpty()) {
            const std::uint32_t y = after->Pop();
            if (y == x)
                break;
            target->Push(y);
        }
        if (after->IsEmpty())
            break;  // the rest of `before` is dropped
    }
    while (!after->IsEmpty())
        target->Push(after->Pop());
}

std::int32_t AncestryHierarchy::FindPart(const KR::UnID& id) const
{
    return recordIndex_->MirrorsUnIDs() ? recordIndex_->FindByUnID(id) : librarySet->SearchSymbolByUnID(id, nullptr);
}

void AncestryHierarchy::SetAncestryId(std::int32_t part, std::uint32_t pathId)
{
    recordIndex_->Move(part, pathId);
}

void AncestryHierarchy::MoveSubtree(std::uint32_t nodeId, std::int32_t similarPart, char* moved)
{
    const std::uint32_t target = recordIndex_->PathOf(similarPart);
    const std::uint32_t position = GetPathLength(nodeId) - 1;
    AncestryInfo ancestry;
    (void)GetAncestryInfo(target, &ancestry);
    KR::UnID similarId{};
    librarySet->GetSymbolOwnUnID(similarPart, &similarId);
    ancestry.Append(similarId);

    IdQueue ends(50);
    PushSubPathIds(nodeId, &ends);
    while (!ends.IsEmpty()) {
        const std::uint32_t end = ends.Pop();
        const std::uint32_t multiplicity = GetPathMultiplicity(end);
        auto replace = [&](std::int32_t i) {
            if (!recordIndex_->Holds(i, end))
                return;
            const std::uint32_t replaced = ReplaceAncestryPath(ancestry, position, end);
            moved[static_cast<std::size_t>(i)] = 1;
            SetAncestryId(i, replaced);
        };
        if (multiplicity == 1) {
            KR::UnID id{};
            GetLastPathNode(end, &id);
            std::int32_t holder = FindPart(id);
            if (!recordIndex_->IsValid(holder))
                holder = librarySet->SearchDummySymbol(id, nullptr);
            replace(holder);
        } else {
            // The records holding the path, in record order: the same ones, in
            // the same order, as a scan of the whole table finds.
            for (std::int32_t i : recordIndex_->HoldersOf(end))
                replace(i);
        }
    }
}

std::uint32_t AncestryHierarchy::ReplaceAncestryPath(AncestryInfo ancestry, std::uint32_t position,
                                                     std::uint32_t pathId)
{
    const std::uint32_t length = GetPathLength(pathId);
    std::vector<KR::UnID> old(length);
    GetPath(pathId, old.data());
    for (std::uint32_t k = position + 1; k < length; ++k)
        ancestry.Append(old[k]);
    ancestry.CheckAndFix();
    return ReplacePath(pathId, ancestry.GetAncestorsRef(), ancestry.GetAncestorsCount());
}

void AncestryHierarchy::ConformSymbolToNewHierarchyPosition(std::uint32_t pathId, std::int32_t part)
{
    const std::uint32_t length = GetPathLength(pathId);
    std::int32_t parent = -1;
    for (std::uint32_t k = 1; k <= length; ++k) {
        KR::UnID id{};
        GetPathNodeFromBack(pathId, k, &id);
        parent = FindPart(id);
        if (parent != -1)
            break;
    }
    (void)UpdatePartParameters(part, parent, false);
}

// An old part's path is replaced when its nearest ancestor with a present
// revision S lies k steps above it: the new path is S's path followed by the
// k nodes below the replaced ancestor on the old path (the part's own
// ancestors there, in order, and its null UnID last).
void AncestryHierarchy::BuildOldLibParts(std::int32_t progressCount)
{
    const std::int32_t n = librarySet->GetSymbolNumber();
    for (std::int32_t i = 0; i < n; ++i) {
        const std::uint32_t pathId = recordIndex_->PathOf(i);
        if (!recordIndex_->IsOldPart(i) || pathId == 0)
            continue;
        if (progressCount % ProgressStep == 0)
            TTSetProcessValue(progressCount);
        ++progressCount;
        try {
            for (std::uint32_t k = 1;; ++k) {
                KR::UnID ancestor{};
                GetPathNodeFromBack(pathId, k, &ancestor);
                if (ancestor == NULLUnID)
                    break;  // the root: nothing present above the part
                const std::int32_t present = FindPart(ancestor);
                if (librarySet->IsValidIndex(present)) {
                    (void)UpdatePartParameters(i, present, true);
                    break;
                }
                IndexList similar(50);
                if (librarySet->SearchSymbolByMainUnID(ancestor, &similar) > 0) {
                    const std::int32_t s = similar[1];
                    const std::uint32_t sPath = recordIndex_->PathOf(s);
                    std::vector<KR::UnID> nodes(GetPathLength(sPath));
                    GetPath(sPath, nodes.data());
                    const std::uint32_t length = GetPathLength(pathId);
                    std::vector<KR::UnID> old(length);
                    GetPath(pathId, old.data());
                    nodes.insert(nodes.end(), old.end() - k, old.end());
                    const std::uint32_t replaced =
                        ReplacePath(pathId, nodes.data(), static_cast<std::uint32_t>(nodes.size()));
                    SetAncestryId(i, replaced);
                    (void)UpdatePartParameters(i, s, true);
                    break;
                }
            }
        } catch (const KR::IllegalArgumentException&) {
            // This part cannot be placed; the others still are.
        }
    }
}

}  // namespace LM
