// The path tree: many paths (sequences of node values) stored with shared
// prefixes below one built-in root.
//
// Every node counts the paths that run through it or end at it, so one path
// can be stored several times and disappears when its last reference goes.
// Nodes are addressed by stable 32-bit ids (positions in the entry array,
// from 1); a path is addressed by the id of its last node. The children of a
// node form a singly linked list in ascending order of the comparison;
// removed entries go to a free list and are reused first. In memory a node's
// links and count lie apart from its value (see EntryStore), on storage that
// large trees get in huge pages; on a channel it is one TreeEntry record.
//
// The sibling lists are the tree's persistent shape. For nodes with many
// children an auxiliary ordered index finds a value's place among the
// siblings in logarithmic time, and gives a new node's neighbours; a
// predecessor array (for families without an index) and the index (for
// those with one) make unlinking a node constant time. The index gives
// exactly the answers a walk of the list would give; where a list is not in
// ascending order (a node whose value was replaced in place, or data read
// from a channel) the walk itself is used.
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
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <stdexcept>
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

// Storage of the path tree's big arrays. The tree reads its entries and its
// sibling index at scattered places; once they outgrow the caches, a read
// with small pages usually misses the address translation as well as the
// data. Blocks from LargeBlockSize on are therefore mapped on their own,
// aligned to and sized in whole huge pages, and the kernel is asked to back
// them with huge pages (a hint: where it declines, they are ordinary pages).
// Smaller blocks come from the ordinary allocator.
namespace PathsStorage {

inline constexpr std::size_t HugePageSize = std::size_t{2} << 20;
inline constexpr std::size_t LargeBlockSize = std::size_t{1} << 20;

// A block of at least `bytes` (from LargeBlockSize on), aligned to
// HugePageSize; std::bad_alloc when the system has none.
LM_API void* AllocateLargeBlock(std::size_t bytes);
// Gives back a block of AllocateLargeBlock with the same size.
LM_API void ReleaseLargeBlock(void* block, std::size_t bytes) noexcept;

template <typename T>
class LargeBlockAllocator {
public:
    using value_type = T;

    LargeBlockAllocator() noexcept = default;
    template <typename U>
    LargeBlockAllocator(const LargeBlockAllocator<U>&) noexcept
    {
    }

    static bool IsLarge(std::size_t n) noexcept { return n >= LargeBlockSize / sizeof(T); }

    T* allocate(std::size_t n)
    {
        if (n > std::size_t(-1) / sizeof(T))
            throw std::bad_array_new_length();
        if (IsLarge(n))
            return static_cast<T*>(AllocateLargeBlock(n * sizeof(T)));
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* block, std::size_t n) noexcept
    {
        if (IsLarge(n))
            ReleaseLargeBlock(block, n * sizeof(T));
        else
            std::allocator<T>().deallocate(block, n);
    }

