// The path tree: many paths (sequences of node values) stored with shared
// prefixes below one built-in root.
//
// Every node counts the paths that run through it or end at it, so one path
// can be stored several times and disappears when its last reference goes.
// Nodes live in one array and are addressed by stable 32-bit ids (index into
// that array, from 1); a path is addressed by the id of its last node. The
// children of a node form a singly linked list in ascending order of the
// comparison; removed entries go to a free list and are reused first.
//
// The sibling lists are the tree's persistent shape. For nodes with many
// children an auxiliary ordered index finds a value's place among the
// siblings in logarithmic time, and a predecessor array makes unlinking a
// node constant time. The index gives exactly the answers a walk of the list
// would give; where a list is not in ascending order (a node whose value was
// replaced in place, or data read from a channel) the walk itself is used.
//
// Failures raise KR::IllegalArgumentException with the text
// "Illegal index in Paths<NodeData, Comparision>::<operation>." and the source
// name "Paths". An id of a removed (free) entry counts as illegal, like 0 or
// an id beyond the array.
#pragma once

#include "LMExport.hpp"

#include "KR/Channel.hpp"
#include "KR/Containers.hpp"
#include "KR/Exceptions.hpp"
#include "KR/GUID.hpp"
#include "KR/Object.hpp"

#include <algorithm>
#include <concepts>
#include <cstdint>
#include <iterator>
#include <new>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

// Order of two UnIDs in the path tree: main GUID first, then revision GUID,
// each by the foundation's GUID order. 0 means equal in both GUIDs.
class Cmp_UnIDs {
public:
    int Compare(const KR::UnID& a, const KR::UnID& b) const noexcept
    {
        int r = KR::guidManager.Compare(a.mainGuid, b.mainGuid);
        return r != 0 ? r : KR::guidManager.Compare(a.revGuid, b.revGuid);
    }

    // The leading fields of the order (data1, data2, data3 of the main GUID)
    // as one number: a smaller prefix means a smaller UnID, and equal UnIDs
    // have equal prefixes. Lets the tree's sibling index compare most keys
    // without a call.
    static std::uint64_t OrderPrefix(const KR::UnID& id) noexcept
    {
        return (std::uint64_t{id.mainGuid.data1} << 32) | (std::uint64_t{id.mainGuid.data2} << 16) |
               std::uint64_t{id.mainGuid.data3};
    }
};

namespace KR {

// NodeData must be trivially copyable (it is written as raw bytes);
// Comparision must offer `int Compare(const NodeData&, const NodeData&) const`.
template <typename NodeData, typename Comparision>
class LM_API Paths : public Object {
    static_assert(std::is_trivially_copyable_v<NodeData>, "node data are stored as raw bytes");

public:
    using PrintCallback = void (*)(void* context, OChannel& channel, const NodeData& data);
    using IdQueue = VAQueue<std::uint32_t>;

    // Marks the parent and first child of a removed entry.
    static constexpr std::uint32_t FreeMark = 0xF4F3F2F1u;

    // One node. Written on a channel as parent, next sibling, first child
    // (unsigned 32-bit), the data as raw bytes, the reference count.
    class TreeEntry : public Object {
    public:
        TreeEntry() = default;
        TreeEntry(const TreeEntry&) = default;
        TreeEntry& operator=(const TreeEntry&) = default;
        ~TreeEntry() override = default;

        ErrorCode Read(IChannel& channel) override;
        ErrorCode Write(OChannel& channel) const override;

        std::uint32_t parent = 0;
        std::uint32_t nextSibling = 0;  // in a free entry: the next free entry
        std::uint32_t firstChild = 0;
        NodeData data{};
        std::uint32_t refCount = 0;
    };

    static Comparision cmp_value;

    Paths();
    Paths(const Paths& other) = default;
    Paths& operator=(const Paths& other) = default;
    ~Paths() override;

    // Stores nodes[0] .. nodes[n - 1]; 0 for n = 0 or null nodes.
    std::uint32_t AddPath(const NodeData* nodes, std::uint32_t n);
    // Stores nodes[0] .. nodes[n - 1], last; nodes may be null only for n = 0
    // (otherwise 0 is returned and nothing changes).
    std::uint32_t AddPath(const NodeData* nodes, std::uint32_t n, const NodeData& last);
    std::uint32_t ReplacePath(std::uint32_t pathId, const NodeData* nodes, std::uint32_t n);
    std::uint32_t SetPathNode(std::uint32_t pathId, std::uint32_t position, const NodeData& id);
    std::uint32_t AppendPathNode(std::uint32_t pathId, const NodeData& id);
    void DeletePath(std::uint32_t pathId);
    std::uint32_t DeletePathNode(std::uint32_t pathId, std::uint32_t position);
    std::uint32_t DeleteLastPathNode(std::uint32_t pathId);
    void AddPathReference(std::uint32_t pathId);

