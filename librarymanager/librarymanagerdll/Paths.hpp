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
// children an auxiliary ordered index (SiblingIndex) finds a value's place among the
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
//
// This header declares the tree; its definitions are internal to the module,
// which compiles the one instantiation Paths<UnID, Cmp_UnIDs> and exports it.
#pragma once

#include "LMExport.hpp"
#include "TypeHierarchy/PathsStorage.hpp"
#include "TypeHierarchy/SiblingIndex.hpp"

#include "KR/Channel.hpp"
#include "KR/Containers.hpp"
#include "KR/Exceptions.hpp"
#include "KR/GUID.hpp"
#include "KR/Object.hpp"

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <unordered_map>
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

    // One ancestor list of a batch for AddPaths: `count` values of the
    // batch's value array from `first` on.
    struct PathRange {
        std::uint32_t first = 0;
        std::uint32_t count = 0;
    };
    // One path of a batch: the values of ancestor list `list`, then `last`.
    struct PathEnd {
        std::uint32_t list = 0;
        NodeData last{};
    };
    // Stores paths[0] .. paths[count - 1] as AddPath(nodes + first, count,
    // last) of their lists would one after another: the same node ids, counts
    // and sibling order. ids[k] receives path k's id (0, with nothing stored,
    // for a list index not below listCount). Paths may share a list. A tree
    // that holds nothing but its root is built in one pass over a few large
    // arrays (each list walked once, nodes found through one hash table, then
    // every family sorted and linked once); any other tree, or a build that
    // runs out of memory, takes the paths one at a time.
    void AddPaths(const NodeData* nodes, const PathRange* lists, std::size_t listCount, const PathEnd* paths,
                  std::size_t count, std::uint32_t* ids);

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
    struct EntryRef {
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

        EntryRef<false> operator[](std::uint32_t id);
        EntryRef<true> operator[](std::uint32_t id) const;
        // Node `id` as the record written on a channel.
        TreeEntry Get(std::uint32_t id) const;
        // Appends a node; returns its id.
        std::uint32_t Push(const TreeEntry& e);
        // Removes the nodes and keeps the storage.
        void Clear() noexcept;

    private:
        void Check(std::uint32_t id) const;

        std::int32_t step_;
        PathsStorage::Vector<NodeLinks> links_;
        PathsStorage::Vector<NodeData> data_;
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
    void BuildFromPaths(const NodeData* nodes, const PathRange* lists, std::size_t listCount, const PathEnd* paths,
                        std::size_t count, std::uint32_t* ids);

    static SiblingIndex::Key KeyOf(const NodeData& key);
    bool IndexFind(const SiblingIndex::Family& family, const NodeData& key, SiblingIndex::Key k,
                   SiblingIndex::Place* place) const;
    // Inlined: a call of a function that only prefetches may be dropped
    // as one without effect.
    [[gnu::always_inline]] inline void PrefetchIndexLeaf(std::uint32_t nodeId) const noexcept;

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
    SiblingIndex siblingIndex_;
};

// The module's one instantiation, compiled and exported by the module.
extern template class LM_API Paths<UnID, Cmp_UnIDs>;

}  // namespace KR