    friend bool operator==(const LargeBlockAllocator&, const LargeBlockAllocator&) noexcept { return true; }
};

template <typename T>
using Vector = std::vector<T, LargeBlockAllocator<T>>;

}  // namespace PathsStorage

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
    // The fields of a node that link and count it. Walks and releases read
    // only these, so they lie apart from the values, four nodes to a cache
    // line: the part of the tree that operations visit at random places stays
    // small enough for the caches far longer than whole entries would.
    struct NodeLinks {
        std::uint32_t parent;
        std::uint32_t nextSibling;
        std::uint32_t firstChild;
        std::uint32_t refCount;
    };
    // One node's fields where they lie, used as a TreeEntry would be.
    template <bool Const>
    struct EntryView {
        template <typename T>
        using Ref = std::conditional_t<Const, const T&, T&>;
        Ref<std::uint32_t> parent;
        Ref<std::uint32_t> nextSibling;
        Ref<std::uint32_t> firstChild;
        Ref<NodeData> data;
        Ref<std::uint32_t> refCount;
    };
    // The nodes by id, counted from 1: links and values in two arrays on the
    // large block storage. Ids are checked and failures raised exactly as by
    // the foundation's VAArray (bad id: IllegalArgumentException; no memory:
    // OutOfMemoryException, both with the source name "VAArray"), and the
    // arrays grow as a VAArray with the same step would.
    class EntryStore {
    public:
        explicit EntryStore(std::int32_t step) : step_(step > 0 ? step : 1) {}

        std::uint32_t GetSize() const noexcept { return static_cast<std::uint32_t>(links_.size()); }

        EntryView<false> operator[](std::uint32_t id)
        {
            Check(id);
            NodeLinks& l = links_[id - 1];
            return {l.parent, l.nextSibling, l.firstChild, data_[id - 1], l.refCount};
        }
        EntryView<true> operator[](std::uint32_t id) const
        {
            Check(id);
            const NodeLinks& l = links_[id - 1];
            return {l.parent, l.nextSibling, l.firstChild, data_[id - 1], l.refCount};
        }

        // Node `id` as the record written on a channel.
        TreeEntry Get(std::uint32_t id) const
        {
            const EntryView<true> v = (*this)[id];
            TreeEntry e;
            e.parent = v.parent;
            e.nextSibling = v.nextSibling;
            e.firstChild = v.firstChild;
            e.data = v.data;
            e.refCount = v.refCount;
            return e;
        }

        // Appends a node; returns its id.
        std::uint32_t Push(const TreeEntry& e)
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

        // Removes the nodes and keeps the storage.
        void Clear() noexcept
        {
            links_.clear();
            data_.clear();
        }

    private:
        void Check(std::uint32_t id) const
        {
            if (id < 1 || id > links_.size())
                ContainersPrivate::ThrowBadIndex("VAArray", "operator[]", id, links_.size());
        }

        std::int32_t step_;
        PathsStorage::Vector<NodeLinks> links_;
        PathsStorage::Vector<NodeData> data_;
    };

    // Ordered index of the children of one node, kept only while that
    // sibling list is strictly ascending. It holds each child's key (the
    // upper half of the comparison's order prefix, see KeyOf) and node id in
    // sorted leaves of at most LeafCapacity items; a family's index is the
    // list of its leaves in order, each with its first key, and the leaves of
    // all families lie in one pool of the tree. A child's value itself is
    // read from its entry only where keys tie, so a search touches little
    // memory and rarely calls the comparison. The index also knows each
    // child's neighbours, so linking and unlinking need not read them from
    // the entries.
    static constexpr std::uint32_t LeafCapacity = 63;
    using IndexKey = std::uint32_t;
    static constexpr std::uint32_t NoLeaf = 0xFFFFFFFFu;
    static constexpr std::size_t NoPart = std::size_t(-1);

    // A leaf is 8 cache lines: its fill, then the prefixes, then the node
    // ids. A search reads the prefixes densely and the ids only at its
    // result; a release finds its node among the ids. A free leaf is empty
    // and holds the next free one in id[0].
    struct alignas(64) IndexLeaf {
        std::uint32_t count;
        IndexKey prefix[LeafCapacity];
        std::uint32_t id[LeafCapacity];
    };
    static_assert(sizeof(IndexLeaf) == 512);
    struct LeafRef {
        IndexKey prefix;     // of the leaf's first item
        std::uint32_t leaf;  // in the pool
    };
    struct SiblingIndex {
        PathsStorage::Vector<LeafRef> leaves;  // in ascending order
    };
    // A place in an index: the leaf (in the pool, and its position `part` in
    // the family's list) and the offset in it; `found` is the node with the
    // value searched (0: none). A slot found by node id knows `part` only
    // where the offset is 0 (NoPart otherwise).
    struct IndexSlot {
        std::size_t part = 0;
        std::uint32_t leaf = NoLeaf;
        std::uint32_t offset = 0;
        std::uint32_t found = 0;
    };

    // A family gets an index when it grows beyond IndexBuildSize children and
    // loses it when it shrinks to IndexDropSize or fewer.
    static constexpr std::uint32_t IndexBuildSize = 16;
    static constexpr std::uint32_t IndexDropSize = 8;

    std::uint32_t GetFreeEntry();
    std::uint32_t CreateRootNode(const NodeData& id);
    std::uint32_t AddChild(std::uint32_t parentId, const NodeData& id);
    std::uint32_t NewChildEntry(std::uint32_t parentId, const NodeData& id);
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
    void LinkListChild(std::uint32_t parentId, std::uint32_t nodeId, std::uint32_t prevId);
    void UnlinkChild(std::uint32_t nodeId);
    void ChangeNodeData(std::uint32_t nodeId, const NodeData& id);
    void RefreshFamilyIndex(std::uint32_t parentId);
    void BuildFamilyIndex(std::uint32_t parentId);
    void DropFamilyIndex(std::uint32_t parentId);
    bool AdoptEntries(std::uint32_t root, std::uint32_t free, EntryStore& loaded);

    static IndexKey KeyOf(const NodeData& key);
    const NodeData& FirstValue(const LeafRef& ref) const { return entries[leaves_[ref.leaf].id[0]].data; }
    bool IndexFind(const SiblingIndex& index, const NodeData& key, IndexKey p, IndexSlot* slot) const;
    bool IndexLocate(const SiblingIndex& index, std::uint32_t nodeId, IndexSlot* slot) const;
    std::size_t PartOf(const SiblingIndex& index, std::uint32_t leafNo) const;
    std::uint32_t IndexBefore(const SiblingIndex& index, const IndexSlot& slot) const;
    std::uint32_t IndexAt(const SiblingIndex& index, const IndexSlot& slot) const;
    void IndexInsert(SiblingIndex& index, const IndexSlot& slot, IndexKey p, std::uint32_t id);
    void IndexErase(SiblingIndex& index, const IndexSlot& slot) noexcept;
    std::uint32_t AcquireLeaf();
    void ReleaseIndex(SiblingIndex& index) noexcept;
    // Inlined: a call of a function that only prefetches may be dropped
    // as one without effect.
    [[gnu::always_inline]] inline void PrefetchIndexLeaf(std::uint32_t nodeId) const noexcept;
    [[gnu::always_inline]] static void PrefetchLeaf(const IndexLeaf& leaf) noexcept
    {
        const char* bytes = reinterpret_cast<const char*>(&leaf);
        for (std::size_t offset = 0; offset < sizeof(IndexLeaf); offset += 64)
            __builtin_prefetch(bytes + offset);
    }

    EntryStore entries{100};
    std::uint32_t freeHead = 0;
    std::uint32_t rootId = 0;

    // Auxiliary state, derived from the entries and rebuilt on Read.
    // By node id: in a family without an index, the node before it in its
    // sibling list (0 for a first child). The index of an indexed family
    // knows that itself; there the entry names the index leaf that holds the
    // node, so that a release finds the node's item by id and starts loading
    // the leaf before the node's links arrive. Where the leaf does not hold
    // the node after all, the search by value decides.
    PathsStorage::Vector<std::uint32_t> siblingLink_;
    PathsStorage::Vector<std::uint32_t> childCount_;  // by node id
    // Families whose sibling list is not strictly ascending, with the number
    // of adjacent sibling pairs out of order.
    std::unordered_map<std::uint32_t, std::uint32_t> unsortedPairs_;
    std::unordered_map<std::uint32_t, SiblingIndex> siblingIndex_;
    // The leaves of all sibling indexes, and the first free one.
    PathsStorage::Vector<IndexLeaf> leaves_;
    std::uint32_t freeLeaf_ = NoLeaf;
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
    auto family = siblingIndex_.find(parentId);
    if (family == siblingIndex_.end()) {
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

    SiblingIndex& index = family->second;
    const IndexKey p = KeyOf(id);
    IndexSlot slot;
    if (IndexFind(index, id, p, &slot)) {
        ++entries[slot.found].refCount;
        return slot.found;
    }
    const std::uint32_t prev = IndexBefore(index, slot);
    const std::uint32_t next = IndexAt(index, slot);
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
        IndexInsert(index, slot, p, n);
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
    auto family = siblingIndex_.find(parentId);
    if (family != siblingIndex_.end()) {
        IndexSlot slot;
        if (IndexLocate(family->second, nodeId, &slot) ||
            (IndexFind(family->second, e.data, KeyOf(e.data), &slot) && slot.found == nodeId)) {
            // An indexed family is ascending, and stays so without the node;
            // the index knows the sibling before it.
            prev = IndexBefore(family->second, slot);
            IndexErase(family->second, slot);
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
    auto family = siblingIndex_.find(parentId);
    IndexSlot slot;
    if (family != siblingIndex_.end() &&
        IndexFind(family->second, entries[nodeId].data, KeyOf(entries[nodeId].data), &slot) &&
        slot.found == nodeId) {
        prev = IndexBefore(family->second, slot);
        IndexErase(family->second, slot);
        entries[nodeId].data = id;  // the pairs around it were in order
        delta = int(Inverted(prev, nodeId)) + int(Inverted(nodeId, next));
        if (delta == 0) {
            // Still between its neighbours: back into the index, where the
            // new value belongs.
            const IndexKey p = KeyOf(id);
            IndexSlot place;
            try {
                if (!IndexFind(family->second, id, p, &place))
                    IndexInsert(family->second, place, p, nodeId);
            } catch (const std::bad_alloc&) {
                DropFamilyIndex(parentId);
            }
        } else {
            DropFamilyIndex(parentId);
        }
    } else {
        if (family != siblingIndex_.end())
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
    auto family = siblingIndex_.find(parentId);
    if (family != siblingIndex_.end()) {
        ReleaseIndex(family->second);
        siblingIndex_.erase(family);
    }
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
    if (siblingIndex_.count(parentId) != 0) {
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
    SiblingIndex* index = nullptr;
    try {
        index = &siblingIndex_.try_emplace(parentId).first->second;
        auto& parts = index->leaves;
        for (std::uint32_t n = entries[parentId].firstChild; n != 0; n = entries[n].nextSibling) {
            const IndexKey p = KeyOf(entries[n].data);
            if (parts.empty() || leaves_[parts.back().leaf].count >= LeafCapacity / 2) {
                if (parts.size() == parts.capacity())
                    parts.reserve(std::max<std::size_t>(8, 2 * parts.size()));
                const std::uint32_t fresh = AcquireLeaf();
                parts.push_back(LeafRef{p, fresh});
            }
            const std::uint32_t leafNo = parts.back().leaf;
            IndexLeaf& leaf = leaves_[leafNo];
            leaf.prefix[leaf.count] = p;
            leaf.id[leaf.count] = n;
            ++leaf.count;
        }
    } catch (const std::bad_alloc&) {
        if (index != nullptr) {
            ReleaseIndex(*index);
            siblingIndex_.erase(parentId);
        }
        return;
    }
    for (const LeafRef& ref : index->leaves) {
        const IndexLeaf& leaf = leaves_[ref.leaf];
        for (std::uint32_t i = 0; i < leaf.count; ++i)
            siblingLink_[leaf.id[i]] = ref.leaf;
    }
}

// ---------------------------------------------------------------------------
// Sibling index

// The upper half of the comparison's order prefix: still a smaller key for a
// smaller value and equal keys for equal values, and for identifiers, whose
// leading field is spread evenly, nearly always distinct among siblings.
template <typename NodeData, typename Comparision>
auto Paths<NodeData, Comparision>::KeyOf(const NodeData& key) -> IndexKey
{
    if constexpr (requires { { Comparision::OrderPrefix(key) } -> std::convertible_to<std::uint64_t>; })
        return static_cast<IndexKey>(std::uint64_t{Comparision::OrderPrefix(key)} >> 32);
    else
        return 0;  // every key ties: the comparison decides
}

namespace PathsSearch {

// The first index in [lo, hi) at which `before` is false, where `before`
// holds on a leading run of the range and fails on the rest: a binary
// search over positions.
template <typename Before>
std::size_t PartitionPoint(std::size_t lo, std::size_t hi, Before before)
{
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (before(mid))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

// Where p would stand among n prefixes spread evenly from `low` on, below
// `high`. Prefixes of identifiers are spread evenly, so this lands within a
// few items of the place; skewed prefixes only make it a poor guess.
inline std::size_t Interpolate(std::uint64_t p, std::uint64_t low, std::uint64_t high, std::size_t n)
{
    if (p <= low || high <= low)
        return 0;
    if (p >= high)
        return n;
    return static_cast<std::size_t>(double(p - low) / double(high - low) * double(n));
}

// The first of n ascending prefixes (read through `at`) that is not less
// than p. A window next to `guess` is checked first, which usually confines
// the search to a cache line; a binary search finishes in what remains.
template <typename At>
std::size_t LowerBound(At at, std::size_t n, std::uint64_t p, std::size_t guess)
{
    constexpr std::size_t Window = 4;
    std::size_t lo = 0;
    std::size_t hi = n;
    if (n > 2 * Window) {
        const std::size_t g = std::min(guess, n - 1);
        if (at(g) < p) {
            lo = g + 1;
            if (lo + Window < n && at(lo + Window) >= p)
                hi = lo + Window;
        } else {
            hi = g;
            if (g >= Window && at(g - Window) < p)
                lo = g - Window + 1;
        }
    }
    return PartitionPoint(lo, hi, [&](std::size_t i) { return at(i) < p; });
}

// The first of n ascending prefixes (read through `at`) not less than p,
// for prefixes spread about evenly, without a guess: each round guesses the
// place from the prefixes at the ends of the range left and checks a window
// beside the guess, which on such prefixes closes in on the place within a
// few rounds; a binary search finishes what remains, so skewed prefixes
// cost a few reads more than a binary search alone.
template <typename At>
std::size_t InterpolationLowerBound(At at, std::size_t n, std::uint64_t p)
{
    constexpr std::size_t Window = 4;
    std::size_t lo = 0;
    std::size_t hi = n;  // the place is in [lo, hi]
    for (int round = 0; round < 4 && hi - lo > 4 * Window; ++round) {
        const std::uint64_t a = at(lo);
        const std::uint64_t b = at(hi - 1);
        if (p <= a)
            return lo;
        if (p > b)
            return hi;
        const std::size_t g = lo + static_cast<std::size_t>(double(p - a) / double(b - a) * double(hi - 1 - lo));
        if (at(g) < p) {
            lo = g + 1;
            if (lo + Window < hi && at(lo + Window) >= p) {
                hi = lo + Window;
                break;
            }
        } else {
            hi = g;
            if (g >= lo + Window && at(g - Window) < p) {
                lo = g - Window + 1;
                break;
            }
        }
    }
    return PartitionPoint(lo, hi, [&](std::size_t i) { return at(i) < p; });
}

// From `first`, the first prefix not less than p, the first one greater than
// p. Equal prefixes are rare: a few are stepped over before a binary search.
template <typename At>
std::size_t PastEqual(At at, std::size_t n, std::uint64_t p, std::size_t first)
{
    std::size_t i = first;
    for (int k = 0; k < 8; ++k, ++i)
        if (i == n || at(i) != p)
            return i;
    return PartitionPoint(i, n, [&](std::size_t k) { return at(k) <= p; });
}

}  // namespace PathsSearch

// Searches key (whose prefix is p) in a family's index: `slot` receives the
// leaf and offset of the first item not smaller than key, and the node of
// key itself when it is there.
template <typename NodeData, typename Comparision>
bool Paths<NodeData, Comparision>::IndexFind(const SiblingIndex& index, const NodeData& key, IndexKey p,
                                             IndexSlot* slot) const
{
    *slot = IndexSlot{};
    const auto& parts = index.leaves;
    const std::size_t count = parts.size();
    if (count == 0)
        return false;
    // The last leaf whose first value is not greater than key (leaf 0 for a
    // key below all). Among leaves whose first prefix is p, values decide.
    auto partPrefix = [&parts](std::size_t i) { return parts[i].prefix; };
    std::size_t lo = PathsSearch::InterpolationLowerBound(partPrefix, count, p);
    lo = PathsSearch::PartitionPoint(lo, PathsSearch::PastEqual(partPrefix, count, p, lo), [&](std::size_t i) {
        return cmp_value.Compare(FirstValue(parts[i]), key) <= 0;
    });
    const std::size_t b = lo == 0 ? 0 : lo - 1;

    // In that leaf, whose prefixes lie below the next leaf's first one: the
    // first item not smaller than key. The search reads a line or two of
    // the leaf, an insertion or removal the lines from its place on: they
    // are all requested at once rather than one after the other.
    const std::uint32_t leafNo = parts[b].leaf;
    const IndexLeaf& leaf = leaves_[leafNo];
    PrefetchLeaf(leaf);
    const std::size_t n = leaf.count;
    const IndexKey high = b + 1 < count ? parts[b + 1].prefix : leaf.prefix[n - 1];
    auto itemPrefix = [&leaf](std::size_t i) { return leaf.prefix[i]; };
    lo = PathsSearch::LowerBound(itemPrefix, n, p, PathsSearch::Interpolate(p, parts[b].prefix, high, n));
    const std::size_t tiesEnd = PathsSearch::PastEqual(itemPrefix, n, p, lo);
    lo = PathsSearch::PartitionPoint(
        lo, tiesEnd, [&](std::size_t i) { return cmp_value.Compare(entries[leaf.id[i]].data, key) < 0; });
    slot->part = b;
    slot->leaf = leafNo;
    slot->offset = static_cast<std::uint32_t>(lo);
    if (lo < tiesEnd && cmp_value.Compare(entries[leaf.id[lo]].data, key) == 0) {
        slot->found = leaf.id[lo];
        return true;
    }
    return false;
}

// Finds node nodeId through the leaf that siblingLink_ names for it, without
// reading the node's value or the family's list of leaves: a node is in one
// index only, so a leaf that holds it is a leaf of its family. The leaf's
// place in that list is looked up only when the node is the leaf's first
// item (its removal changes the leaf's first prefix or empties the leaf).
// False when the link does not lead to the node; the caller then searches
// by value.
template <typename NodeData, typename Comparision>
bool Paths<NodeData, Comparision>::IndexLocate(const SiblingIndex& index, std::uint32_t nodeId,
                                               IndexSlot* slot) const
{
    const std::uint32_t leafNo = siblingLink_[nodeId];
    if (leafNo >= leaves_.size())
        return false;
    const IndexLeaf& leaf = leaves_[leafNo];
    const std::uint32_t n = leaf.count;
    std::uint32_t i = 0;
    while (i < n && leaf.id[i] != nodeId)
        ++i;
    if (i == n)
        return false;
    slot->part = NoPart;
    slot->leaf = leafNo;
    slot->offset = i;
    slot->found = nodeId;
    if (i == 0) {
        slot->part = PartOf(index, leafNo);
        if (slot->part == NoPart)
            return false;
    }
    return true;
}

// The position of a leaf (not empty) in its family's list, found by the
// leaf's first prefix; NoPart when it is not there, or when too many leaves
// share that first prefix to look at.
template <typename NodeData, typename Comparision>
std::size_t Paths<NodeData, Comparision>::PartOf(const SiblingIndex& index, std::uint32_t leafNo) const
{
    const auto& parts = index.leaves;
    const std::size_t count = parts.size();
    const IndexKey first = leaves_[leafNo].prefix[0];
    auto partPrefix = [&parts](std::size_t i) { return parts[i].prefix; };
    std::size_t k = PathsSearch::InterpolationLowerBound(partPrefix, count, first);
    for (int tries = 0; k < count && parts[k].prefix == first && parts[k].leaf != leafNo && tries < 8; ++tries)
        ++k;
    return k < count && parts[k].leaf == leafNo ? k : NoPart;
}

// The node before the slot's place in the order (0: none).
template <typename NodeData, typename Comparision>
std::uint32_t Paths<NodeData, Comparision>::IndexBefore(const SiblingIndex& index, const IndexSlot& slot) const
{
    if (slot.leaf == NoLeaf)
        return 0;
    if (slot.offset > 0)
        return leaves_[slot.leaf].id[slot.offset - 1];
    if (slot.part == 0)
        return 0;
    const IndexLeaf& before = leaves_[index.leaves[slot.part - 1].leaf];
    return before.id[before.count - 1];
}

// The node at the slot's place, the first one after a value inserted there
// (0: none). For a slot of IndexFind.
template <typename NodeData, typename Comparision>
std::uint32_t Paths<NodeData, Comparision>::IndexAt(const SiblingIndex& index, const IndexSlot& slot) const
{
    if (slot.leaf == NoLeaf)
        return 0;
    const IndexLeaf& leaf = leaves_[slot.leaf];
    if (slot.offset < leaf.count)
        return leaf.id[slot.offset];
    if (slot.part + 1 >= index.leaves.size())
        return 0;
    return leaves_[index.leaves[slot.part + 1].leaf].id[0];
}

// Inserts node `id` (prefix p, not present) at the slot where IndexFind put
// it. A failed allocation raises std::bad_alloc before anything changed.
template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::IndexInsert(SiblingIndex& index, const IndexSlot& slot, IndexKey p,
                                               std::uint32_t id)
{
    auto& parts = index.leaves;
    // Room first, so that no step below fails halfway.
    if (parts.size() == parts.capacity())
        parts.reserve(std::max<std::size_t>(8, 2 * parts.size()));
    if (parts.empty()) {
        const std::uint32_t fresh = AcquireLeaf();
        IndexLeaf& leaf = leaves_[fresh];
        leaf.count = 1;
        leaf.prefix[0] = p;
        leaf.id[0] = id;
        siblingLink_[id] = fresh;
        parts.push_back(LeafRef{p, fresh});
        return;
    }
    std::size_t part = slot.part;
    std::uint32_t leafNo = slot.leaf;
    std::uint32_t offset = slot.offset;
    if (leaves_[leafNo].count == LeafCapacity) {
        // Split: the upper half moves to a leaf of its own after this one.
        constexpr std::uint32_t Half = LeafCapacity / 2;
        constexpr std::uint32_t Moved = LeafCapacity - Half;
        const std::uint32_t fresh = AcquireLeaf();
        IndexLeaf& full = leaves_[leafNo];
        IndexLeaf& upper = leaves_[fresh];
        std::memcpy(upper.prefix, full.prefix + Half, Moved * sizeof(IndexKey));
        std::memcpy(upper.id, full.id + Half, Moved * sizeof(std::uint32_t));
        upper.count = Moved;
        full.count = Half;
        for (std::uint32_t k = 0; k < Moved; ++k)
            siblingLink_[upper.id[k]] = fresh;
        parts.insert(parts.begin() + std::ptrdiff_t(part + 1), LeafRef{upper.prefix[0], fresh});
        if (offset > Half) {
            ++part;
            leafNo = fresh;
            offset -= Half;
        }
    }
    IndexLeaf& leaf = leaves_[leafNo];
    const std::uint32_t n = leaf.count;
    std::memmove(leaf.prefix + offset + 1, leaf.prefix + offset, (n - offset) * sizeof(IndexKey));
    std::memmove(leaf.id + offset + 1, leaf.id + offset, (n - offset) * sizeof(std::uint32_t));
    leaf.prefix[offset] = p;
    leaf.id[offset] = id;
    leaf.count = n + 1;
    siblingLink_[id] = leafNo;
    if (offset == 0)
        parts[part].prefix = p;
}

// Removes the item at a slot where it was found; an emptied leaf goes back
// to the pool.
template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::IndexErase(SiblingIndex& index, const IndexSlot& slot) noexcept
{
    IndexLeaf& leaf = leaves_[slot.leaf];
    const std::uint32_t n = leaf.count - 1;
    const std::uint32_t offset = slot.offset;
    std::memmove(leaf.prefix + offset, leaf.prefix + offset + 1, (n - offset) * sizeof(IndexKey));
    std::memmove(leaf.id + offset, leaf.id + offset + 1, (n - offset) * sizeof(std::uint32_t));
    leaf.count = n;
    if (n == 0) {
        leaf.id[0] = freeLeaf_;
        freeLeaf_ = slot.leaf;
        index.leaves.erase(index.leaves.begin() + std::ptrdiff_t(slot.part));
    } else if (offset == 0) {
        index.leaves[slot.part].prefix = leaf.prefix[0];
    }
}

// An empty leaf from the pool's free list, or a new one; std::bad_alloc
// when the pool cannot grow.
template <typename NodeData, typename Comparision>
std::uint32_t Paths<NodeData, Comparision>::AcquireLeaf()
{
    if (freeLeaf_ != NoLeaf) {
        const std::uint32_t leaf = freeLeaf_;
        freeLeaf_ = leaves_[leaf].id[0];
        return leaf;
    }
    if (leaves_.size() >= NoLeaf)
        throw std::bad_alloc();
    if (leaves_.size() == leaves_.capacity())
        leaves_.reserve(std::max<std::size_t>(16, 2 * leaves_.size()));
    leaves_.emplace_back();
    return static_cast<std::uint32_t>(leaves_.size() - 1);
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
    const std::uint32_t leaf = siblingLink_[nodeId];
    if (leaf >= leaves_.size())
        return;
    PrefetchLeaf(leaves_[leaf]);
}

// Gives the leaves of an index back to the pool, emptied.
template <typename NodeData, typename Comparision>
void Paths<NodeData, Comparision>::ReleaseIndex(SiblingIndex& index) noexcept
{
    for (const LeafRef& ref : index.leaves) {
        leaves_[ref.leaf].count = 0;
        leaves_[ref.leaf].id[0] = freeLeaf_;
        freeLeaf_ = ref.leaf;
    }
    index.leaves.clear();
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
    siblingIndex_.clear();
    leaves_.clear();
    freeLeaf_ = NoLeaf;
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
        return -7003;
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
    siblingIndex_.clear();
    leaves_.clear();
    freeLeaf_ = NoLeaf;
    for (std::uint32_t i = 1; i <= n; ++i)
        if (childCount_[i] > IndexBuildSize)
            RefreshFamilyIndex(i);
    return true;
}

// The module's one instantiation is compiled once, in the module, and
// exported from its shared library: LM_API here overrides the hidden
// visibility that its template arguments would otherwise give it.
extern template class LM_API Paths<UnID, Cmp_UnIDs>;

}  // namespace KR
