// The machinery under the path tree's large families: the large block
// allocator of its arrays, and the sibling index at the edges of its leaves
// (a new node whose neighbours lie in two leaves, removals of a leaf's first
// and last items, trees copied, written, read back or changed in place right
// after removals, index keys that tie). A plain model of one family (a sorted
// list, ids handed out as the tree's free list hands them out) must agree
// with the tree after every step.
#include "Paths.hpp"
#include "librarymanagerdll/TypeHierarchy/TestIds.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

using TestIds::U;
using TestIds::Written;

namespace {

using Tree = KR::Paths<KR::UnID, Cmp_UnIDs>;
namespace Storage = KR::PathsStorage;

class TestTree : public Tree {
public:
    using Tree::FindNodeId;
    using Tree::GetRootNodeId;
    using Tree::PushChildNodeIds;
};

bool Less(const KR::UnID& a, const KR::UnID& b)
{
    return Cmp_UnIDs().Compare(a, b) < 0;
}

// One family below a fixed prefix, which an extra path keeps alive, so that
// the only entries freed and reused are the family's.
class Family {
public:
    explicit Family(std::vector<KR::UnID> prefix) : prefix_(std::move(prefix))
    {
        if (!prefix_.empty())
            t.AddPath(prefix_.data(), std::uint32_t(prefix_.size()));
        nextId_ = 2 + std::uint32_t(prefix_.size());
    }

    std::uint32_t Parent() const
    {
        return prefix_.empty() ? t.GetRootNodeId() : t.FindNodeId(prefix_.back());
    }

    // Adds a path ending in id; checks the id the tree hands out.
    void Add(const KR::UnID& id)
    {
        std::uint32_t got = t.AddPath(prefix_.data(), std::uint32_t(prefix_.size()), id);
        auto it = std::lower_bound(kids_.begin(), kids_.end(), id,
                                   [](const Kid& k, const KR::UnID& v) { return Less(k.value, v); });
        if (it != kids_.end() && it->value == id) {
            ++it->count;
            ASSERT_EQ(got, it->node);
            return;
        }
        std::uint32_t expected = nextId_;
        if (!free_.empty()) {
            expected = free_.back();
            free_.pop_back();
        } else {
            ++nextId_;
        }
        ASSERT_EQ(got, expected);
        kids_.insert(it, Kid{id, expected, 1});
    }

    // Releases one path ending in the j-th child.
    void Release(std::size_t j)
    {
        t.DeletePath(kids_.at(j).node);
        if (--kids_[j].count == 0) {
            free_.push_back(kids_[j].node);
            kids_.erase(kids_.begin() + std::ptrdiff_t(j));
        }
    }

    std::size_t Size() const { return kids_.size(); }
    const KR::UnID& Value(std::size_t j) const { return kids_.at(j).value; }

    void ExpectMatchesModel() const { ExpectMatches(t); }

    void ExpectMatches(const TestTree& tree) const
    {
        Tree::IdQueue q;
        tree.PushChildNodeIds(Parent(), &q);
        std::vector<std::uint32_t> ids;
        while (!q.IsEmpty())
            ids.push_back(q.Pop());
        ASSERT_EQ(ids.size(), kids_.size());
        for (std::size_t j = 0; j < ids.size(); ++j) {
            ASSERT_EQ(ids[j], kids_[j].node) << j;
            KR::UnID v;
            tree.GetLastPathNode(ids[j], &v);
            ASSERT_EQ(v, kids_[j].value) << j;
            ASSERT_EQ(tree.GetPathMultiplicity(ids[j]), kids_[j].count) << j;
        }
    }

    TestTree t;

private:
    struct Kid {
        KR::UnID value;
        std::uint32_t node;
        std::uint32_t count;
    };
    std::vector<KR::UnID> prefix_;
    std::vector<Kid> kids_;
    std::vector<std::uint32_t> free_;
    std::uint32_t nextId_ = 0;
};

}  // namespace

TEST(LargeBlockAllocatorTest, SmallAndLargeBlocks)
{
    Storage::LargeBlockAllocator<std::uint32_t> alloc;
    std::uint32_t* small = alloc.allocate(100);
    for (std::uint32_t i = 0; i < 100; ++i)
        small[i] = i;
    EXPECT_EQ(small[99], 99u);
    alloc.deallocate(small, 100);

    const std::size_t n = 3 * Storage::HugePageSize / sizeof(std::uint32_t) + 7;
    ASSERT_TRUE(Storage::LargeBlockAllocator<std::uint32_t>::IsLarge(n));
    std::uint32_t* large = alloc.allocate(n);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(large) % Storage::HugePageSize, 0u);
    for (std::size_t i = 0; i < n; ++i)
        large[i] = std::uint32_t(i * 7);
    for (std::size_t i = 0; i < n; i += 4099)
        ASSERT_EQ(large[i], std::uint32_t(i * 7));
    EXPECT_EQ(large[n - 1], std::uint32_t((n - 1) * 7));
    alloc.deallocate(large, n);

    // The block just below the threshold comes from the ordinary allocator,
    // the one at it from a mapping.
    EXPECT_FALSE(Storage::LargeBlockAllocator<std::uint64_t>::IsLarge(Storage::LargeBlockSize / 8 - 1));
    EXPECT_TRUE(Storage::LargeBlockAllocator<std::uint64_t>::IsLarge(Storage::LargeBlockSize / 8));
}

