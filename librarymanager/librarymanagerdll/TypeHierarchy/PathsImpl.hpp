// The definitions of the path tree (declared in Paths.hpp). Internal to the
// module: only the file that compiles the module's instantiation includes it.
#pragma once

#include "LibraryManagerModule.hpp"
#include "Paths.hpp"
#include "KR/ProbingTable.hpp"

#include <algorithm>
#include <bit>
#include <concepts>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

namespace KR {

template <typename NodeData, typename Comparision>
Comparision Paths<NodeData, Comparision>::cmp_value{};

// ---------------------------------------------------------------------------
// EntryStore (inline, as the class body would make them: every node access
// goes through them)

template <typename NodeData, typename Comparision>
inline auto Paths<NodeData, Comparision>::EntryStore::operator[](std::uint32_t id) -> EntryRef<false>
{
    Check(id);
    NodeLinks& l = links_[id - 1];
    return {l.parent, l.nextSibling, l.firstChild, data_[id - 1], l.refCount};
}

template <typename NodeData, typename Comparision>
inline auto Paths<NodeData, Comparision>::EntryStore::operator[](std::uint32_t id) const -> EntryRef<true>
{
    Check(id);
    const NodeLinks& l = links_[id - 1];
    return {l.parent, l.nextSibling, l.firstChild, data_[id - 1], l.refCount};
}

template <typename NodeData, typename Comparision>
inline auto Paths<NodeData, Comparision>::EntryStore::Get(std::uint32_t id) const -> TreeEntry
{
    const EntryRef<true> v = (*this)[id];
    TreeEntry e;
    e.parent = v.parent;
    e.nextSibling = v.nextSibling;
    e.firstChild = v.firstChild;
    e.data = v.data;
    e.refCount = v.refCount;
    return e;
}

template <typename NodeData, typename Comparision>
inline std::uint32_t Paths<NodeData, Comparision>::EntryStore::Push(const TreeEntry& e)
{
    try {
        const std::size_t capacity = links_.capacity();
        if (links_.size() == capacity)
            links_.reserve(capacity + std::max<std::size_t>(static_cast<std::size_t>(step_), capacity / 2));
        if (data_.capacity() < links_.capacity())
            data_.reserve(links_.capacity());
    } catch (const std::bad_alloc&) {
        throw OutOfMemoryException(ErrMemFull, "VAArray");
    } catch (const std::length_error&) {
        throw OutOfMemoryException(ErrMemFull, "VAArray");
    }
    links_.push_back(NodeLinks{e.parent, e.nextSibling, e.firstChild, e.refCount});
    data_.push_back(e.data);
    return GetSize();
}

template <typename NodeData, typename Comparision>
inline void Paths<NodeData, Comparision>::EntryStore::Clear() noexcept
{
    links_.clear();
    data_.clear();
}

template <typename NodeData, typename Comparision>
inline void Paths<NodeData, Comparision>::EntryStore::Check(std::uint32_t id) const
{
    if (id < 1 || id > links_.size())
        ContainersPrivate::ThrowBadIndex("VAArray", "operator[]", id, links_.size());
}

// ---------------------------------------------------------------------------
// TreeEntry

namespace PathsDetail {

// The bulk build's table of nodes by (parent id, sort key).
struct BuildSlot {
    std::uint32_t parent = 0;
    SiblingIndex::Key key = 0;
    std::uint32_t id = 0;  // 0: free
};
struct BuildSlotTraits {
    static bool IsFree(const BuildSlot& s) noexcept { return s.id == 0; }
    static std::size_t Hash(const BuildSlot& s) noexcept { return HashOf(s.parent, s.key); }
    static std::size_t HashOf(std::uint32_t parent, SiblingIndex::Key key) noexcept
    {
        return static_cast<std::size_t>(((std::uint64_t{parent} << 32 | key) * 0x9E3779B97F4A7C15ull) >> 32);
    }
    static constexpr std::size_t InitialSize = 64;
    static constexpr std::size_t MaxLoadPercent = 50;
};


// Moves an entry's fields in their channel order, stopping at the first
// error: `number` for the links and the reference count, `bytes` for the
// data. Read and Write both go through it, so the two directions cannot
// disagree about the record layout.
template <typename Entry, typename MoveNumber, typename MoveBytes>
ErrorCode MoveEntryFields(Entry& e, MoveNumber number, MoveBytes bytes)
{
    ErrorCode err = number(e.parent);
    if (err == NoError)
        err = number(e.nextSibling);
    if (err == NoError)
        err = number(e.firstChild);
    if (err == NoError)
        err = bytes(e.data);
    if (err == NoError)
        err = number(e.refCount);
    return err;
}

}  // namespace PathsDetail

template <typename NodeData, typename Comparision>
ErrorCode Paths<NodeData, Comparision>::TreeEntry::Read(IChannel& channel)
{
    return PathsDetail::MoveEntryFields(
        *this, [&channel](std::uint32_t& v) { return channel.Read(v); },
        [&channel](NodeData& d) { return channel.ReadBin(&d, sizeof d); });
}

template <typename NodeData, typename Comparision>
ErrorCode Paths<NodeData, Comparision>::TreeEntry::Write(OChannel& channel) const
{
    return PathsDetail::MoveEntryFields(
        *this, [&channel](std::uint32_t v) { return channel.Write(v); },
        [&channel](const NodeData& d) { return channel.WriteBin(&d, sizeof d); });
}

// ---------------------------------------------------------------------------
// Construction and checks

template <typename NodeData, typename Comparision>
Paths<NodeData, Comparision>::Paths()
{
    Clear();
}

template <typename NodeData, typename Comparision>
Paths<NodeData, Comparision>::~Paths() = default;

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::ThrowIllegal(const char* operation)
{
    throw IllegalArgumentException(std::string("Illegal index in Paths<NodeData, Comparision>::") + operation + ".",
                                   "Paths");
}

template <typename NodeData, typename Comparision>
bool Paths<NodeData, Comparision>::IsLive(std::uint32_t nodeId) const
{
    return nodeId >= 1 && nodeId <= entries.GetSize() && entries[nodeId].parent != FreeMark;
}

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::CheckLive(std::uint32_t nodeId, const char* operation) const
{
    if (!IsLive(nodeId))
        ThrowIllegal(operation);
}

// Number of nodes from nodeId up to, not including, the root.
template <typename NodeData, typename Comparision>
std::uint32_t Paths<NodeData, Comparision>::Length(std::uint32_t nodeId) const
{
    std::uint32_t length = 0;
    for (std::uint32_t n = nodeId; n != rootId && n != 0; n = entries[n].parent)
        ++length;
    return length;
}

template <typename NodeData, typename Comparision>
std::vector<NodeData> Paths<NodeData, Comparision>::CollectPath(std::uint32_t pathId) const
{
    std::vector<NodeData> path(Length(pathId));
    std::size_t i = path.size();
    for (std::uint32_t n = pathId; i > 0; n = entries[n].parent)
        path[--i] = entries[n].data;
    return path;
}

// Preorder walk of the nodes below nodeId (nodeId itself excluded), children
// in sibling order. `visit(id)` returns false to stop the walk. Iterative, so
// that a deep tree read from a channel cannot exhaust the stack.
template <typename NodeData, typename Comparision>
template <typename Visit>
void Paths<NodeData, Comparision>::VisitSubTree(std::uint32_t nodeId, Visit visit) const
{
    std::vector<std::uint32_t> resume;  // the sibling to go on with, per level
    std::uint32_t cur = entries[nodeId].firstChild;
    for (;;) {
        if (cur == 0) {
            if (resume.empty())
                return;
            cur = resume.back();
            resume.pop_back();
            continue;
        }
        if (!visit(cur))
            return;
        const auto e = entries[cur];
        if (e.firstChild != 0) {
            resume.push_back(e.nextSibling);
            cur = e.firstChild;
        } else {
            cur = e.nextSibling;
        }
    }
}

// ---------------------------------------------------------------------------
// Entries, root and children

template <typename NodeData, typename Comparision>
std::uint32_t Paths<NodeData, Comparision>::GetFreeEntry()
{
    if (freeHead != 0) {
        std::uint32_t id = freeHead;
        freeHead = entries[id].nextSibling;
        return id;
    }
    try {
        siblingLink_.push_back(0);
        childCount_.push_back(0);
    } catch (const std::bad_alloc&) {
        siblingLink_.resize(entries.GetSize() + 1);
        childCount_.resize(entries.GetSize() + 1);
        throw OutOfMemoryException(ErrMemFull, "Paths");
    }
    try {
        return entries.Push(TreeEntry());
    } catch (...) {
        siblingLink_.pop_back();
        childCount_.pop_back();
        throw;
    }
}

template <typename NodeData, typename Comparision>
std::uint32_t Paths<NodeData, Comparision>::CreateRootNode(const NodeData& id)
{
    if (rootId == 0) {
        std::uint32_t n = GetFreeEntry();
        auto e = entries[n];
        e.parent = 0;
        e.nextSibling = 0;
        e.firstChild = 0;
        e.data = id;
        e.refCount = 0;
        rootId = n;
        return n;
    }
    return cmp_value.Compare(entries[rootId].data, id) == 0 ? rootId : 0;
}

// A new childless entry below parentId holding id with one reference, not
// yet linked among its siblings; 0 when the tree cannot grow.
template <typename NodeData, typename Comparision>
std::uint32_t Paths<NodeData, Comparision>::NewChildEntry(std::uint32_t parentId, const NodeData& id)
{
    std::uint32_t n = 0;
    try {
        n = GetFreeEntry();
    } catch (const OutOfMemoryException&) {
        return 0;
    }
    auto e = entries[n];
    e.parent = parentId;
    e.firstChild = 0;
    e.data = id;
    e.refCount = 1;
    return n;
}

// The search along the list: stops at the first sibling not smaller than id;
// `*position` is that sibling when equal, else the one before it (0: none).
template <typename NodeData, typename Comparision>
bool Paths<NodeData, Comparision>::WalkSiblings(std::uint32_t firstId, const NodeData& id,
                                                std::uint32_t* position) const
{
    *position = 0;
    for (std::uint32_t n = firstId; n != 0; n = entries[n].nextSibling) {
        int c = cmp_value.Compare(entries[n].data, id);
        if (c > 0)
            return false;
        *position = n;
        if (c == 0)
            return true;
    }
    return false;
}

// Finds id among the children of parentId, or adds it as a new child where
// the list walk puts it. In an indexed family the index gives the place and
// both neighbours of the new node, so linking it reads no other entry: the
// sibling before it is only written.
template <typename NodeData, typename Comparision>
std::uint32_t Paths<NodeData, Comparision>::AddChild(std::uint32_t parentId, const NodeData& id)
{
    SiblingIndex::Family* family = siblingIndex_.Find(parentId);
    if (family == nullptr) {
        std::uint32_t prev = 0;
        if (WalkSiblings(entries[parentId].firstChild, id, &prev)) {
            ++entries[prev].refCount;
            return prev;
        }
        const std::uint32_t n = NewChildEntry(parentId, id);
        if (n != 0)
            LinkListChild(parentId, n, prev);
        return n;
    }

    const SiblingIndex::Key k = KeyOf(id);
    SiblingIndex::Place place;
    if (IndexFind(*family, id, k, &place)) {
        ++entries[place.found].refCount;
        return place.found;
    }
    const std::uint32_t prev = siblingIndex_.Before(*family, place);
    const std::uint32_t next = siblingIndex_.At(*family, place);
    // The sibling before the new node is written below: start loading its
    // line while the new entry is prepared.
    if (prev != 0)
        __builtin_prefetch(&entries[prev].nextSibling, 1);
    const std::uint32_t n = NewChildEntry(parentId, id);
    if (n == 0)
        return 0;
    entries[n].nextSibling = next;
    if (prev != 0)
        entries[prev].nextSibling = n;
    else
        entries[parentId].firstChild = n;
    ++childCount_[parentId];
    // The node went between two neighbours in order: the family stays
    // ascending. Only a failed allocation in the index can drop it.
    try {
        siblingIndex_.Insert(*family, place, k, n, siblingLink_);
    } catch (const std::bad_alloc&) {
        DropFamilyIndex(parentId);  // a walk of the list is always right
    }
    return n;
}

template <typename NodeData, typename Comparision>
bool Paths<NodeData, Comparision>::Inverted(std::uint32_t a, std::uint32_t b) const
{
    return a != 0 && b != 0 && cmp_value.Compare(entries[a].data, entries[b].data) >= 0;
}

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::AdjustUnsorted(std::uint32_t parentId, int delta)
{
    if (delta == 0)
        return;
    std::uint32_t& pairs = unsortedPairs_[parentId];
    pairs = static_cast<std::uint32_t>(static_cast<std::int64_t>(pairs) + delta);
    if (pairs == 0)
        unsortedPairs_.erase(parentId);
}

// Links nodeId into the child list of parentId, a family without an index,
// after prevId (0: at the head), where a walk of that list placed it: prevId
// is smaller than nodeId's value and the sibling after it larger, so no pair
// of neighbours changes its order and the family stays as sorted (or
// unsorted) as it was.
template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::LinkListChild(std::uint32_t parentId, std::uint32_t nodeId, std::uint32_t prevId)
{
    std::uint32_t next = prevId != 0 ? entries[prevId].nextSibling : entries[parentId].firstChild;
    entries[nodeId].nextSibling = next;
    if (prevId != 0)
        entries[prevId].nextSibling = nodeId;
    else
        entries[parentId].firstChild = nodeId;
    siblingLink_[nodeId] = prevId;
    if (next != 0)
        siblingLink_[next] = nodeId;
    if (++childCount_[parentId] > IndexBuildSize)
        RefreshFamilyIndex(parentId);
}

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::UnlinkChild(std::uint32_t nodeId)
{
    const auto e = entries[nodeId];
    const std::uint32_t parentId = e.parent;
    const std::uint32_t next = e.nextSibling;
    std::uint32_t prev = 0;
    SiblingIndex::Family* family = siblingIndex_.Find(parentId);
    if (family != nullptr) {
        // The leaf that siblingLink_ names for the node finds it without
        // reading its value; where that fails, the search by value decides.
        SiblingIndex::Place place;
        if (siblingIndex_.Locate(*family, siblingLink_[nodeId], nodeId, &place) ||
            (IndexFind(*family, e.data, KeyOf(e.data), &place) && place.found == nodeId)) {
            // An indexed family is ascending, and stays so without the node;
            // the index knows the sibling before it.
            prev = siblingIndex_.Before(*family, place);
            siblingIndex_.Erase(*family, place);
            if (prev != 0)
                entries[prev].nextSibling = next;
            else
                entries[parentId].firstChild = next;
            if (--childCount_[parentId] <= IndexDropSize)
                DropFamilyIndex(parentId);
            return;
        }
        DropFamilyIndex(parentId);
    }
    prev = siblingLink_[nodeId];
    if (next != 0)
        siblingLink_[next] = prev;
    if (unsortedPairs_.count(parentId) != 0)
        AdjustUnsorted(parentId, -int(Inverted(prev, nodeId)) - int(Inverted(nodeId, next)) +
                                     int(Inverted(prev, next)));
    if (prev != 0)
        entries[prev].nextSibling = next;
    else
        entries[parentId].firstChild = next;
    --childCount_[parentId];
    RefreshFamilyIndex(parentId);
}

// Replaces a node's value where it stands in its sibling list.
template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::ChangeNodeData(std::uint32_t nodeId, const NodeData& id)
{
    const std::uint32_t parentId = entries[nodeId].parent;
    const std::uint32_t next = entries[nodeId].nextSibling;
    std::uint32_t prev = 0;
    int delta = 0;
    SiblingIndex::Family* family = siblingIndex_.Find(parentId);
    SiblingIndex::Place place;
    if (family != nullptr && IndexFind(*family, entries[nodeId].data, KeyOf(entries[nodeId].data), &place) &&
        place.found == nodeId) {
        prev = siblingIndex_.Before(*family, place);
        siblingIndex_.Erase(*family, place);
        entries[nodeId].data = id;  // the pairs around it were in order
        delta = int(Inverted(prev, nodeId)) + int(Inverted(nodeId, next));
        if (delta == 0) {
            // Still between its neighbours: back into the index, where the
            // new value belongs.
            const SiblingIndex::Key k = KeyOf(id);
            SiblingIndex::Place at;
            try {
                if (!IndexFind(*family, id, k, &at))
                    siblingIndex_.Insert(*family, at, k, nodeId, siblingLink_);
            } catch (const std::bad_alloc&) {
                DropFamilyIndex(parentId);
            }
        } else {
            DropFamilyIndex(parentId);
        }
    } else {
        if (family != nullptr)
            DropFamilyIndex(parentId);
        prev = siblingLink_[nodeId];
        delta = -int(Inverted(prev, nodeId)) - int(Inverted(nodeId, next));
        entries[nodeId].data = id;
        delta += int(Inverted(prev, nodeId)) + int(Inverted(nodeId, next));
    }
    AdjustUnsorted(parentId, delta);
    RefreshFamilyIndex(parentId);
}

// Removes the index of a family. The predecessor array, left alone while the
// index answered for it, is made right for the family's children again.
template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::DropFamilyIndex(std::uint32_t parentId)
{
    siblingIndex_.Remove(parentId);
    std::uint32_t before = 0;
    for (std::uint32_t n = entries[parentId].firstChild; n != 0; n = entries[n].nextSibling) {
        siblingLink_[n] = before;
        before = n;
    }
}

// Builds or drops the index of one family after a change of its list.
template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::RefreshFamilyIndex(std::uint32_t parentId)
{
    const std::uint32_t count = childCount_[parentId];
    if (siblingIndex_.Has(parentId)) {
        if (count <= IndexDropSize || unsortedPairs_.count(parentId) != 0)
            DropFamilyIndex(parentId);
        return;
    }
    if (count > IndexBuildSize && unsortedPairs_.count(parentId) == 0)
        BuildFamilyIndex(parentId);
}

// Indexes an ascending family without an index; leaves are filled half, so
// that the next insertions into them need no split. The children's links in
// siblingLink_ turn from predecessors into leaves only once the index is
// complete: a failed allocation leaves the family without an index and with
// its predecessors.
template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::BuildFamilyIndex(std::uint32_t parentId)
{
    SiblingIndex::Family* family = nullptr;
    try {
        family = &siblingIndex_.Start(parentId);
        for (std::uint32_t n = entries[parentId].firstChild; n != 0; n = entries[n].nextSibling)
            siblingIndex_.Append(*family, KeyOf(entries[n].data), n);
    } catch (const std::bad_alloc&) {
        siblingIndex_.Remove(parentId);
        return;
    }
    siblingIndex_.Finish(*family, siblingLink_);
}

// ---------------------------------------------------------------------------
// Sibling index

// The upper half of the comparison's order prefix: still a smaller key for a
// smaller value and equal keys for equal values, and for identifiers, whose
// leading field is spread evenly, nearly always distinct among siblings.
template <typename NodeData, typename Comparision>
auto Paths<NodeData, Comparision>::KeyOf(const NodeData& key) -> SiblingIndex::Key
{
    if constexpr (requires { { Comparision::OrderPrefix(key) } -> std::convertible_to<std::uint64_t>; })
        return static_cast<SiblingIndex::Key>(std::uint64_t{Comparision::OrderPrefix(key)} >> 32);
    else
        return 0;  // every key ties: the comparison decides
}

// Searches key (whose key k is KeyOf(key)) in a family's index; ties of
// keys are decided by comparing the values in the entries.
template <typename NodeData, typename Comparision>
bool Paths<NodeData, Comparision>::IndexFind(const SiblingIndex::Family& family, const NodeData& key,
                                             SiblingIndex::Key k, SiblingIndex::Place* place) const
{
    struct Search {
        const Paths* tree;
        const NodeData* key;
    };
    const Search search{this, &key};
    const SiblingIndex::TieCompare tie{[](const void* context, std::uint32_t nodeId) {
                                           const auto* s = static_cast<const Search*>(context);
                                           return cmp_value.Compare(s->tree->entries[nodeId].data, *s->key);
                                       },
                                       &search};
    return siblingIndex_.Search(family, k, tie, place);
}

// Starts loading the index leaf that siblingLink_ names for a node whose
// release is coming, so that the leaf and the node's links arrive together.
// Harmless where the node's family has no index: its link is then a node id,
// and at worst an unrelated leaf is loaded.
template <typename NodeData, typename Comparision>
inline void Paths<NodeData, Comparision>::PrefetchIndexLeaf(std::uint32_t nodeId) const noexcept
{
    if (nodeId >= siblingLink_.size())
        return;
    siblingIndex_.Prefetch(siblingLink_[nodeId]);
}

// ---------------------------------------------------------------------------
// Adding paths

template <typename NodeData, typename Comparision>
std::uint32_t Paths<NodeData, Comparision>::AddPath(const NodeData* nodes, std::uint32_t n)
{
    if (n == 0 || nodes == nullptr)
        return 0;
    CreateRootNode(NodeData{});
    ++entries[rootId].refCount;
    std::uint32_t cur = rootId;
    for (std::uint32_t i = 0; i < n; ++i) {
        std::uint32_t next = AddChild(cur, nodes[i]);
        if (next == 0) {
            ReleasePath(cur);
            return 0;
        }
        cur = next;
    }
    return cur;
}

template <typename NodeData, typename Comparision>
std::uint32_t Paths<NodeData, Comparision>::AddPath(const NodeData* nodes, std::uint32_t n, const NodeData& last)
{
    std::uint32_t parentId = 0;
    if (n > 0) {
        parentId = AddPath(nodes, n);
        if (parentId == 0)
            return 0;
    } else {
        CreateRootNode(NodeData{});
        parentId = rootId;
        ++entries[rootId].refCount;
    }
    std::uint32_t id = AddChild(parentId, last);
    if (id == 0)
        ReleasePath(parentId);
    return id;
}

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::AddReferences(std::uint32_t nodeId)
{
    for (std::uint32_t n = nodeId; n != 0; n = entries[n].parent) {
        ++entries[n].refCount;
        if (n == rootId)
            break;
    }
}

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::AddPathReference(std::uint32_t pathId)
{
    CheckLive(pathId, "AddPathReference");
    AddReferences(pathId);
}

template <typename NodeData, typename Comparision>
std::uint32_t Paths<NodeData, Comparision>::AppendPathNode(std::uint32_t pathId, const NodeData& id)
{
    CheckLive(pathId, "AppendPathNode");
    std::uint32_t added = AddChild(pathId, id);
    if (added == 0)
        return 0;
    AddReferences(pathId);
    return added;
}

// ---------------------------------------------------------------------------
// Adding paths in bulk

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::AddPaths(const NodeData* nodes, const PathRange* lists, std::size_t listCount,
                                            const PathEnd* paths, std::size_t count, std::uint32_t* ids)
{
    if (count == 0 || paths == nullptr || ids == nullptr)
        return;
    if (lists == nullptr)
        listCount = 0;
    const bool onlyRoot =
        rootId == 1 && entries.GetSize() == 1 && freeHead == 0 && entries[rootId].refCount == 0;
    if (onlyRoot) {
        try {
            BuildFromPaths(nodes, lists, listCount, paths, count, ids);
            return;
        } catch (const std::bad_alloc&) {
        } catch (const std::length_error&) {
        } catch (const OutOfMemoryException&) {
        }
        // Nothing changed: one path at a time meets the shortage as AddPath does.
    }
    for (std::size_t k = 0; k < count; ++k) {
        const PathEnd& p = paths[k];
        ids[k] = p.list < listCount ? AddPath(nodes == nullptr ? nullptr : nodes + lists[p.list].first,
                                              lists[p.list].count, p.last)
                                    : 0;
    }
}

// The bulk build of AddPaths on a tree that holds only its root. Works on
// arrays of its own and changes the tree only once they are complete, so a
// failed allocation leaves the tree as it was.
//
// Node ids: AddPath creates a path's missing nodes from the first missing
// one down, path after path; the build creates them in the same order. A
// node is found by (parent id, value) in one open-addressed hash table; a
// list is walked only for its first path, later paths of the same list take
// the node it ended at. A parent is always created before its children, so
// its id is smaller.
// Counts: a node's count is the number of paths ending at it or below it,
// summed from the path ends up, children before parents (descending ids).
// Siblings: the children of each family are sorted by the comparison and
// linked once; a family above IndexBuildSize gets its index from the sorted
// run, as BuildFamilyIndex would give it.
template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::BuildFromPaths(const NodeData* nodes, const PathRange* lists,
                                                  std::size_t listCount, const PathEnd* paths, std::size_t count,
                                                  std::uint32_t* ids)
{
    EntryStore built(100);
    TreeEntry root = entries.Get(rootId);
    root.firstChild = 0;
    built.Push(root);
    // By id (index 0 unused, 1 the root): sort key, then paths through.
    std::vector<SiblingIndex::Key> keyOf{0, 0};
    std::vector<std::uint32_t> refs{0, 0};
    keyOf.reserve(count + 2);
    refs.reserve(count + 2);
    auto table = std::make_unique<ProbingTable<PathsDetail::BuildSlot, PathsDetail::BuildSlotTraits>>();
    // The child of `parent` with `value`, made when there is none.
    auto child = [&](std::uint32_t parent, const NodeData& value) {
        const SiblingIndex::Key key = KeyOf(value);
        const auto [k, made] = table->FindOrClaim(PathsDetail::BuildSlotTraits::HashOf(parent, key), [&](const PathsDetail::BuildSlot& s) {
            return s.parent == parent && s.key == key && cmp_value.Compare(built[s.id].data, value) == 0;
        });
        if (!made)
            return table->At(k).id;
        // A failure from here on ends the build, and the table with it.
        if (built.GetSize() >= FreeMark - 1)
            throw OutOfMemoryException(ErrMemFull, "Paths");
        TreeEntry e;
        e.parent = parent;
        e.data = value;
        const std::uint32_t id = built.Push(e);
        keyOf.push_back(key);
        refs.push_back(0);
        table->At(k) = PathsDetail::BuildSlot{parent, key, id};
        return id;
    };

    std::vector<std::uint32_t> listEnd(listCount, 0);
    for (std::size_t k = 0; k < count; ++k) {
        const PathEnd& p = paths[k];
        if (p.list >= listCount || (nodes == nullptr && lists[p.list].count > 0)) {
            ids[k] = 0;
            continue;
        }
        std::uint32_t parent = listEnd[p.list];
        if (parent == 0) {
            parent = rootId;
            const PathRange& r = lists[p.list];
            for (std::uint32_t d = 0; d < r.count; ++d)
                parent = child(parent, nodes[std::size_t{r.first} + d]);
            listEnd[p.list] = parent;
        }
        const std::uint32_t end = child(parent, p.last);
        ++refs[end];
        ids[k] = end;
    }
    table.reset();
    listEnd = std::vector<std::uint32_t>();

    const std::uint32_t n = built.GetSize();
    for (std::uint32_t id = n; id > rootId; --id)
        refs[built[id].parent] += refs[id];

    // The families, each a run of `order` from start[p]: children by id,
    // then sorted. Sorted as (key, id) in one 64-bit number; only children
    // whose keys tie are put in order by the comparison afterwards.
    PathsStorage::Vector<std::uint32_t> childCount(std::size_t{n} + 1, 0);
    for (std::uint32_t id = rootId + 1; id <= n; ++id)
        ++childCount[built[id].parent];
    std::vector<std::uint32_t> start(std::size_t{n} + 2, 0);
    for (std::uint32_t p = 1; p <= n; ++p)
        start[p + 1] = start[p] + childCount[p];
    std::vector<std::uint64_t> order(n - rootId);
    {
        std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
        for (std::uint32_t id = rootId + 1; id <= n; ++id)
            order[fill[built[id].parent]++] = std::uint64_t{keyOf[id]} << 32 | id;
    }
    keyOf = std::vector<SiblingIndex::Key>();
    auto idAt = [&](std::size_t j) { return static_cast<std::uint32_t>(order[j]); };
    auto less = [&](std::uint64_t a, std::uint64_t b) {
        return cmp_value.Compare(built[static_cast<std::uint32_t>(a)].data, built[static_cast<std::uint32_t>(b)].data) <
               0;
    };
    PathsStorage::Vector<std::uint32_t> link(std::size_t{n} + 1, 0);
    for (std::uint32_t p = 1; p <= n; ++p) {
        built[p].refCount = refs[p];
        const std::uint32_t b = start[p];
        const std::uint32_t e = start[p + 1];
        if (b == e)
            continue;
        if (e - b > 1) {
            std::sort(order.begin() + b, order.begin() + e);
            for (std::uint32_t j = b; j + 1 < e;) {
                std::uint32_t tie = j + 1;
                while (tie < e && order[tie] >> 32 == order[j] >> 32)
                    ++tie;
                if (tie - j > 1)
                    std::sort(order.begin() + j, order.begin() + tie, less);
                j = tie;
            }
        }
        built[p].firstChild = idAt(b);
        for (std::uint32_t j = b + 1; j < e; ++j) {
            built[idAt(j - 1)].nextSibling = idAt(j);
            link[idAt(j)] = idAt(j - 1);
        }
    }

    // Nothing below fails: the tree takes the arrays.
    entries = std::move(built);
    siblingLink_ = std::move(link);
    childCount_ = std::move(childCount);
    unsortedPairs_.clear();
    siblingIndex_.Clear();
    for (std::uint32_t p = 1; p <= n; ++p) {
        if (childCount_[p] <= IndexBuildSize)
            continue;
        SiblingIndex::Family* family = nullptr;
        try {
            family = &siblingIndex_.Start(p);
            for (std::uint32_t j = start[p]; j < start[p + 1]; ++j)
                siblingIndex_.Append(*family, static_cast<SiblingIndex::Key>(order[j] >> 32), idAt(j));
        } catch (const std::bad_alloc&) {
            siblingIndex_.Remove(p);  // the family keeps its predecessors
            continue;
        }
        siblingIndex_.Finish(*family, siblingLink_);
    }
}

// ---------------------------------------------------------------------------
// Releasing paths

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::DeleteUnreferencedLeafItem(std::uint32_t nodeId)
{
    auto e = entries[nodeId];
    if (e.refCount != 0 || e.firstChild != 0)
        ThrowIllegal("DeleteUnreferencedLeafItem");
    if (nodeId != rootId)
        UnlinkChild(nodeId);
    auto freed = entries[nodeId];
    freed.parent = FreeMark;
    freed.firstChild = FreeMark;
    freed.nextSibling = freeHead;
    freeHead = nodeId;
    // A leaf has no family: no child count, index or unsorted pairs of its own.
}

// Raises, before anything changes, when releasing one reference of the path
// would remove a node that keeps another child (possible only for an inner
// node id or for counts read from a channel that break the count rule).
template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::RequireReleasable(std::uint32_t pathId) const
{
    std::uint32_t removedBelow = 0;
    for (std::uint32_t n = pathId; n != 0;) {
        const auto e = entries[n];
        if (e.refCount == 0)
            ThrowIllegal("DeleteUnreferencedLeafItem");
        bool removed = e.refCount == 1;
        if (removed && e.firstChild != 0 &&
            !(removedBelow != 0 && e.firstChild == removedBelow && entries[removedBelow].nextSibling == 0))
            ThrowIllegal("DeleteUnreferencedLeafItem");
        if (n == rootId)
            break;
        removedBelow = removed ? n : 0;
        n = e.parent;
    }
}

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::ReleasePath(std::uint32_t pathId)
{
    for (std::uint32_t n = pathId; n != 0;) {
        std::uint32_t parentId = entries[n].parent;
        bool isRoot = n == rootId;
        if (--entries[n].refCount == 0)
            DeleteUnreferencedLeafItem(n);
        if (isRoot) {
            if (entries[n].refCount == 0)
                Clear();
            return;
        }
        n = parentId;
    }
}

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::DeletePath(std::uint32_t pathId)
{
    PrefetchIndexLeaf(pathId);
    CheckLive(pathId, "DeletePath");
    RequireReleasable(pathId);
    ReleasePath(pathId);
}

template <typename NodeData, typename Comparision>
std::uint32_t Paths<NodeData, Comparision>::DeleteLastPathNode(std::uint32_t pathId)
{
    CheckLive(pathId, "DeleteLastPathNode");
    if (pathId == rootId)
        ThrowIllegal("DeleteLastPathNode");
    auto e = entries[pathId];
    if (e.refCount == 0 || (e.refCount == 1 && e.firstChild != 0))
        ThrowIllegal("DeleteUnreferencedLeafItem");
    std::uint32_t parentId = e.parent;
    if (--e.refCount == 0)
        DeleteUnreferencedLeafItem(pathId);
    return parentId;
}

template <typename NodeData, typename Comparision>
std::uint32_t Paths<NodeData, Comparision>::ReplacePath(std::uint32_t pathId, const NodeData* nodes, std::uint32_t n)
{
    CheckLive(pathId, "ReplacePath");
    if (nodes == nullptr)
        ThrowIllegal("ReplacePath");
    DeletePath(pathId);
    return AddPath(nodes, n);
}

// The common tail of SetPathNode and DeletePathNode: below parentId, adds
// `replacement` (when given) and then the nodes of the old path after
// `position`; releases the old path. On a failed allocation both the partial
// path and the old path are released and 0 is returned.
template <typename NodeData, typename Comparision>
std::uint32_t Paths<NodeData, Comparision>::RebuildBelow(std::uint32_t pathId, std::uint32_t position,
                                                         std::uint32_t parentId, const NodeData* replacement)
{
    RequireReleasable(pathId);
    std::vector<NodeData> old = CollectPath(pathId);
    AddReferences(parentId);
    std::uint32_t cur = parentId;
    auto step = [&](const NodeData& id) {
        std::uint32_t next = AddChild(cur, id);
        if (next == 0) {
            ReleasePath(cur);
            ReleasePath(pathId);
            return false;
        }
        cur = next;
        return true;
    };
    if (replacement != nullptr && !step(*replacement))
        return 0;
    for (std::size_t p = std::size_t{position} + 1; p < old.size(); ++p)
        if (!step(old[p]))
            return 0;
    ReleasePath(pathId);
    return cur;
}

template <typename NodeData, typename Comparision>
std::uint32_t Paths<NodeData, Comparision>::SetPathNode(std::uint32_t pathId, std::uint32_t position,
                                                        const NodeData& id)
{
    CheckLive(pathId, "SetPathNode");
    std::uint32_t node = FindPathNodeId(pathId, position);
    if (node == 0)
        ThrowIllegal("SetPathNode");
    if (node == pathId && entries[node].refCount == 1) {
        // No other path uses the node: its value changes where it stands.
        if (entries[node].firstChild != 0)
            ThrowIllegal("SetPathNode");
        ChangeNodeData(node, id);
        return pathId;
    }
    return RebuildBelow(pathId, position, entries[node].parent, &id);
}

template <typename NodeData, typename Comparision>
std::uint32_t Paths<NodeData, Comparision>::DeletePathNode(std::uint32_t pathId, std::uint32_t position)
{
    CheckLive(pathId, "DeletePathNode");
    std::uint32_t node = FindPathNodeId(pathId, position);
    if (node == 0)
        ThrowIllegal("DeletePathNode");
    if (node == pathId)
        return DeleteLastPathNode(pathId);
    return RebuildBelow(pathId, position, entries[node].parent, nullptr);
}

// ---------------------------------------------------------------------------
// Queries

template <typename NodeData, typename Comparision>
std::uint32_t Paths<NodeData, Comparision>::GetPathLength(std::uint32_t pathId) const
{
    CheckLive(pathId, "GetPathLength");
    return Length(pathId);
}

template <typename NodeData, typename Comparision>
std::uint32_t Paths<NodeData, Comparision>::FindPathNodeId(std::uint32_t pathId, std::uint32_t position) const
{
    std::uint32_t length = Length(pathId);
    if (position >= length)
        return 0;
    std::uint32_t n = pathId;
    for (std::uint32_t steps = length - position - 1; steps > 0; --steps)
        n = entries[n].parent;
    return n;
}

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::GetPath(std::uint32_t pathId, NodeData* out) const
{
    CheckLive(pathId, "GetPath");
    if (pathId == rootId || out == nullptr)
        ThrowIllegal("GetPath");
    std::uint32_t i = Length(pathId);
    for (std::uint32_t n = pathId; i > 0; n = entries[n].parent)
        out[--i] = entries[n].data;
}

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::GetPathNode(std::uint32_t pathId, std::uint32_t position, NodeData* out) const
{
    CheckLive(pathId, "GetPathNode");
    std::uint32_t node = out != nullptr ? FindPathNodeId(pathId, position) : 0;
    if (node == 0)
        ThrowIllegal("GetPathNode");
    *out = entries[node].data;
}

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::GetPathNodeFromBack(std::uint32_t pathId, std::uint32_t k, NodeData* out) const
{
    CheckLive(pathId, "GetPathNodeFromBack");
    if (out == nullptr)
        ThrowIllegal("GetPathNodeFromBack");
    std::uint32_t n = pathId;
    for (; k > 0 && n != rootId; --k)
        n = entries[n].parent;
    *out = n == rootId ? NodeData{} : entries[n].data;
}

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::GetLastPathNode(std::uint32_t pathId, NodeData* out) const
{
    CheckLive(pathId, "GetLastPathNode");
    if (out == nullptr)
        ThrowIllegal("GetLastPathNode");
    *out = entries[pathId].data;
}

template <typename NodeData, typename Comparision>
std::uint32_t Paths<NodeData, Comparision>::GetPathMultiplicity(std::uint32_t pathId) const
{
    CheckLive(pathId, "GetPathMultiplicity");
    return entries[pathId].refCount;
}

template <typename NodeData, typename Comparision>
bool Paths<NodeData, Comparision>::IsNodeOnPath(std::uint32_t pathId, const NodeData& id) const
{
    if (pathId == 0)
        return false;
    CheckLive(pathId, "IsNodeOnPath");
    for (std::uint32_t n = pathId; n != 0; n = entries[n].parent) {
        if (cmp_value.Compare(entries[n].data, id) == 0)
            return true;
        if (n == rootId)
            break;
    }
    return false;
}

template <typename NodeData, typename Comparision>
bool Paths<NodeData, Comparision>::IsPathID(std::uint32_t nodeId) const
{
    if (nodeId == 0)
        return false;
    std::uint64_t sum = 0;
    for (std::uint32_t c = entries[nodeId].firstChild; c != 0; c = entries[c].nextSibling)
        sum += entries[c].refCount;
    return entries[nodeId].refCount > sum;
}

template <typename NodeData, typename Comparision>
std::uint32_t Paths<NodeData, Comparision>::FindNodeIdInSubTree(std::uint32_t nodeId, const NodeData& id) const
{
    std::uint32_t found = 0;
    VisitSubTree(nodeId, [&](std::uint32_t n) {
        if (cmp_value.Compare(entries[n].data, id) == 0)
            found = n;
        return found == 0;
    });
    return found;
}

template <typename NodeData, typename Comparision>
std::uint32_t Paths<NodeData, Comparision>::FindNodeId(const NodeData& id) const
{
    return FindNodeIdInSubTree(rootId, id);
}

template <typename NodeData, typename Comparision>
std::uint32_t Paths<NodeData, Comparision>::FindPathId(const NodeData& id) const
{
    std::uint32_t node = FindNodeIdInSubTree(rootId, id);
    return IsPathID(node) ? node : 0;
}

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::PushChildNodeIds(std::uint32_t nodeId, IdQueue* queue) const
{
    CheckLive(nodeId, "PushChildNodeIds");
    if (queue == nullptr)
        ThrowIllegal("PushChildNodeIds");
    for (std::uint32_t c = entries[nodeId].firstChild; c != 0; c = entries[c].nextSibling)
        queue->Push(c);
}

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::PushSubNodeIds(std::uint32_t nodeId, IdQueue* queue) const
{
    CheckLive(nodeId, "PushSubNodeIds");
    if (queue == nullptr)
        ThrowIllegal("PushSubNodeIds");
    VisitSubTree(nodeId, [&](std::uint32_t n) {
        queue->Push(n);
        return true;
    });
}

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::PushSubPathIds(std::uint32_t nodeId, IdQueue* queue) const
{
    CheckLive(nodeId, "PushSubPathIds");
    if (queue == nullptr)
        ThrowIllegal("PushSubPathIds");
    VisitSubTree(nodeId, [&](std::uint32_t n) {
        if (IsPathID(n))
            queue->Push(n);
        return true;
    });
}

// ---------------------------------------------------------------------------
// Whole tree

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::Clear()
{
    entries.Clear();
    freeHead = 0;
    rootId = 0;
    siblingLink_.assign(1, 0);
    childCount_.assign(1, 0);
    unsortedPairs_.clear();
    siblingIndex_.Clear();
    CreateRootNode(NodeData{});
}

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::MergeSubTree(std::uint32_t nodeId, const Paths& other, std::uint32_t otherNodeId)
{
    // Preorder over the other tree, as a recursion over children in sibling
    // order would go; `resume` keeps, per level, the other tree's sibling to
    // go on with and the node of this tree it belongs under.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> resume;
    std::uint32_t cur = other.entries[otherNodeId].firstChild;
    std::uint32_t parentId = nodeId;
    for (;;) {
        if (cur == 0) {
            if (resume.empty())
                return;
            cur = resume.back().first;
            parentId = resume.back().second;
            resume.pop_back();
            continue;
        }
        NodeData data = other.entries[cur].data;
        std::uint32_t firstChild = other.entries[cur].firstChild;
        std::uint32_t next = other.entries[cur].nextSibling;
        std::uint32_t added = AddChild(parentId, data);
        if (added == 0)
            throw OutOfMemoryException(ErrMemFull, "Paths");
        if (firstChild != 0) {
            resume.emplace_back(next, parentId);
            parentId = added;
            cur = firstChild;
        } else {
            cur = next;
        }
    }
}

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::Merge(const Paths& other)
{
    MergeSubTree(rootId, other, other.rootId);
}

// Checks every node below nodeId against the count rule (a node's count is
// at least the sum of its children's counts) and returns the sum of the
// counts of nodeId's own children.
template <typename NodeData, typename Comparision>
std::uint64_t Paths<NodeData, Comparision>::CheckSubTree(std::uint32_t nodeId)
{
    auto childSum = [this](std::uint32_t n) {
        std::uint64_t sum = 0;
        for (std::uint32_t c = entries[n].firstChild; c != 0; c = entries[c].nextSibling)
            sum += entries[c].refCount;
        return sum;
    };
    VisitSubTree(nodeId, [&](std::uint32_t n) {
        if (entries[n].refCount < childSum(n))
            ThrowIllegal("Check");
        return true;
    });
    return childSum(nodeId);
}

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::Check()
{
    if (rootId != 0 && entries[rootId].refCount < CheckSubTree(rootId))
        ThrowIllegal("Check");
}

// ---------------------------------------------------------------------------
// Print

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::Print(OChannel& channel) const
{
    Print(channel, nullptr, nullptr);
}

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::Print(OChannel& channel, PrintCallback callback, void* context) const
{
    if (rootId == 0) {
        channel << "The tree is empty!!!\n";
        return;
    }
    const auto root = entries[rootId];
    channel << "<BuiltIn Root> " << root.data.ToString() << " (" << root.refCount << ")\n";
    std::vector<bool> lastFlags;
    PrintSubTree(channel, callback, context, rootId, 1, &lastFlags);
}

// lastFlags[i] tells whether the node drawn at level i was the last of its
// siblings: then no bar continues below it. Preorder like a recursion over
// the children in sibling order, but iterative.
template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::PrintSubTree(OChannel& channel, PrintCallback callback, void* context,
                                                std::uint32_t nodeId, std::uint32_t level,
                                                std::vector<bool>* lastFlags) const
{
    std::vector<std::uint32_t> resume;  // the sibling to go on with, per level
    std::string indent;
    std::uint32_t cur = entries[nodeId].firstChild;
    for (;;) {
        if (cur == 0) {
            if (resume.empty())
                return;
            cur = resume.back();
            resume.pop_back();
            --level;
            continue;
        }
        const auto e = entries[cur];
        if (lastFlags->size() <= level)
            lastFlags->resize(std::size_t{level} + 1, false);
        indent.clear();
        for (std::uint32_t i = 1; i < level; ++i)
            indent += (*lastFlags)[i] ? "    " : "|   ";
        channel << indent << "|\n" << indent << "+---";
        if (callback != nullptr)
            callback(context, channel, e.data);
        else
            channel << e.data.ToString();
        channel << " (" << e.refCount << ")\n";
        (*lastFlags)[level] = e.nextSibling == 0;
        if (e.firstChild != 0) {
            resume.push_back(e.nextSibling);
            cur = e.firstChild;
            ++level;
        } else {
            cur = e.nextSibling;
        }
    }
}

// ---------------------------------------------------------------------------
// Channel format

template <typename NodeData, typename Comparision>
ErrorCode Paths<NodeData, Comparision>::Write(OChannel& channel) const
{
    ErrorCode err = channel.Write(rootId);
    if (err == NoError)
        err = channel.Write(freeHead);
    if (err == NoError)
        err = channel.Write(std::int16_t{1});  // array version
    if (err == NoError)
        err = channel.Write(static_cast<std::int32_t>(entries.GetSize()));
    if (err == NoError)
        err = channel.Write(std::int32_t{100});  // growth step
    if (err == NoError)
        err = channel.Write(std::int32_t{52});  // record size
    if (err != NoError)
        return err;
    for (std::uint32_t id = 1; id <= entries.GetSize(); ++id)
        (void)entries.Get(id).Write(channel);
    return NoError;
}

template <typename NodeData, typename Comparision>
ErrorCode Paths<NodeData, Comparision>::Read(IChannel& channel)
{
    Clear();
    std::uint32_t root = 0;
    std::uint32_t free = 0;
    std::int16_t version = 0;
    std::int32_t count = 0;
    std::int32_t step = 0;
    std::int32_t recordSize = 0;
    ErrorCode err = channel.Read(root);
    if (err == NoError)
        err = channel.Read(free);
    if (err == NoError)
        err = channel.Read(version);
    if (err == NoError && version != 1)
        return LM::ErrDamagedData;
    if (err == NoError)
        err = channel.Read(count);
    if (err == NoError)
        err = channel.Read(step);
    if (err == NoError)
        err = channel.Read(recordSize);
    if (err != NoError)
        return err;
    if (count < 1)
        return LM::ErrDamagedData;
    // Entries are appended as they arrive, so a count that the stream does
    // not back allocates nothing in advance.
    EntryStore loaded(100);
    for (std::int32_t i = 0; i < count; ++i) {
        TreeEntry e;
        err = e.Read(channel);
        if (err != NoError)
            return err;
        loaded.Push(e);
    }
    if (!AdoptEntries(root, free, loaded)) {
        Clear();
        return LM::ErrDamagedData;
    }
    return NoError;
}

// Takes entries read from a channel when they form one tree below `root` and
// one free list from `free`, each entry in exactly one of them; rebuilds the
// auxiliary state. False (and nothing changed) otherwise.
template <typename NodeData, typename Comparision>
bool Paths<NodeData, Comparision>::AdoptEntries(std::uint32_t root, std::uint32_t free, EntryStore& loaded)
{
    const std::uint32_t n = loaded.GetSize();
    if (root < 1 || root > n || loaded[root].parent != 0 || loaded[root].nextSibling != 0)
        return false;
    std::vector<std::uint8_t> seen(std::size_t{n} + 1, 0);
    PathsStorage::Vector<std::uint32_t> prev(std::size_t{n} + 1, 0);
    PathsStorage::Vector<std::uint32_t> childCount(std::size_t{n} + 1, 0);
    std::unordered_map<std::uint32_t, std::uint32_t> unsorted;
    std::vector<std::uint32_t> pending{root};
    seen[root] = 1;
    while (!pending.empty()) {
        std::uint32_t parentId = pending.back();
        pending.pop_back();
        std::uint32_t before = 0;
        for (std::uint32_t c = loaded[parentId].firstChild; c != 0; c = loaded[c].nextSibling) {
            if (c > n || seen[c] != 0 || loaded[c].parent != parentId)
                return false;
            seen[c] = 1;
            prev[c] = before;
            ++childCount[parentId];
            if (before != 0 && cmp_value.Compare(loaded[before].data, loaded[c].data) >= 0)
                ++unsorted[parentId];
            pending.push_back(c);
            before = c;
        }
    }
    for (std::uint32_t f = free; f != 0; f = loaded[f].nextSibling) {
        if (f > n || seen[f] != 0 || loaded[f].parent != FreeMark)
            return false;
        seen[f] = 2;
    }
    for (std::uint32_t i = 1; i <= n; ++i)
        if (seen[i] == 0)
            return false;

    entries = std::move(loaded);
    rootId = root;
    freeHead = free;
    siblingLink_ = std::move(prev);
    childCount_ = std::move(childCount);
    unsortedPairs_ = std::move(unsorted);
    siblingIndex_.Clear();
    for (std::uint32_t i = 1; i <= n; ++i)
        if (childCount_[i] > IndexBuildSize)
            RefreshFamilyIndex(i);
    return true;
}

}  // namespace KR
