// Building the type hierarchy: the breadth-first walk that moves sub-trees
// below the present revision of an ancestor, conforms parts to their
// ancestors and finally places the old parts.
//
// The walk is exactly the plain one (every observable choice, the order of
// the nodes, the paths and ids it produces). Two things are faster
// underneath:
// - The search for the records holding a path of multiplicity 2 or more:
//   the plain walk scans the whole part table for each such path, which
//   makes a hierarchy with many moved types quadratic. Build instead keeps
//   an index from path id to the records holding it, in record order, and
//   keeps it current as records get new paths.
// - The search of a record by its UnID, made several times for every node:
//   the part table's sorted index needs a binary search whose every step
//   reads a record and its part data at a scattered place, so in a large
//   table each search costs dozens of cache misses. Build answers these
//   searches from a hash table of the table's answers, made once per run;
//   nothing Build changes (ancestry ids, parameters) alters them.
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
#include <unordered_map>
#include <vector>

namespace LM {

namespace {

// How often the walk reports its progress, in nodes.
constexpr std::int32_t ProgressStep = 25;

// The records that take part in hierarchy work: those of a library part file
// type that have part data.
const SymbolData* HierarchyData(const PartTable& table, std::int32_t i)
{
    const LibElement* record = table.Get(i);
    if (record == nullptr || !IsLibraryPartFileType(record->fileType))
        return nullptr;
    return record->GetSymbolData();
}

// Ends the progress phase however Build is left.
struct PhaseEnd {
    PhaseEnd() = default;
    PhaseEnd(const PhaseEnd&) = delete;
    PhaseEnd& operator=(const PhaseEnd&) = delete;
    ~PhaseEnd() { TTEndProcessPhase(); }
};

}  // namespace

// Path id -> the hierarchy records holding that path, ascending. Filled from
// the part table when Build starts; every SetAncestryId of the run keeps it
// current, and nothing else changes ancestry ids while Build runs.
class AncestryHierarchy::HolderIndex {
public:
    explicit HolderIndex(const PartTable& table)
    {
        const std::int32_t n = table.GetCount();
        for (std::int32_t i = 0; i < n; ++i) {
            const SymbolData* data = HierarchyData(table, i);
            if (data != nullptr && data->ancestryId != 0)
                holders_[data->ancestryId].push_back(i);
        }
    }

    // A copy: the caller changes the index while it goes through the list.
    std::vector<std::int32_t> Get(std::uint32_t pathId) const
    {
        auto it = holders_.find(pathId);
        return it != holders_.end() ? it->second : std::vector<std::int32_t>{};
    }

    void Move(std::int32_t part, std::uint32_t from, std::uint32_t to)
    {
        if (from == to)
            return;
        if (from != 0) {
            auto it = holders_.find(from);
            if (it != holders_.end()) {
                std::vector<std::int32_t>& list = it->second;
                auto at = std::lower_bound(list.begin(), list.end(), part);
                if (at != list.end() && *at == part)
                    list.erase(at);
                if (list.empty())
                    holders_.erase(it);
            }
        }
        if (to != 0) {
            std::vector<std::int32_t>& list = holders_[to];
            auto at = std::lower_bound(list.begin(), list.end(), part);
            if (at == list.end() || *at != part)
                list.insert(at, part);
        }
    }

private:
    std::unordered_map<std::uint32_t, std::vector<std::int32_t>> holders_;
};

// UnID -> the record the part table's nameless UnID search finds: for a
// UnID of one record, that record when it is valid (-1 otherwise); for a
// UnID that several records carry, the table's own answer; for any other
// UnID, the null one included, -1. An open-addressing table with linear
// probing, so a search usually reads one cache line; a null UnID marks a
// free slot (no record is keyed by it).
//
// The answers hold for as long as no record changes its validity, its own
// UnID or its file type and the table's indexes stay as they are: Build
// changes none of them. A table whose UnID index does not list every
// record (not yet sorted) is not mirrored: Usable() is false and the table
// is searched directly.
class AncestryHierarchy::PartLookup {
public:
    explicit PartLookup(const PartTable& table)
    {
        const std::int32_t n = table.GetCount();
        if (n <= 0 || table.GetUnIDIndex().size() != static_cast<std::size_t>(n))
            return;
        const std::size_t capacity = std::bit_ceil(static_cast<std::size_t>(n) + static_cast<std::size_t>(n) / 4 + 1);
        slots_.assign(capacity, Slot{});
        mask_ = capacity - 1;
        std::vector<std::size_t> shared;  // slots of UnIDs held by several records
        for (std::int32_t i = 0; i < n; ++i) {
            const LibElement* record = table.Get(i);
            const KR::UnID& id = GetKeyUnID(*record);
            if (IsNullUnID(id))
                continue;
            const std::size_t at = Probe(id);
            if (IsNullUnID(slots_[at].id))
                slots_[at] = Slot{id, record->valid ? i : -1};
            else
                shared.push_back(at);
        }
        // Which record of a shared UnID is found depends on the index order.
        std::sort(shared.begin(), shared.end());
        shared.erase(std::unique(shared.begin(), shared.end()), shared.end());
        for (std::size_t at : shared)
            slots_[at].part = table.FindByUnID(slots_[at].id, nullptr);
    }

