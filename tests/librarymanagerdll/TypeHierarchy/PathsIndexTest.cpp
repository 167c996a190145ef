// Large families of siblings go through the tree's ordered sibling index,
// whose arrays come from the large block allocator. A plain model of one
// family (a list walked the way the tree walks a sibling list, ids handed out
// as the tree's free list hands them out) must agree with the tree after
// every kind of change: at the edges of the index leaves, after removals,
// after values changed in place, in copies and in trees read back.
#include "librarymanagerdll/TypeHierarchy/TestIds.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace TestIds;

namespace {

namespace Storage = KR::PathsStorage;

bool Less(const KR::UnID& a, const KR::UnID& b)
{
    return Cmp_UnIDs().Compare(a, b) < 0;
}

// One family below a fixed prefix, which an extra path keeps alive, so that
// the only entries freed and reused are the family's.
class Family {
public:
    explicit Family(std::vector<KR::UnID> prefix) : prefix_(std::move(prefix)), parent_(t.GetRootNodeId())
    {
        if (!prefix_.empty())
            parent_ = t.AddPath(prefix_.data(), std::uint32_t(prefix_.size()));
        nextId_ = 2 + std::uint32_t(prefix_.size());
    }

    // Adds a path ending in id; checks the id the tree hands out. A walk stops
    // at the first sibling not smaller than id; while no value was changed in
    // place the list ascends and a binary search finds the same sibling.
    void Add(const KR::UnID& id)
    {
        std::uint32_t got = t.AddPath(prefix_.data(), std::uint32_t(prefix_.size()), id);
        auto smaller = [&](const Kid& k) { return Less(k.value, id); };
        auto it = ascending_ ? std::partition_point(kids_.begin(), kids_.end(), smaller)
                             : std::find_if_not(kids_.begin(), kids_.end(), smaller);
        if (it != kids_.end() && it->value == id) {
            ++it->count;
            ASSERT_EQ(got, it->node);
            return;
        }
        std::uint32_t expected = free_.empty() ? nextId_++ : free_.back();
        if (!free_.empty())
            free_.pop_back();
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

    // Gives the j-th child, used by one path only, another value in place.
    void Set(std::size_t j, const KR::UnID& id)
    {
        ASSERT_EQ(t.SetPathNode(kids_.at(j).node, std::uint32_t(prefix_.size()), id), kids_[j].node);
        kids_[j].value = id;
        ascending_ = false;
    }

    std::size_t Size() const { return kids_.size(); }
    const KR::UnID& Value(std::size_t j) const { return kids_.at(j).value; }
    std::uint32_t Count(std::size_t j) const { return kids_.at(j).count; }

    void ExpectMatchesModel() const
    {
        std::vector<std::uint32_t> ids = Children(t, parent_);
        ASSERT_EQ(ids.size(), kids_.size());
        for (std::size_t j = 0; j < ids.size(); ++j) {
            ASSERT_EQ(ids[j], kids_[j].node) << j;
            KR::UnID v;
            t.GetLastPathNode(ids[j], &v);
            ASSERT_EQ(v, kids_[j].value) << j;
            ASSERT_EQ(t.GetPathMultiplicity(ids[j]), kids_[j].count) << j;
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
    std::uint32_t parent_;
    std::vector<Kid> kids_;
    std::vector<std::uint32_t> free_;
    std::uint32_t nextId_ = 0;
    bool ascending_ = true;
};

// The family's tree copied, assigned over another tree and read back from its
// bytes, right after whatever came before: all equal the original and go on
// exactly like it under the same random additions and releases.
void ExpectTwinsAgree(Family& f, std::mt19937& rng, std::uint32_t range)
{
    Family copy(f), assigned({U(range + 1)}), back(f);
    assigned = f;
    back.t = TestTree();
    KR::StringIChannel in(Written(f.t));
    ASSERT_EQ(back.t.Read(in), KR::NoError);
    for (Family* g : {&copy, &assigned, &back})
        EXPECT_EQ(Written(g->t), Written(f.t));
    for (int i = 0; i < 300; ++i) {
        KR::UnID id = U(rng() % range + 1, rng() % 2);
        std::size_t j = rng() % f.Size();
        for (Family* g : {&f, &copy, &assigned, &back}) {
            g->Add(id);
            if (i % 3 == 0)
                g->Release(j);
        }
    }
    for (Family* g : {&f, &copy, &assigned, &back}) {
        g->ExpectMatchesModel();
        EXPECT_EQ(Written(g->t), Written(f.t));
    }
}

}  // namespace

TEST(LargeBlockAllocatorTest, ImpossibleSizesRaise)
{
    Storage::LargeBlockAllocator<std::uint64_t> alloc;
    EXPECT_THROW(alloc.allocate(std::size_t(-1) / 4), std::bad_alloc);
    EXPECT_THROW(Storage::AllocateLargeBlock(std::size_t(-1) / 2), std::bad_alloc);
    EXPECT_THROW(Storage::AllocateLargeBlock(std::size_t{1} << 60), std::bad_alloc);
}

TEST(LargeBlockAllocatorTest, ATreeOnLargeBlocks)
{
    // Enough nodes that the entry arrays and the index pool grow into mapped
    // blocks, which copies and assignments copy.
    Family f({});
    std::mt19937 rng(11);
    for (int i = 0; i < 70000; ++i)
        f.Add(U(rng() % 2000000 + 1, rng() % 3));
    f.ExpectMatchesModel();
    ExpectTwinsAgree(f, rng, 2000000);
}

TEST(PathsIndexTest, LargeFamiliesWithValuesChangedInPlace)
{
    for (std::vector<KR::UnID> prefix : {std::vector<KR::UnID>{}, std::vector<KR::UnID>{U(90000), U(90001)}}) {
        SCOPED_TRACE(prefix.size());
        std::mt19937 rng(7);
        Family f(prefix);
        for (int i = 0; i < 1000; ++i)
            f.Add(U(rng() % 3000 + 1, rng() % 2));  // collisions are wanted
        f.ExpectMatchesModel();

        // In place, without re-sorting: the list is no longer ascending.
        for (int i = 0, done = 0; done < 20 && i < 1000; ++i) {
            std::size_t j = rng() % f.Size();
            if (f.Count(j) == 1) {
                f.Set(j, U(rng() % 3000 + 1, rng() % 2));
                ++done;
            }
        }
        f.ExpectMatchesModel();

        // Copies go on like the original while the list is out of order and
        // once the moved values are gone.
        ExpectTwinsAgree(f, rng, 3000);
        for (std::size_t j = 1; j < f.Size();) {
            if (Less(f.Value(j - 1), f.Value(j)))
                ++j;
            else
                f.Release(j);
        }
        ExpectTwinsAgree(f, rng, 3000);
        EXPECT_NO_THROW(f.t.Check());
    }
}

TEST(PathsIndexTest, ValuesSetInPlaceInAndOutOfOrder)
{
    // The new value still fits between its neighbours: the old value must no
    // longer be found.
    Family f({U(1)});
    for (std::uint32_t m = 1; m <= 40; ++m)
        f.Add(U(m * 10));
    f.Set(15, U(165));
    f.Add(U(160));
    f.Add(U(165));
    f.Add(U(162));
    f.ExpectMatchesModel();
    ASSERT_EQ(f.Value(17), U(165));
    ASSERT_EQ(f.Count(17), 2u);

    // A sibling given the value of another: a walk finds the first of the
    // two, and both stay where they are.
    Family d({});
    for (std::uint32_t m = 1; m <= 40; ++m)
        d.Add(U(m * 10));
    d.Set(30, U(50));  // 10 .. 300, 50, 320 .. 400
    d.Add(U(50));      // the first 50 counts twice
    d.Add(U(305));     // goes after the moved 50, before 320
    d.Release(4);
    d.Release(4);      // the first 50 is gone
    d.Add(U(50));      // the walk stops at 60: a new node, the moved 50 stays apart
    ASSERT_EQ(d.Value(4), U(50));
    ASSERT_EQ(d.Value(30), U(50));
    d.ExpectMatchesModel();
    d.Release(d.Size() - 1);
    d.ExpectMatchesModel();
}

// Deleting a node inside a path rebuilds the part below it onto the node's
// parent; the deleted node goes when no other path holds it.
TEST(PathsTest, DeletingAnInnerNodeRebuildsThePathBelowIt)
{
    TestTree t;
    const KR::UnID nodes[] = {U(1), U(2), U(3)};
    const std::uint32_t q = t.DeletePathNode(t.AddPath(nodes, 3), 1);
    std::vector<KR::UnID> path(t.GetPathLength(q));
    t.GetPath(q, path.data());
    EXPECT_EQ(path, (std::vector<KR::UnID>{U(1), U(3)}));
    EXPECT_EQ(t.FindNodeId(U(2)), 0u);
    EXPECT_NO_THROW(t.Check());
}

TEST(PathsLeafEdgesTest, RandomMixOfAddsAndReleases)
{
    // Plain values, and values whose leading field of the main GUID ties
    // (and revisions of one main GUID), which the index must order by the
    // comparison rather than by its key alone.
    std::mt19937 rng(5);
    for (bool tie : {false, true}) {
        SCOPED_TRACE(tie);
        Family f({U(5)});
        for (int step = 0; step < 20000; ++step) {
            KR::UnID id = U(tie ? 0x12345678u : std::uint32_t(rng() % 4000 + 1), rng() % 3);
            id.mainGuid.data2 = std::uint16_t(tie ? rng() % 40 : 0);
            id.mainGuid.data4[0] = std::uint8_t(tie ? rng() % 5 : 0);
            if (f.Size() < 50 || rng() % 5 < 3)
                f.Add(id);
            else
                f.Release(rng() % f.Size());
            if (step % 997 == 0)
                f.ExpectMatchesModel();
        }
        while (f.Size() > 0)
            f.Release(rng() % f.Size());
        f.ExpectMatchesModel();
    }
}
