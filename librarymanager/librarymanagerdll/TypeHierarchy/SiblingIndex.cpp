// The sibling index of the path tree: searches, insertions and removals in
// the sorted leaves of one family, and the pool of leaves of all families.
#include "TypeHierarchy/SiblingIndex.hpp"

#include <algorithm>
#include <cstring>
#include <new>

namespace KR {

namespace {

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

// Where k would stand among n keys spread evenly from `low` on, below
// `high`. Keys of identifiers are spread evenly, so this lands within a
// few items of the place; skewed keys only make it a poor guess.
inline std::size_t Interpolate(std::uint64_t k, std::uint64_t low, std::uint64_t high, std::size_t n)
{
    if (k <= low || high <= low)
        return 0;
    if (k >= high)
        return n;
    return static_cast<std::size_t>(double(k - low) / double(high - low) * double(n));
}

// The first of n ascending keys (read through `at`) that is not less
// than k. A window next to `guess` is checked first, which usually confines
// the search to a cache line; a binary search finishes in what remains.
template <typename At>
std::size_t LowerBound(At at, std::size_t n, std::uint64_t k, std::size_t guess)
{
    constexpr std::size_t Window = 4;
    std::size_t lo = 0;
    std::size_t hi = n;
    if (n > 2 * Window) {
        const std::size_t g = std::min(guess, n - 1);
        if (at(g) < k) {
            lo = g + 1;
            if (lo + Window < n && at(lo + Window) >= k)
                hi = lo + Window;
        } else {
            hi = g;
            if (g >= Window && at(g - Window) < k)
                lo = g - Window + 1;
        }
    }
    return PartitionPoint(lo, hi, [&](std::size_t i) { return at(i) < k; });
}

// The first of n ascending keys (read through `at`) not less than k,
// for keys spread about evenly, without a guess: each round guesses the
// place from the keys at the ends of the range left and checks a window
// beside the guess, which on such keys closes in on the place within a
// few rounds; a binary search finishes what remains, so skewed keys
// cost a few reads more than a binary search alone.
template <typename At>
std::size_t InterpolationLowerBound(At at, std::size_t n, std::uint64_t k)
{
    constexpr std::size_t Window = 4;
    std::size_t lo = 0;
    std::size_t hi = n;  // the place is in [lo, hi]
    for (int round = 0; round < 4 && hi - lo > 4 * Window; ++round) {
        const std::uint64_t a = at(lo);
        const std::uint64_t b = at(hi - 1);
        if (k <= a)
            return lo;
        if (k > b)
            return hi;
        const std::size_t g = lo + static_cast<std::size_t>(double(k - a) / double(b - a) * double(hi - 1 - lo));
        if (at(g) < k) {
            lo = g + 1;
            if (lo + Window < hi && at(lo + Window) >= k) {
                hi = lo + Window;
                break;
            }
        } else {
            hi = g;
            if (g >= lo + Window && at(g - Window) < k) {
                lo = g - Window + 1;
                break;
            }
        }
    }
    return PartitionPoint(lo, hi, [&](std::size_t i) { return at(i) < k; });
}

// From `first`, the first key not less than k, the first one greater than
// k. Equal keys are rare: a few are stepped over before a binary search.
template <typename At>
std::size_t PastEqual(At at, std::size_t n, std::uint64_t k, std::size_t first)
{
    std::size_t i = first;
    for (int step = 0; step < 8; ++step, ++i)
        if (i == n || at(i) != k)
            return i;
    return PartitionPoint(i, n, [&](std::size_t j) { return at(j) <= k; });
}

}  // namespace

bool SiblingIndex::Search(const Family& family, Key k, TieCompare tie, Place* place) const
{
    *place = Place{};
    const auto& slots = family.leaves;
    const std::size_t count = slots.size();
    if (count == 0)
        return false;
    // The last leaf whose first value is not greater than the value (leaf 0
    // for a value below all). Among leaves whose first key is k, values
    // decide.
    auto slotKey = [&slots](std::size_t i) { return slots[i].key; };
    std::size_t lo = InterpolationLowerBound(slotKey, count, k);
    lo = PartitionPoint(lo, PastEqual(slotKey, count, k, lo),
                        [&](std::size_t i) { return tie(leaves_[slots[i].leaf].id[0]) <= 0; });
    const std::size_t b = lo == 0 ? 0 : lo - 1;

    // In that leaf, whose keys lie below the next leaf's first one: the
    // first item not smaller than the value. The search reads a line or two
    // of the leaf, an insertion or removal the lines from its place on: they
    // are all requested at once rather than one after the other.
    const std::uint32_t leafNo = slots[b].leaf;
    const Leaf& leaf = leaves_[leafNo];
    PrefetchLeaf(leaf);
    const std::size_t n = leaf.count;
    const Key high = b + 1 < count ? slots[b + 1].key : leaf.key[n - 1];
    auto itemKey = [&leaf](std::size_t i) { return leaf.key[i]; };
    lo = LowerBound(itemKey, n, k, Interpolate(k, slots[b].key, high, n));
    const std::size_t tiesEnd = PastEqual(itemKey, n, k, lo);
    lo = PartitionPoint(lo, tiesEnd, [&](std::size_t i) { return tie(leaf.id[i]) < 0; });
    place->slot = b;
    place->leaf = leafNo;
    place->offset = static_cast<std::uint32_t>(lo);
    if (lo < tiesEnd && tie(leaf.id[lo]) == 0) {
        place->found = leaf.id[lo];
        return true;
    }
    return false;
}

// Reads neither the node's value nor the family's list of leaves: a node is
// in one index only, so a leaf that holds it is a leaf of its family. The
// leaf's place in that list is looked up only when the node is the leaf's
// first item (its removal changes the leaf's first key or empties the leaf).
bool SiblingIndex::Locate(const Family& family, std::uint32_t leafNo, std::uint32_t nodeId, Place* place) const
{
    if (leafNo >= leaves_.size())
        return false;
    const Leaf& leaf = leaves_[leafNo];
    const std::uint32_t n = leaf.count;
    std::uint32_t i = 0;
    while (i < n && leaf.id[i] != nodeId)
        ++i;
    if (i == n)
        return false;
    place->slot = NoSlot;
    place->leaf = leafNo;
    place->offset = i;
    place->found = nodeId;
    if (i == 0) {
        place->slot = SlotOf(family, leafNo);
        if (place->slot == NoSlot)
            return false;
    }
    return true;
}

// The position of a leaf (not empty) in its family's list, found by the
// leaf's first key; NoSlot when it is not there, or when too many leaves
// share that first key to look at.
std::size_t SiblingIndex::SlotOf(const Family& family, std::uint32_t leafNo) const
{
    const auto& slots = family.leaves;
    const std::size_t count = slots.size();
    const Key first = leaves_[leafNo].key[0];
    auto slotKey = [&slots](std::size_t i) { return slots[i].key; };
    std::size_t k = InterpolationLowerBound(slotKey, count, first);
    for (int tries = 0; k < count && slots[k].key == first && slots[k].leaf != leafNo && tries < 8; ++tries)
        ++k;
    return k < count && slots[k].leaf == leafNo ? k : NoSlot;
}

std::uint32_t SiblingIndex::Before(const Family& family, const Place& place) const
{
    if (place.leaf == NoLeaf)
        return 0;
    if (place.offset > 0)
        return leaves_[place.leaf].id[place.offset - 1];
    if (place.slot == 0)
        return 0;
    const Leaf& before = leaves_[family.leaves[place.slot - 1].leaf];
    return before.id[before.count - 1];
}

std::uint32_t SiblingIndex::At(const Family& family, const Place& place) const
{
    if (place.leaf == NoLeaf)
        return 0;
    const Leaf& leaf = leaves_[place.leaf];
    if (place.offset < leaf.count)
        return leaf.id[place.offset];
    if (place.slot + 1 >= family.leaves.size())
        return 0;
    return leaves_[family.leaves[place.slot + 1].leaf].id[0];
}

void SiblingIndex::Insert(Family& family, const Place& place, Key k, std::uint32_t id, LeafLinks& leafOf)
{
    auto& slots = family.leaves;
    // Room first, so that no step below fails halfway.
    if (slots.size() == slots.capacity())
        slots.reserve(std::max<std::size_t>(8, 2 * slots.size()));
    if (slots.empty()) {
        const std::uint32_t fresh = AcquireLeaf();
        Leaf& leaf = leaves_[fresh];
        leaf.count = 1;
        leaf.key[0] = k;
        leaf.id[0] = id;
        leafOf[id] = fresh;
        slots.push_back(LeafRef{k, fresh});
        return;
    }
    std::size_t slot = place.slot;
    std::uint32_t leafNo = place.leaf;
    std::uint32_t offset = place.offset;
    if (leaves_[leafNo].count == LeafCapacity) {
        // Split: the upper half moves to a leaf of its own after this one.
        constexpr std::uint32_t Half = LeafCapacity / 2;
        constexpr std::uint32_t Moved = LeafCapacity - Half;
        const std::uint32_t fresh = AcquireLeaf();
        Leaf& full = leaves_[leafNo];
        Leaf& upper = leaves_[fresh];
        std::memcpy(upper.key, full.key + Half, Moved * sizeof(Key));
        std::memcpy(upper.id, full.id + Half, Moved * sizeof(std::uint32_t));
        upper.count = Moved;
        full.count = Half;
        for (std::uint32_t i = 0; i < Moved; ++i)
            leafOf[upper.id[i]] = fresh;
        slots.insert(slots.begin() + std::ptrdiff_t(slot + 1), LeafRef{upper.key[0], fresh});
        if (offset > Half) {
            ++slot;
            leafNo = fresh;
            offset -= Half;
        }
    }
    Leaf& leaf = leaves_[leafNo];
    const std::uint32_t n = leaf.count;
    std::memmove(leaf.key + offset + 1, leaf.key + offset, (n - offset) * sizeof(Key));
    std::memmove(leaf.id + offset + 1, leaf.id + offset, (n - offset) * sizeof(std::uint32_t));
    leaf.key[offset] = k;
    leaf.id[offset] = id;
    leaf.count = n + 1;
    leafOf[id] = leafNo;
    if (offset == 0)
        slots[slot].key = k;
}

void SiblingIndex::Erase(Family& family, const Place& place) noexcept
{
    Leaf& leaf = leaves_[place.leaf];
    const std::uint32_t n = leaf.count - 1;
    const std::uint32_t offset = place.offset;
    std::memmove(leaf.key + offset, leaf.key + offset + 1, (n - offset) * sizeof(Key));
    std::memmove(leaf.id + offset, leaf.id + offset + 1, (n - offset) * sizeof(std::uint32_t));
    leaf.count = n;
    if (n == 0) {
        leaf.id[0] = freeLeaf_;
        freeLeaf_ = place.leaf;
        family.leaves.erase(family.leaves.begin() + std::ptrdiff_t(place.slot));
    } else if (offset == 0) {
        family.leaves[place.slot].key = leaf.key[0];
    }
}

SiblingIndex::SiblingIndex(const SiblingIndex& other)
    : families_(other.families_.size()), leaves_(other.leaves_), freeLeaf_(other.freeLeaf_)
{
    for (std::size_t i = 0; i < other.families_.size(); ++i)
        if (other.families_[i] != nullptr)
            families_[i] = std::make_unique<Family>(*other.families_[i]);
}

SiblingIndex& SiblingIndex::operator=(const SiblingIndex& other)
{
    if (this != &other) {
        SiblingIndex copy(other);
        *this = std::move(copy);
    }
    return *this;
}

SiblingIndex::Family& SiblingIndex::Start(std::uint32_t parentId)
{
    if (parentId >= families_.size())
        families_.resize(std::max<std::size_t>(parentId + 1, 2 * families_.size()));
    if (families_[parentId] == nullptr)
        families_[parentId] = std::make_unique<Family>();
    return *families_[parentId];
}

void SiblingIndex::Append(Family& family, Key k, std::uint32_t id)
{
    auto& slots = family.leaves;
    if (slots.empty() || leaves_[slots.back().leaf].count >= LeafCapacity / 2) {
        if (slots.size() == slots.capacity())
            slots.reserve(std::max<std::size_t>(8, 2 * slots.size()));
        const std::uint32_t fresh = AcquireLeaf();
        slots.push_back(LeafRef{k, fresh});
    }
    Leaf& leaf = leaves_[slots.back().leaf];
    leaf.key[leaf.count] = k;
    leaf.id[leaf.count] = id;
    ++leaf.count;
}

void SiblingIndex::Finish(const Family& family, LeafLinks& leafOf) const
{
    for (const LeafRef& ref : family.leaves) {
        const Leaf& leaf = leaves_[ref.leaf];
        for (std::uint32_t i = 0; i < leaf.count; ++i)
            leafOf[leaf.id[i]] = ref.leaf;
    }
}

void SiblingIndex::Remove(std::uint32_t parentId) noexcept
{
    if (Family* family = Find(parentId)) {
        Release(*family);
        families_[parentId].reset();
    }
}

void SiblingIndex::Clear() noexcept
{
    families_.clear();
    leaves_.clear();
    freeLeaf_ = NoLeaf;
}

// An empty leaf from the pool's free list, or a new one; std::bad_alloc
// when the pool cannot grow.
std::uint32_t SiblingIndex::AcquireLeaf()
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

// Gives the leaves of a family back to the pool, emptied.
void SiblingIndex::Release(Family& family) noexcept
{
    for (const LeafRef& ref : family.leaves) {
        leaves_[ref.leaf].count = 0;
        leaves_[ref.leaf].id[0] = freeLeaf_;
        freeLeaf_ = ref.leaf;
    }
    family.leaves.clear();
}

}  // namespace KR