TEST(LargeBlockAllocatorTest, VectorsGrowAcrossTheThresholdAndCopy)
{
    Storage::Vector<std::uint64_t> v;
    for (std::uint64_t i = 0; i < 700000; ++i)
        v.push_back(i * i);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(v.data()) % Storage::HugePageSize, 0u);
    Storage::Vector<std::uint64_t> copy(v);
    Storage::Vector<std::uint64_t> assigned;
    assigned = copy;
    for (std::uint64_t i = 0; i < 700000; i += 997) {
        ASSERT_EQ(v[i], i * i);
        ASSERT_EQ(copy[i], i * i);
        ASSERT_EQ(assigned[i], i * i);
    }
    Storage::Vector<std::uint64_t> moved(std::move(copy));
    EXPECT_EQ(moved.back(), 699999ull * 699999ull);
    v.clear();
    v.shrink_to_fit();
    EXPECT_TRUE(v.empty());
}

TEST(LargeBlockAllocatorTest, ImpossibleSizesRaise)
{
    Storage::LargeBlockAllocator<std::uint64_t> alloc;
    EXPECT_THROW(alloc.allocate(std::size_t(-1) / 4), std::bad_alloc);
    EXPECT_THROW(Storage::AllocateLargeBlock(std::size_t(-1) / 2), std::bad_alloc);
    EXPECT_THROW(Storage::AllocateLargeBlock(std::size_t{1} << 60), std::bad_alloc);
}

TEST(LargeBlockAllocatorTest, ATreeOnLargeBlocks)
{
    // Enough nodes that the entry arrays and the index pool are mapped
    // blocks; a copy and a read-back tree are equal to the original.
    Family f({});
    std::mt19937 rng(11);
    for (int i = 0; i < 70000; ++i)
        f.Add(U(rng() % 2000000 + 1, rng() % 3));
    f.ExpectMatchesModel();
    TestTree copy(f.t);
    TestTree back;
    KR::StringIChannel in(Written(f.t));
    ASSERT_EQ(back.Read(in), KR::NoError);
    EXPECT_EQ(Written(copy), Written(f.t));
    EXPECT_EQ(Written(back), Written(f.t));
    f.ExpectMatches(copy);
    f.ExpectMatches(back);
}

TEST(PathsLeafEdgesTest, NewNodesBetweenEveryPairOfNeighbours)
{
    // Spaced values first, then one value into every gap: some of them go
    // after the last item of a leaf, before the first item of the next.
    for (std::vector<KR::UnID> prefix : {std::vector<KR::UnID>{}, std::vector<KR::UnID>{U(7), U(8)}}) {
        SCOPED_TRACE(prefix.size());
        Family f(prefix);
        for (std::uint32_t m = 1; m <= 400; ++m)
            f.Add(U(m * 1000));
        f.ExpectMatchesModel();
        for (std::uint32_t m = 400; m >= 1; --m)
            f.Add(U(m * 1000 + 500));
        f.ExpectMatchesModel();
        for (std::uint32_t m = 1; m <= 800; ++m)
            f.Add(U(m * 500 + 250));
        f.ExpectMatchesModel();
        // Below all and above all.
        f.Add(U(1));
        f.Add(U(2));
        f.Add(U(900000));
        f.Add(U(899999));
        f.ExpectMatchesModel();
        EXPECT_NO_THROW(f.t.Check());
    }
}

TEST(PathsLeafEdgesTest, RemovalsFromBothEndsAndFreedIdsComingBack)
{
    Family f({U(3)});
    for (std::uint32_t m = 1; m <= 600; ++m)
        f.Add(U(m * 10));
    // The smallest child again and again: a leaf's first item each time.
    for (int i = 0; i < 150; ++i)
        f.Release(0);
    f.ExpectMatchesModel();
    // The greatest, then every third one.
    for (int i = 0; i < 100; ++i)
        f.Release(f.Size() - 1);
    f.ExpectMatchesModel();
    for (std::size_t j = 0; j < f.Size(); j += 2)
        f.Release(j);
    f.ExpectMatchesModel();
    // New values get the freed ids, last freed first; old values return.
    for (std::uint32_t m = 1; m <= 200; ++m)
        f.Add(U(m * 10 + 5));
    for (std::uint32_t m = 1; m <= 300; m += 3)
        f.Add(U(m * 10));
    f.ExpectMatchesModel();
    // Shrink to a few (the index goes) and grow again.
    while (f.Size() > 4)
        f.Release(f.Size() / 2);
    f.ExpectMatchesModel();
    for (std::uint32_t m = 1; m <= 100; ++m)
        f.Add(U(m * 7 + 1));
    f.ExpectMatchesModel();
    EXPECT_NO_THROW(f.t.Check());
}