    bool Usable() const noexcept { return !slots_.empty(); }

    std::int32_t Find(const KR::UnID& id) const noexcept
    {
        if (IsNullUnID(id))
            return -1;
        const Slot& slot = slots_[Probe(id)];
        return IsNullUnID(slot.id) ? -1 : slot.part;
    }

private:
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

    struct Slot {
        KR::UnID id{};
        std::int32_t part = -1;
    };

    static bool IsNullUnID(const KR::UnID& id) noexcept { return Words(id).IsNull(); }

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

    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
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
    HolderIndex holders(table);
    const PartLookup lookup(table);
    holders_ = &holders;
    lookup_ = lookup.Usable() ? &lookup : nullptr;
    struct Detach {
        AncestryHierarchy& tree;
        ~Detach()
        {
            tree.holders_ = nullptr;
            tree.lookup_ = nullptr;
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
            const std::uint32_t target = librarySet->GetSymbolAncestryId(similar);
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
    return lookup_ != nullptr ? lookup_->Find(id) : librarySet->SearchSymbolByUnID(id, nullptr);
}

bool AncestryHierarchy::HoldsPath(std::int32_t part, std::uint32_t pathId) const
{
    const SymbolData* data = HierarchyData(*librarySet->partTable_, part);
    return data != nullptr && data->ancestryId == pathId;
}

void AncestryHierarchy::SetAncestryId(std::int32_t part, std::uint32_t pathId)
{
    if (holders_ != nullptr)
        holders_->Move(part, librarySet->GetSymbolAncestryId(part), pathId);
    librarySet->SetSymbolAncestryId(part, pathId);
}

void AncestryHierarchy::MoveSubtree(std::uint32_t nodeId, std::int32_t similarPart, char* moved)
{
    const std::uint32_t target = librarySet->GetSymbolAncestryId(similarPart);
    const std::uint32_t position = GetPathLength(nodeId) - 1;
    AncestryInfo ancestry;
    (void)GetAncestryInfo(target, &ancestry);
    KR::UnID similarId{};
    librarySet->GetSymbolOwnUnID(similarPart, &similarId);
    ancestry.Append(similarId);

    IdQueue ends(50);
    PushSubPathIds(nodeId, &ends);
    const std::int32_t n = librarySet->GetSymbolNumber();
    while (!ends.IsEmpty()) {
        const std::uint32_t end = ends.Pop();
        const std::uint32_t multiplicity = GetPathMultiplicity(end);
        auto replace = [&](std::int32_t i) {
            if (!librarySet->IsValidIndex(i) || !HoldsPath(i, end))
                return;
            const std::uint32_t replaced = ReplaceAncestryPath(ancestry, position, end);
            moved[static_cast<std::size_t>(i)] = 1;
            SetAncestryId(i, replaced);
        };
        if (multiplicity == 1) {
            KR::UnID id{};
            GetLastPathNode(end, &id);
            std::int32_t holder = FindPart(id);
            if (!librarySet->IsSymbolValid(holder))
                holder = librarySet->SearchDummySymbol(id, nullptr);
            replace(holder);
        } else if (holders_ != nullptr) {
            // The records holding the path, in record order: the same ones, in
            // the same order, as a scan of the whole table finds.
            for (std::int32_t i : holders_->Get(end))
                replace(i);
        } else {
            for (std::int32_t i = 0; i < n; ++i)
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
        const std::uint32_t pathId = librarySet->GetSymbolAncestryId(i);
        const SymbolData* data = HierarchyData(*librarySet->partTable_, i);
        if (data == nullptr || pathId == 0 || data->GetOwnUnID() != NULLUnID)
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
                    const std::uint32_t sPath = librarySet->GetSymbolAncestryId(s);
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
