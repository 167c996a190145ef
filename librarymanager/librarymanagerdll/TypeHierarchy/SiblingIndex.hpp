// Ordered indexes of the children of path tree nodes, one per indexed family
// (the children of one node), kept by the tree only while that sibling list
// is strictly ascending.
//
// An index holds each child's key (32 bits that order values as the tree's
// comparison does, see Paths::KeyOf) and node id in sorted leaves of at most
// LeafCapacity items; a family's index is the list of its leaves in order,
// each with its first key, and the leaves of all families lie in one pool.
// A child's value itself is compared only where keys tie, through the
// caller's TieCompare, so a search touches little memory and rarely calls
// the comparison. The index also knows each child's neighbours, so linking
// and unlinking need not read them from the tree's entries.
//
// By node id the tree keeps the leaf that holds an indexed node (`leafOf`):
// the operations that place items write it, and Locate reads it.
#pragma once

#include "TypeHierarchy/PathsStorage.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace KR {

class SiblingIndex {
public:
    using Key = std::uint32_t;
    static constexpr std::uint32_t LeafCapacity = 63;
    static constexpr std::uint32_t NoLeaf = 0xFFFFFFFFu;
    // A leaf's position in its family's list of leaves that is not known.
    static constexpr std::size_t NoSlot = std::size_t(-1);

    // A leaf is 8 cache lines: its fill, then the keys, then the node ids.
    // A search reads the keys densely and the ids only at its result; a
    // release finds its node among the ids. A free leaf is empty and holds
    // the next free one in id[0].
    struct alignas(64) Leaf {
        std::uint32_t count;
        Key key[LeafCapacity];
        std::uint32_t id[LeafCapacity];
    };
    static_assert(sizeof(Leaf) == 512);
    struct LeafRef {
        Key key;             // of the leaf's first item
        std::uint32_t leaf;  // in the pool
    };
    // The index of one family: its leaves in ascending order.
    struct Family {
        PathsStorage::Vector<LeafRef> leaves;
    };
    // A place in a family's index: the leaf (in the pool, and its position
    // `slot` in the family's list) and the offset in it; `found` is the node
    // with the value searched (0: none). A place found by node id knows
    // `slot` only where the offset is 0 (NoSlot otherwise).
    struct Place {
        std::size_t slot = 0;
        std::uint32_t leaf = NoLeaf;
        std::uint32_t offset = 0;
        std::uint32_t found = 0;
    };
    // Compares the value of node `nodeId` with the value searched: below
    // zero, zero or above zero as the node's value is smaller, equal or
    // greater.
    struct TieCompare {
        int (*compare)(const void* context, std::uint32_t nodeId);
        const void* context;
        int operator()(std::uint32_t nodeId) const { return compare(context, nodeId); }
    };
    using LeafLinks = PathsStorage::Vector<std::uint32_t>;

    SiblingIndex() = default;
    SiblingIndex(const SiblingIndex& other);
    SiblingIndex& operator=(const SiblingIndex& other);
    SiblingIndex(SiblingIndex&&) noexcept = default;
    SiblingIndex& operator=(SiblingIndex&&) noexcept = default;
    ~SiblingIndex() = default;

    Family* Find(std::uint32_t parentId) noexcept
    {
        return parentId < families_.size() ? families_[parentId].get() : nullptr;
    }
    bool Has(std::uint32_t parentId) const noexcept
    {
        return parentId < families_.size() && families_[parentId] != nullptr;
    }

    // Searches the value (whose key is k) in a family's index: `place`
    // receives the leaf and offset of the first item not smaller than the
    // value, and its node when it is there (then true).
    bool Search(const Family& family, Key k, TieCompare tie, Place* place) const;
    // Finds node nodeId through leaf `leafNo` (what leafOf holds for it).
    // False when that leaf does not hold the node.
    bool Locate(const Family& family, std::uint32_t leafNo, std::uint32_t nodeId, Place* place) const;
    // The node before the place in the order (0: none).
    std::uint32_t Before(const Family& family, const Place& place) const;
    // The node at the place, the first one after a value inserted there
    // (0: none). For a place of Search.
    std::uint32_t At(const Family& family, const Place& place) const;
    // Inserts node `id` (key k, not present) at the place where Search put
    // it. A failed allocation raises std::bad_alloc before anything changed.
    void Insert(Family& family, const Place& place, Key k, std::uint32_t id, LeafLinks& leafOf);
    // Removes the item at a place where it was found; an emptied leaf goes
    // back to the pool.
    void Erase(Family& family, const Place& place) noexcept;

    // Building a family's index from its children in ascending order: Start,
    // then Append for each child, then Finish, which writes leafOf. Leaves
    // are filled half, so that the next insertions into them need no split.
    // A failed allocation raises std::bad_alloc; Remove then undoes Start.
    Family& Start(std::uint32_t parentId);
    void Append(Family& family, Key k, std::uint32_t id);
    void Finish(const Family& family, LeafLinks& leafOf) const;

    // Removes a family's index, if it has one.
    void Remove(std::uint32_t parentId) noexcept;
    void Clear() noexcept;

    // Starts loading leaf `leafNo` (any value: one that is not a leaf of
    // the pool is ignored). Inlined: a call of a function that only
    // prefetches may be dropped as one without effect.
    [[gnu::always_inline]] void Prefetch(std::uint32_t leafNo) const noexcept
    {
        if (leafNo < leaves_.size())
            PrefetchLeaf(leaves_[leafNo]);
    }

private:
    [[gnu::always_inline]] static void PrefetchLeaf(const Leaf& leaf) noexcept
    {
        const char* bytes = reinterpret_cast<const char*>(&leaf);
        for (std::size_t offset = 0; offset < sizeof(Leaf); offset += 64)
            __builtin_prefetch(bytes + offset);
    }
    std::size_t SlotOf(const Family& family, std::uint32_t leafNo) const;
    std::uint32_t AcquireLeaf();
    void Release(Family& family) noexcept;

    // The index of each family by its parent's node id (null: none), looked
    // up on every step down a path.
    std::vector<std::unique_ptr<Family>> families_;
    // The leaves of all families, and the first free one.
    PathsStorage::Vector<Leaf> leaves_;
    std::uint32_t freeLeaf_ = NoLeaf;
};

}  // namespace KR