    void GetPath(std::uint32_t pathId, NodeData* out) const;
    void GetPathNode(std::uint32_t pathId, std::uint32_t position, NodeData* out) const;
    void GetPathNodeFromBack(std::uint32_t pathId, std::uint32_t k, NodeData* out) const;
    void GetLastPathNode(std::uint32_t pathId, NodeData* out) const;
    std::uint32_t GetPathLength(std::uint32_t pathId) const;
    std::uint32_t GetPathMultiplicity(std::uint32_t pathId) const;
    bool IsNodeOnPath(std::uint32_t pathId, const NodeData& id) const;
    std::uint32_t FindPathId(const NodeData& id) const;
    void PushSubPathIds(std::uint32_t nodeId, IdQueue* queue) const;

    void Merge(const Paths& other);
    void Clear();
    void Check();

    void Print(OChannel& channel, PrintCallback callback, void* context) const;
    void Print(OChannel& channel) const override;

    ErrorCode Read(IChannel& channel) override;
    ErrorCode Write(OChannel& channel) const override;

protected:
    std::uint32_t GetRootNodeId() const { return rootId; }
    std::uint32_t FindNodeId(const NodeData& id) const;
    void PushChildNodeIds(std::uint32_t nodeId, IdQueue* queue) const;
    void PushSubNodeIds(std::uint32_t nodeId, IdQueue* queue) const;

private:
    // Ordered index of the children of one node, kept only while that
    // sibling list is strictly ascending. It holds each child's order prefix
    // (when the comparison offers one) and node id, in sorted buckets of at
    // most BucketCapacity found through the first item of each bucket; a
    // child's value itself is read from its entry, and only where prefixes
    // tie. So a search touches little memory and rarely calls the comparison.
    class SiblingIndex {
    public:
        // Where a value is, or would be inserted.
        struct Slot {
            std::size_t bucket = 0;
            std::size_t offset = 0;
        };
        // True and the node id of `key`; or false and the id of the greatest
        // value below it (0 when there is none). `slot` (when given) receives
        // the key's place for InsertAt.
        bool Find(const Paths& tree, const NodeData& key, std::uint32_t* id, Slot* slot = nullptr) const;
        // Inserts node `id` with value `key` (not present) where Find put it.
        void InsertAt(const Slot& slot, const NodeData& key, std::uint32_t id);
        void Insert(const Paths& tree, std::uint32_t id);
        // Removes node `id`, found by its value; `*before` receives the node
        // before it in the order (0: none). False when it is not there.
        bool Erase(const Paths& tree, std::uint32_t id, std::uint32_t* before);
        // Adds a node whose value is greater than every value present.
        void Append(const NodeData& key, std::uint32_t id);

    private:
        // The prefix in two halves beside the id: an item is 12 bytes, and
        // the id found sits in the cache line of its prefix.
        struct Item {
            std::uint32_t high;
            std::uint32_t low;
            std::uint32_t id;
            std::uint64_t Prefix() const { return (std::uint64_t{high} << 32) | low; }
        };
        using Run = std::vector<Item>;
        static constexpr std::size_t BucketCapacity = 128;
        static std::uint64_t Prefix(const NodeData& key);
        static Item MakeItem(std::uint64_t p, std::uint32_t id)
        {
            return Item{std::uint32_t(p >> 32), std::uint32_t(p), id};
        }
        // First position of `run` whose value is not less (LowerBound) or
        // greater (UpperBound) than `key`, whose prefix is `p`.
        static std::size_t LowerBound(const Paths& tree, const Run& run, std::uint64_t p, const NodeData& key);
        static std::size_t UpperBound(const Paths& tree, const Run& run, std::uint64_t p, const NodeData& key);
        static std::pair<typename Run::const_iterator, typename Run::const_iterator> PrefixRange(const Run& run,
                                                                                               std::uint64_t p);