TEST(PathsLeafEdgesTest, RandomMixOfAddsAndReleases)
{
    Family f({U(5)});
    std::mt19937 rng(5);
    for (int step = 0; step < 20000; ++step) {
        if (f.Size() < 50 || rng() % 5 < 3)
            f.Add(U(rng() % 4000 + 1, rng() % 2));
        else
            f.Release(rng() % f.Size());
        if (step % 997 == 0)
            f.ExpectMatchesModel();
    }
    f.ExpectMatchesModel();
    EXPECT_NO_THROW(f.t.Check());
}

TEST(PathsLeafEdgesTest, TreesCopiedWrittenAndChangedRightAfterReleases)
{
    // Releases first; then, without anything in between, the tree is copied,
    // assigned, written and read back, and all go on alike.
    Family f({U(9)});
    std::mt19937 rng(9);
    for (int i = 0; i < 500; ++i)
        f.Add(U(rng() % 100000 + 1));
    for (int i = 0; i < 7; ++i)
        f.Release(rng() % f.Size());
    TestTree copy(f.t);
    TestTree assigned;
    assigned = f.t;
    TestTree back;
    KR::StringIChannel in(Written(f.t));
    ASSERT_EQ(back.Read(in), KR::NoError);
    EXPECT_EQ(Written(copy), Written(f.t));
    EXPECT_EQ(Written(assigned), Written(f.t));
    EXPECT_EQ(Written(back), Written(f.t));

    std::vector<TestTree*> trees{&f.t, &copy, &assigned, &back};
    KR::UnID prefix[] = {U(9)};
    for (int i = 0; i < 300; ++i) {
        KR::UnID id = U(rng() % 100000 + 1);
        std::uint32_t first = 0;
        for (TestTree* t : trees) {
            std::uint32_t got = t->AddPath(prefix, 1, id);
            if (t == trees.front())
                first = got;
            ASSERT_EQ(got, first);
        }
        if (i % 3 == 0) {
            Tree::IdQueue q;
            f.t.PushChildNodeIds(f.t.FindNodeId(U(9)), &q);
            std::vector<std::uint32_t> ids;
            while (!q.IsEmpty())
                ids.push_back(q.Pop());
            std::uint32_t victim = ids[rng() % ids.size()];
            for (TestTree* t : trees)
                t->DeletePath(victim);
        }
    }
    for (TestTree* t : trees)
        EXPECT_EQ(Written(*t), Written(f.t));
}

TEST(PathsLeafEdgesTest, SetInPlaceRightAfterReleases)
{
    // A release, then an in-place change of another sibling: the change
    // sees the family as the list has it.
    TestTree t;
    std::vector<std::uint32_t> ids;
    for (std::uint32_t m = 1; m <= 60; ++m)
        ids.push_back(t.AddPath(nullptr, 0, U(m * 10)));
    t.DeletePath(ids[20]);                            // 210 goes
    EXPECT_EQ(t.SetPathNode(ids[21], 0, U(215)), ids[21]);  // 220 becomes 215, in order
    t.DeletePath(ids[30]);                            // 310 goes
    EXPECT_EQ(t.SetPathNode(ids[31], 0, U(5)), ids[31]);    // 320 becomes 5, out of order
    EXPECT_EQ(t.AddPath(nullptr, 0, U(215)), ids[21]);
    EXPECT_EQ(t.AddPath(nullptr, 0, U(210)), ids[30]);     // the last freed id comes first
    Tree::IdQueue q;
    t.PushChildNodeIds(t.GetRootNodeId(), &q);
    std::vector<std::uint32_t> order;
    while (!q.IsEmpty())
        order.push_back(q.Pop());
    ASSERT_EQ(order.size(), 59u);
    EXPECT_EQ(order[19], ids[19]);  // 200
    EXPECT_EQ(order[20], ids[30]);  // 210, reusing the id freed last
    EXPECT_EQ(order[21], ids[21]);  // 215, twice
    EXPECT_EQ(t.GetPathMultiplicity(ids[21]), 2u);
    EXPECT_EQ(order[30], ids[31]);  // 5, where 320 stood
    EXPECT_NO_THROW(t.Check());
}

TEST(PathsLeafEdgesTest, ValuesWhoseLeadingFieldsTie)
{
    // Many siblings with the same leading field of the main GUID (and
    // revisions of one main GUID): the index orders them by the comparison.
    Family f({U(4)});
    std::mt19937 rng(4);
    auto value = [&rng] {
        KR::UnID id = U(0x12345678u, rng() % 3);
        id.mainGuid.data2 = std::uint16_t(rng() % 40);
        id.mainGuid.data4[0] = std::uint8_t(rng() % 5);
        return id;
    };
    for (int i = 0; i < 1500; ++i)
        f.Add(value());
    f.ExpectMatchesModel();
    for (int i = 0; i < 500; ++i)
        f.Release(rng() % f.Size());
    f.ExpectMatchesModel();
    for (int i = 0; i < 500; ++i)
        f.Add(value());
    f.ExpectMatchesModel();
    while (f.Size() > 0)
        f.Release(rng() % f.Size());
    f.ExpectMatchesModel();
    EXPECT_NO_THROW(f.t.Check());
}
