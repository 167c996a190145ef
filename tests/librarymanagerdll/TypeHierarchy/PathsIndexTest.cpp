// Large families of siblings go through the tree's ordered sibling index.
// A plain model of one sibling list (a vector walked the way the list is
// walked) must agree with the tree after every kind of change.
#include "Paths.hpp"
#include "librarymanagerdll/TypeHierarchy/TestIds.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using TestIds::U;
using TestIds::Written;

namespace {

using Tree = KR::Paths<KR::UnID, Cmp_UnIDs>;

class TestTree : public Tree {
public:
    using Tree::FindNodeId;
    using Tree::GetRootNodeId;
    using Tree::PushChildNodeIds;
};

struct Sibling {
    KR::UnID id;
    std::uint32_t count;
};

// The family below one node, as a plain list.
struct Model {
    std::vector<Sibling> list;

    // A walk stops at the first sibling not smaller than id.
    std::size_t Add(const KR::UnID& id)
    {
        std::size_t j = 0;
        while (j < list.size() && Cmp_UnIDs().Compare(list[j].id, id) < 0)
            ++j;
        if (j < list.size() && list[j].id == id)
            ++list[j].count;
        else
            list.insert(list.begin() + std::ptrdiff_t(j), Sibling{id, 1});
        return j;
    }
    void Release(std::size_t j)
    {
        if (--list[j].count == 0)
            list.erase(list.begin() + std::ptrdiff_t(j));
    }
};

class Family {
public:
    Family(TestTree& tree, std::vector<KR::UnID> prefix) : t(tree), prefix(std::move(prefix)) {}

    std::uint32_t Parent() const
    {
        return prefix.empty() ? t.GetRootNodeId() : t.FindNodeId(prefix.back());
    }
    std::vector<std::uint32_t> Ids() const
    {
        Tree::IdQueue q;
        t.PushChildNodeIds(Parent(), &q);
        std::vector<std::uint32_t> ids;
        while (!q.IsEmpty())
            ids.push_back(q.Pop());
        return ids;
    }
    // Adds one path ending in id and checks where it went.
    void Add(const KR::UnID& id)
    {
        std::uint32_t node = t.AddPath(prefix.data(), std::uint32_t(prefix.size()), id);
        std::size_t j = model.Add(id);
        ASSERT_EQ(Ids().at(j), node);
    }
    void Release(std::size_t j)
    {
        t.DeletePath(Ids().at(j));
        model.Release(j);
    }
    // Replaces the value of a sibling used by one path only, in place.
    void Set(std::size_t j, const KR::UnID& id)
    {
        std::uint32_t node = Ids().at(j);
        ASSERT_EQ(t.SetPathNode(node, std::uint32_t(prefix.size()), id), node);
        model.list[j].id = id;
    }
    void ExpectMatchesModel() const
    {
        std::vector<std::uint32_t> ids = Ids();
        ASSERT_EQ(ids.size(), model.list.size());
        for (std::size_t j = 0; j < ids.size(); ++j) {
            KR::UnID id;
            t.GetLastPathNode(ids[j], &id);
            ASSERT_EQ(id, model.list[j].id) << j;
            ASSERT_EQ(t.GetPathMultiplicity(ids[j]), model.list[j].count) << j;
        }
    }

    TestTree& t;
    std::vector<KR::UnID> prefix;
    Model model;
};

KR::UnID RandomId(std::mt19937& rng)
{
    return U(rng() % 3000 + 1, rng() % 2);  // collisions are wanted
}

// Runs the same additions on the tree, a copy of it and a tree read back
// from its bytes: ids and bytes must agree.
void CheckTwins(Family& f, std::mt19937& rng)
{
    TestTree copy(f.t);
    TestTree back;
    KR::StringIChannel in(Written(f.t));
    ASSERT_EQ(back.Read(in), KR::NoError);
    Family fc(copy, f.prefix), fb(back, f.prefix);
    fc.model = fb.model = f.model;
    for (int i = 0; i < 300; ++i) {
        KR::UnID id = RandomId(rng);
        f.Add(id);
        fc.Add(id);
        fb.Add(id);
    }
    f.ExpectMatchesModel();
    EXPECT_EQ(Written(copy), Written(f.t));
    EXPECT_EQ(Written(back), Written(f.t));
}

}  // namespace