        std::vector<Run> buckets_;
        Run first_;  // the first item of each bucket
    };

    // A family gets an index when it grows beyond IndexBuildSize children and
    // loses it when it shrinks to IndexDropSize or fewer.
    static constexpr std::uint32_t IndexBuildSize = 16;
    static constexpr std::uint32_t IndexDropSize = 8;

    std::uint32_t GetFreeEntry();
    std::uint32_t CreateRootNode(const NodeData& id);
    std::uint32_t AddChild(std::uint32_t parentId, const NodeData& id);
    bool FindSiblingEntry(std::uint32_t firstId, const NodeData& id, std::uint32_t* position) const;
    std::uint32_t FindPathNodeId(std::uint32_t pathId, std::uint32_t position) const;
    std::uint32_t FindNodeIdInSubTree(std::uint32_t nodeId, const NodeData& id) const;
    bool IsPathID(std::uint32_t nodeId) const;
    void DeleteUnreferencedLeafItem(std::uint32_t nodeId);
    void MergeSubTree(std::uint32_t nodeId, const Paths& other, std::uint32_t otherNodeId);
    std::uint64_t CheckSubTree(std::uint32_t nodeId);
    void PrintSubTree(OChannel& channel, PrintCallback callback, void* context, std::uint32_t nodeId,
                      std::uint32_t level, std::vector<bool>* lastFlags) const;

    [[noreturn]] static void ThrowIllegal(const char* operation);
    bool IsLive(std::uint32_t nodeId) const;
    void CheckLive(std::uint32_t nodeId, const char* operation) const;
    std::uint32_t Length(std::uint32_t nodeId) const;
    std::vector<NodeData> CollectPath(std::uint32_t pathId) const;
    void AddReferences(std::uint32_t nodeId);
    void RequireReleasable(std::uint32_t pathId) const;
    void ReleasePath(std::uint32_t pathId);
    std::uint32_t RebuildBelow(std::uint32_t pathId, std::uint32_t position, std::uint32_t parentId,
                               const NodeData* replacement);
    template <typename Visit>
    void VisitSubTree(std::uint32_t nodeId, Visit visit) const;

    bool Inverted(std::uint32_t a, std::uint32_t b) const;
    void AdjustUnsorted(std::uint32_t parentId, int delta);
    bool WalkSiblings(std::uint32_t firstId, const NodeData& id, std::uint32_t* position) const;
    void LinkChild(std::uint32_t parentId, std::uint32_t nodeId, std::uint32_t prevId,
                   const typename SiblingIndex::Slot* slot);
    void UnlinkChild(std::uint32_t nodeId);
    void ChangeNodeData(std::uint32_t nodeId, const NodeData& id);
    void RefreshFamilyIndex(std::uint32_t parentId);
    void DropFamilyIndex(std::uint32_t parentId);
    bool AdoptEntries(std::uint32_t root, std::uint32_t free, VAArray<TreeEntry>& loaded);

    VAArray<TreeEntry> entries{100};
    std::uint32_t freeHead = 0;
    std::uint32_t rootId = 0;

    // Auxiliary state, derived from the entries and rebuilt on Read.
    // The node before each node in its sibling list (0 for a first child),
    // kept for families without an index; an index knows it for its own.
    std::vector<std::uint32_t> prevSibling_;
    std::vector<std::uint32_t> childCount_;   // by node id
    // Families whose sibling list is not strictly ascending, with the number
    // of adjacent sibling pairs out of order.
    std::unordered_map<std::uint32_t, std::uint32_t> unsortedPairs_;
    std::unordered_map<std::uint32_t, SiblingIndex> siblingIndex_;
};

template <typename NodeData, typename Comparision>
Comparision Paths<NodeData, Comparision>::cmp_value{};

// ---------------------------------------------------------------------------
// TreeEntry

template <typename NodeData, typename Comparision>
ErrorCode Paths<NodeData, Comparision>::TreeEntry::Read(IChannel& channel)
{
    ErrorCode err = channel.Read(parent);
    if (err == NoError)
        err = channel.Read(nextSibling);
    if (err == NoError)
        err = channel.Read(firstChild);
    if (err == NoError)
        err = channel.ReadBin(&data, sizeof data);
    if (err == NoError)
        err = channel.Read(refCount);
    return err;
}

template <typename NodeData, typename Comparision>
ErrorCode Paths<NodeData, Comparision>::TreeEntry::Write(OChannel& channel) const
{
    ErrorCode err = channel.Write(parent);
    if (err == NoError)
        err = channel.Write(nextSibling);
    if (err == NoError)
        err = channel.Write(firstChild);
    if (err == NoError)
        err = channel.WriteBin(&data, sizeof data);
    if (err == NoError)
        err = channel.Write(refCount);
    return err;
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
        const TreeEntry& e = entries[cur];
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
        prevSibling_.push_back(0);
        childCount_.push_back(0);
    } catch (const std::bad_alloc&) {
        prevSibling_.resize(entries.GetSize() + 1);
        childCount_.resize(entries.GetSize() + 1);
        throw OutOfMemoryException(ErrMemFull, "Paths");
    }
    try {
        return entries.Push(TreeEntry());
    } catch (...) {
        prevSibling_.pop_back();
        childCount_.pop_back();
        throw;
    }
}