TEST(PathsIndexTest, LargeFamiliesMatchAPlainList)
{
    for (std::vector<KR::UnID> prefix : {std::vector<KR::UnID>{}, std::vector<KR::UnID>{U(90000), U(90001)}}) {
        SCOPED_TRACE(prefix.size());
        std::mt19937 rng(7);
        TestTree t;
        Family f(t, prefix);
        for (int i = 0; i < 1000; ++i)
            f.Add(RandomId(rng));
        f.ExpectMatchesModel();

        // Values whose node went away must not be found again.
        std::vector<KR::UnID> gone;
        for (int i = 0; i < 400; ++i) {
            std::size_t j = rng() % f.model.list.size();
            if (f.model.list[j].count == 1)
                gone.push_back(f.model.list[j].id);
            f.Release(j);
        }
        f.ExpectMatchesModel();
        for (std::size_t i = 0; i < gone.size(); i += 2)
            f.Add(gone[i]);
        f.ExpectMatchesModel();

        // In place, without re-sorting: the list is no longer ascending.
        for (int i = 0, done = 0; done < 20 && i < 1000; ++i) {
            std::size_t j = rng() % f.model.list.size();
            if (f.model.list[j].count == 1) {
                f.Set(j, RandomId(rng));
                ++done;
            }
        }
        f.ExpectMatchesModel();

        // A copy and a read-back tree go on exactly like the original, both
        // while the list is out of order and once the moved values are gone.
        CheckTwins(f, rng);
        auto outOfOrder = [&]() -> std::size_t {
            for (std::size_t j = 1; j < f.model.list.size(); ++j)
                if (Cmp_UnIDs().Compare(f.model.list[j - 1].id, f.model.list[j].id) >= 0)
                    return j;
            return 0;
        };
        while (std::size_t j = outOfOrder())
            f.Release(j);
        CheckTwins(f, rng);

        // Shrink below and grow past the size at which a family is indexed,
        // then fill again so the freed ids come back.
        while (f.model.list.size() > 5)
            f.Release(rng() % f.model.list.size());
        f.ExpectMatchesModel();
        for (int i = 0; i < 600; ++i)
            f.Add(RandomId(rng));
        f.ExpectMatchesModel();
        EXPECT_NO_THROW(t.Check());
    }
}

TEST(PathsIndexTest, DuplicateValueSetInPlace)
{
    // A sibling given the value of another sibling: a walk finds the first of
    // the two, and both stay where they are.
    TestTree t;
    Family f(t, {});
    for (std::uint32_t m = 1; m <= 40; ++m)
        f.Add(U(m * 10));
    f.Set(30, U(50));  // 10 .. 300, 50, 320 .. 400
    f.Add(U(50));      // the first 50 counts twice
    f.Add(U(305));     // goes after the moved 50, before 320
    f.Release(4);
    f.Release(4);      // the first 50 is gone
    f.Add(U(50));      // the walk stops at 60: a new node, the moved 50 stays apart
    ASSERT_EQ(f.model.list[4].id, U(50));
    ASSERT_EQ(f.model.list[30].id, U(50));
    f.ExpectMatchesModel();
    f.Release(f.model.list.size() - 1);
    f.ExpectMatchesModel();
}

TEST(PathsIndexTest, SetInPlaceKeepingTheOrder)
{
    // The new value still fits between its neighbours: the family stays
    // indexed, and the old value must no longer be found.
    TestTree t;
    Family f(t, {U(1)});
    for (std::uint32_t m = 1; m <= 40; ++m)
        f.Add(U(m * 10));
    f.Set(15, U(165));
    f.Add(U(160));
    f.Add(U(165));
    f.Add(U(162));
    f.ExpectMatchesModel();
    ASSERT_EQ(f.model.list[17].id, U(165));
    ASSERT_EQ(f.model.list[17].count, 2u);
}

TEST(PathsIndexTest, OrderPrefixAgreesWithTheComparison)
{
    // The index trusts the prefix: a smaller prefix must mean a smaller
    // UnID, and equal UnIDs must have equal prefixes.
    std::mt19937 rng(3);
    auto field = [&](std::uint32_t range) { return std::uint32_t(rng() % range); };
    for (int i = 0; i < 20000; ++i) {
        KR::UnID a, b;
        for (KR::UnID* u : {&a, &b}) {
            u->mainGuid.data1 = field(3) * 0x7FFFFFFFu;
            u->mainGuid.data2 = std::uint16_t(field(3) * 0x7FFF);
            u->mainGuid.data3 = std::uint16_t(field(3) * 0x7FFF);
            u->mainGuid.data4[0] = std::uint8_t(field(2) * 0xFF);
            u->revGuid.data1 = field(2);
        }
        int c = Cmp_UnIDs().Compare(a, b);
        std::uint64_t pa = Cmp_UnIDs::OrderPrefix(a), pb = Cmp_UnIDs::OrderPrefix(b);
        if (pa < pb) {
            ASSERT_LT(c, 0);
        } else if (pa > pb) {
            ASSERT_GT(c, 0);
        }
        if (c == 0) {
            ASSERT_EQ(pa, pb);
        }
    }
}