template <typename NodeData, typename Comparision>
std::uint32_t Paths<NodeData, Comparision>::CreateRootNode(const NodeData& id)
{
    if (rootId == 0) {
        std::uint32_t n = GetFreeEntry();
        TreeEntry& e = entries[n];
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

template <typename NodeData, typename Comparision>
bool Paths<NodeData, Comparision>::FindSiblingEntry(std::uint32_t firstId, const NodeData& id,
                                                    std::uint32_t* position) const
{
    *position = 0;
    if (firstId == 0)
        return false;
    std::uint32_t parentId = entries[firstId].parent;
    auto family = siblingIndex_.find(parentId);
    if (family != siblingIndex_.end() && entries[parentId].firstChild == firstId)
        return family->second.Find(*this, id, position);
    return WalkSiblings(firstId, id, position);
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

template <typename NodeData, typename Comparision>
std::uint32_t Paths<NodeData, Comparision>::AddChild(std::uint32_t parentId, const NodeData& id)
{
    // The same search as FindSiblingEntry, keeping the index slot so that
    // the new child goes into the index without a second search.
    std::uint32_t prev = 0;
    typename SiblingIndex::Slot slot;
    auto family = siblingIndex_.find(parentId);
    bool found = family != siblingIndex_.end() ? family->second.Find(*this, id, &prev, &slot)
                                               : FindSiblingEntry(entries[parentId].firstChild, id, &prev);
    if (found) {
        ++entries[prev].refCount;
        return prev;
    }
    // The sibling before the new node is written when it is linked: start
    // loading it while the new entry is prepared.
    if (prev != 0)
        __builtin_prefetch(&entries[prev], 1);
    std::uint32_t n = 0;
    try {
        n = GetFreeEntry();
    } catch (const OutOfMemoryException&) {
        return 0;
    }
    TreeEntry& e = entries[n];
    e.parent = parentId;
    e.firstChild = 0;
    e.data = id;
    e.refCount = 1;
    LinkChild(parentId, n, prev, family != siblingIndex_.end() ? &slot : nullptr);
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

// Links nodeId into the child list of parentId after prevId (0: at the head),
// where a search of that list placed it: prevId is smaller than nodeId's
// value and the sibling after it larger, so no pair of neighbours changes
// its order and the family stays as sorted (or unsorted) as it was. `slot`
// is the index slot of that search when the family is indexed.
template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::LinkChild(std::uint32_t parentId, std::uint32_t nodeId, std::uint32_t prevId,
                                             const typename SiblingIndex::Slot* slot)
{
    std::uint32_t next = prevId != 0 ? entries[prevId].nextSibling : entries[parentId].firstChild;
    entries[nodeId].nextSibling = next;
    if (prevId != 0)
        entries[prevId].nextSibling = nodeId;
    else
        entries[parentId].firstChild = nodeId;
    ++childCount_[parentId];

    auto family = siblingIndex_.find(parentId);
    if (family == siblingIndex_.end()) {
        prevSibling_[nodeId] = prevId;
        if (next != 0)
            prevSibling_[next] = nodeId;
    } else {
        try {
            if (slot != nullptr)
                family->second.InsertAt(*slot, entries[nodeId].data, nodeId);
            else
                family->second.Insert(*this, nodeId);
        } catch (const std::bad_alloc&) {
            DropFamilyIndex(parentId);  // a walk of the list is always right
        }
    }
    RefreshFamilyIndex(parentId);
}

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::UnlinkChild(std::uint32_t nodeId)
{
    std::uint32_t parentId = entries[nodeId].parent;
    std::uint32_t next = entries[nodeId].nextSibling;
    std::uint32_t prev = 0;
    auto family = siblingIndex_.find(parentId);
    if (family != siblingIndex_.end() && family->second.Erase(*this, nodeId, &prev)) {
        // An indexed family is ascending, and stays so without the node.
    } else {
        if (family != siblingIndex_.end())
            DropFamilyIndex(parentId);
        prev = prevSibling_[nodeId];
        if (next != 0)
            prevSibling_[next] = prev;
        if (unsortedPairs_.count(parentId) != 0)
            AdjustUnsorted(parentId, -int(Inverted(prev, nodeId)) - int(Inverted(nodeId, next)) +
                                         int(Inverted(prev, next)));
    }
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
    std::uint32_t parentId = entries[nodeId].parent;
    std::uint32_t next = entries[nodeId].nextSibling;
    std::uint32_t prev = 0;
    int delta = 0;
    auto family = siblingIndex_.find(parentId);
    if (family != siblingIndex_.end() && family->second.Erase(*this, nodeId, &prev)) {
        entries[nodeId].data = id;  // the pairs around it were in order
        delta = int(Inverted(prev, nodeId)) + int(Inverted(nodeId, next));
        if (delta == 0) {
            try {
                family->second.Insert(*this, nodeId);
            } catch (const std::bad_alloc&) {
                DropFamilyIndex(parentId);
            }
        } else {
            DropFamilyIndex(parentId);
        }
    } else {
        if (family != siblingIndex_.end())
            DropFamilyIndex(parentId);
        prev = prevSibling_[nodeId];
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
    siblingIndex_.erase(parentId);
    std::uint32_t before = 0;
    for (std::uint32_t n = entries[parentId].firstChild; n != 0; n = entries[n].nextSibling) {
        prevSibling_[n] = before;
        before = n;
    }
}

// Builds or drops the index of one family after a change of its list.
template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::RefreshFamilyIndex(std::uint32_t parentId)
{
    bool ascending = unsortedPairs_.count(parentId) == 0;
    std::uint32_t count = childCount_[parentId];
    auto family = siblingIndex_.find(parentId);
    if (family != siblingIndex_.end()) {
        if (!ascending || count <= IndexDropSize)
            DropFamilyIndex(parentId);
        return;
    }
    if (!ascending || count <= IndexBuildSize)
        return;
    try {
        SiblingIndex index;
        for (std::uint32_t n = entries[parentId].firstChild; n != 0; n = entries[n].nextSibling)
            index.Append(entries[n].data, n);
        siblingIndex_.emplace(parentId, std::move(index));
    } catch (const std::bad_alloc&) {
        siblingIndex_.erase(parentId);  // the predecessor array is still right
    }
}

// ---------------------------------------------------------------------------
// SiblingIndex

template <typename NodeData, typename Comparision>
std::uint64_t Paths<NodeData, Comparision>::SiblingIndex::Prefix(const NodeData& key)
{
    if constexpr (requires { { Comparision::OrderPrefix(key) } -> std::convertible_to<std::uint64_t>; })
        return Comparision::OrderPrefix(key);
    else
        return 0;  // every key ties on the prefix: the comparison decides
}

// The range of `run` whose prefix is `p`. Prefixes of identifiers are spread
// evenly, so a guess by interpolation lands within a few items of the place;
// a window around it is checked before the binary search takes over, which
// keeps the search to one or two cache lines of the run. Skewed prefixes
// only make the window miss, and the binary search still finds the range.
template <typename NodeData, typename Comparision>
auto Paths<NodeData, Comparision>::SiblingIndex::PrefixRange(const Run& run, std::uint64_t p)
    -> std::pair<typename Run::const_iterator, typename Run::const_iterator>
{
    auto lo = run.begin();
    auto hi = run.end();
    constexpr std::ptrdiff_t Window = 4;
    if (hi - lo > 4 * Window) {
        const std::uint64_t a = lo->Prefix();
        const std::uint64_t b = (hi - 1)->Prefix();
        if (p <= a) {
            hi = lo + 1;
        } else if (p > b) {
            lo = hi - 1;
        } else {
            const double share = double(p - a) / double(b - a);
            auto guess = lo + std::ptrdiff_t(share * double(hi - 1 - lo));
            if (guess->Prefix() < p) {
                lo = guess + 1;
                if (hi - lo > Window && (lo + Window)->Prefix() >= p)
                    hi = lo + Window + 1;
            } else {
                hi = guess + 1;
                if (hi - lo > Window + 1 && (hi - 1 - Window)->Prefix() < p)
                    lo = hi - 1 - Window;
            }
        }
    }
    auto first = std::lower_bound(lo, hi, p, [](const Item& item, std::uint64_t q) { return item.Prefix() < q; });
    // Equal prefixes are rare: look at the next few before searching.
    auto last = first;
    for (int k = 0; k < 8 && last != run.end() && last->Prefix() == p; ++k)
        ++last;
    if (last != run.end() && last->Prefix() == p)
        last = std::upper_bound(last, run.end(), p, [](std::uint64_t q, const Item& item) { return q < item.Prefix(); });
    return {first, last};
}

template <typename NodeData, typename Comparision>
std::size_t Paths<NodeData, Comparision>::SiblingIndex::LowerBound(const Paths& tree, const Run& run,
                                                                   std::uint64_t p, const NodeData& key)
{
    auto [lo, hi] = PrefixRange(run, p);
    auto it = std::lower_bound(lo, hi, key, [&tree](const Item& item, const NodeData& k) {
        return cmp_value.Compare(tree.entries[item.id].data, k) < 0;
    });
    return std::size_t(it - run.begin());
}

template <typename NodeData, typename Comparision>
std::size_t Paths<NodeData, Comparision>::SiblingIndex::UpperBound(const Paths& tree, const Run& run,
                                                                   std::uint64_t p, const NodeData& key)
{
    auto [lo, hi] = PrefixRange(run, p);
    auto it = std::upper_bound(lo, hi, key, [&tree](const NodeData& k, const Item& item) {
        return cmp_value.Compare(k, tree.entries[item.id].data) < 0;
    });
    return std::size_t(it - run.begin());
}

template <typename NodeData, typename Comparision>
bool Paths<NodeData, Comparision>::SiblingIndex::Find(const Paths& tree, const NodeData& key, std::uint32_t* id,
                                                      Slot* slot) const
{
    *id = 0;
    if (buckets_.empty()) {
        if (slot != nullptr)
            *slot = Slot{};
        return false;
    }
    const std::uint64_t p = Prefix(key);
    // The last bucket whose first value is not greater than key (bucket 0
    // for a key below all).
    const std::size_t after = UpperBound(tree, first_, p, key);
    const std::size_t b = after == 0 ? 0 : after - 1;
    const Run& bucket = buckets_[b];
    const std::size_t i = LowerBound(tree, bucket, p, key);
    if (slot != nullptr)
        *slot = Slot{b, i};
    if (i < bucket.size() && bucket[i].Prefix() == p && cmp_value.Compare(tree.entries[bucket[i].id].data, key) == 0) {
        *id = bucket[i].id;
        return true;
    }
    // Only the first bucket can hold nothing below the key.
    if (i > 0)
        *id = bucket[i - 1].id;
    return false;
}

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::SiblingIndex::InsertAt(const Slot& slot, const NodeData& key, std::uint32_t id)
{
    if (buckets_.empty()) {
        Append(key, id);
        return;
    }
    // Room first, so that no step below fails halfway.
    first_.reserve(first_.size() + 1);
    buckets_.reserve(buckets_.size() + 1);
    Run& bucket = buckets_[slot.bucket];
    const Item item = MakeItem(Prefix(key), id);
    bucket.insert(bucket.begin() + std::ptrdiff_t(slot.offset), item);
    if (slot.offset == 0)
        first_[slot.bucket] = item;
    if (bucket.size() > BucketCapacity) {
        // Split: the upper half becomes a bucket of its own.
        const auto half = std::ptrdiff_t(BucketCapacity / 2);
        Run upper(bucket.begin() + half, bucket.end());
        bucket.resize(std::size_t(half));
        first_.insert(first_.begin() + std::ptrdiff_t(slot.bucket + 1), upper.front());
        buckets_.insert(buckets_.begin() + std::ptrdiff_t(slot.bucket + 1), std::move(upper));
    }
}

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::SiblingIndex::Insert(const Paths& tree, std::uint32_t id)
{
    const NodeData& key = tree.entries[id].data;
    std::uint32_t present = 0;
    Slot slot;
    if (!Find(tree, key, &present, &slot))
        InsertAt(slot, key, id);
}

template <typename NodeData, typename Comparision>
bool Paths<NodeData, Comparision>::SiblingIndex::Erase(const Paths& tree, std::uint32_t id, std::uint32_t* before)
{
    *before = 0;
    std::uint32_t present = 0;
    Slot slot;
    if (!Find(tree, tree.entries[id].data, &present, &slot) || present != id)
        return false;
    Run& bucket = buckets_[slot.bucket];
    if (slot.offset > 0)
        *before = bucket[slot.offset - 1].id;
    else if (slot.bucket > 0)
        *before = buckets_[slot.bucket - 1].back().id;
    bucket.erase(bucket.begin() + std::ptrdiff_t(slot.offset));
    if (bucket.empty()) {
        buckets_.erase(buckets_.begin() + std::ptrdiff_t(slot.bucket));
        first_.erase(first_.begin() + std::ptrdiff_t(slot.bucket));
    } else if (slot.offset == 0) {
        first_[slot.bucket] = bucket.front();
    }
    return true;
}

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::SiblingIndex::Append(const NodeData& key, std::uint32_t id)
{
    const Item item = MakeItem(Prefix(key), id);
    if (buckets_.empty() || buckets_.back().size() >= BucketCapacity / 2) {
        first_.reserve(first_.size() + 1);
        buckets_.emplace_back();
        first_.push_back(item);
    }
    buckets_.back().push_back(item);
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
// Releasing paths

template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::DeleteUnreferencedLeafItem(std::uint32_t nodeId)
{
    TreeEntry& e = entries[nodeId];
    if (e.refCount != 0 || e.firstChild != 0)
        ThrowIllegal("DeleteUnreferencedLeafItem");
    if (nodeId != rootId)
        UnlinkChild(nodeId);
    TreeEntry& freed = entries[nodeId];
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
        const TreeEntry& e = entries[n];
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
    TreeEntry& e = entries[pathId];
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
    prevSibling_.assign(1, 0);
    childCount_.assign(1, 0);
    unsortedPairs_.clear();
    siblingIndex_.clear();
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
    const TreeEntry& root = entries[rootId];
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
        const TreeEntry& e = entries[cur];
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
    for (const TreeEntry& e : entries)
        (void)e.Write(channel);
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
        return -7003;
    if (err == NoError)
        err = channel.Read(count);
    if (err == NoError)
        err = channel.Read(step);
    if (err == NoError)
        err = channel.Read(recordSize);
    if (err != NoError)
        return err;
    if (count < 1)
        return -7003;
    // Entries are appended as they arrive, so a count that the stream does
    // not back allocates nothing in advance.
    VAArray<TreeEntry> loaded(100);
    for (std::int32_t i = 0; i < count; ++i) {
        TreeEntry e;
        err = e.Read(channel);
        if (err != NoError)
            return err;
        loaded.Push(e);
    }
    if (!AdoptEntries(root, free, loaded)) {
        Clear();
        return -7003;
    }
    return NoError;
}

// Takes entries read from a channel when they form one tree below `root` and
// one free list from `free`, each entry in exactly one of them; rebuilds the
// auxiliary state. False (and nothing changed) otherwise.
template <typename NodeData, typename Comparision>
bool Paths<NodeData, Comparision>::AdoptEntries(std::uint32_t root, std::uint32_t free, VAArray<TreeEntry>& loaded)
{
    const std::uint32_t n = loaded.GetSize();
    if (root < 1 || root > n || loaded[root].parent != 0 || loaded[root].nextSibling != 0)
        return false;
    std::vector<std::uint8_t> seen(std::size_t{n} + 1, 0);
    std::vector<std::uint32_t> prev(std::size_t{n} + 1, 0);
    std::vector<std::uint32_t> childCount(std::size_t{n} + 1, 0);
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
    prevSibling_ = std::move(prev);
    childCount_ = std::move(childCount);
    unsortedPairs_ = std::move(unsorted);
    siblingIndex_.clear();
    for (std::uint32_t i = 1; i <= n; ++i)
        if (childCount_[i] > IndexBuildSize)
            RefreshFamilyIndex(i);
    return true;
}

// The module's one instantiation is compiled once, in the module.
extern template class Paths<UnID, Cmp_UnIDs>;

}  // namespace KR
