#include "librarymanagerdll/TypeHierarchy/TestIds.hpp"

#include <gtest/gtest.h>

using namespace TestIds;

namespace {

std::uint32_t Add(Tree& t, std::initializer_list<std::uint32_t> mains)
{
    std::vector<KR::UnID> ids;
    for (std::uint32_t m : mains)
        ids.push_back(U(m));
    return t.AddPath(ids.data(), std::uint32_t(ids.size()));
}

// The path's main GUIDs, "1.2.3".
std::string PathText(const Tree& t, std::uint32_t id)
{
    std::vector<KR::UnID> ids(t.GetPathLength(id));
    t.GetPath(id, ids.data());
    std::string s;
    for (const KR::UnID& u : ids)
        s += (s.empty() ? "" : ".") + std::to_string(u.mainGuid.data1);
    return s;
}

std::string Illegal(const char* operation)
{
    return std::string("Illegal index in Paths<NodeData, Comparision>::") + operation + ".|Paths";
}

}  // namespace

TEST(PathsTest, SiblingOrderAndWalks)
{
    TestTree t;
    std::uint32_t e = Add(t, {4, 5});
    std::uint32_t c = Add(t, {1, 3});
    std::uint32_t b = Add(t, {1, 2});
    std::uint32_t a = Add(t, {1});
    std::uint32_t d = t.FindNodeId(U(4));
    std::uint32_t root = t.GetRootNodeId();
    Tree::IdQueue q;
    t.PushSubPathIds(root, &q);
    EXPECT_EQ(Drain(q), (std::vector<std::uint32_t>{a, b, c, e}));
    t.PushSubNodeIds(root, &q);
    EXPECT_EQ(Drain(q), (std::vector<std::uint32_t>{a, b, c, d, e}));
    EXPECT_EQ(Children(t, root), (std::vector<std::uint32_t>{a, d}));
    EXPECT_EQ(t.FindPathId(U(5)), e);
    EXPECT_EQ(t.FindPathId(U(4)), 0u);  // inner node only

    TestTree revisions;
    std::uint32_t r2 = revisions.AddPath(nullptr, 0, U(1, 2));
    std::uint32_t r1 = revisions.AddPath(nullptr, 0, U(1, 1));
    EXPECT_EQ(Children(revisions, revisions.GetRootNodeId()), (std::vector<std::uint32_t>{r1, r2}));
}

TEST(PathsTest, QueriesAlongAPath)
{
    Tree t;
    std::uint32_t p = Add(t, {1, 2, 3});
    KR::UnID u;
    t.GetPathNode(p, 1, &u);
    EXPECT_EQ(u, U(2));
    const std::pair<std::uint32_t, KR::UnID> fromBack[] = {{0, U(3)}, {2, U(1)}, {3, KR::UnID{}}, {99, KR::UnID{}}};
    for (const auto& [k, expected] : fromBack) {
        t.GetPathNodeFromBack(p, k, &u);
        EXPECT_EQ(u, expected) << k;
    }
    EXPECT_TRUE(t.IsNodeOnPath(p, KR::UnID{}));  // the root's
    EXPECT_FALSE(t.IsNodeOnPath(0, KR::UnID{}));  // id 0 is no path, not an illegal id
}

TEST(PathsTest, SetPathNode)
{
    TestTree t;
    std::uint32_t p = Add(t, {1, 2});
    EXPECT_EQ(t.SetPathNode(p, 1, U(9)), p);  // only user of its last node: in place
    EXPECT_EQ(PathText(t, p), "1.9");

    // In place keeps the node where it stands, even where it sorts elsewhere.
    std::uint32_t five = Add(t, {5});
    std::uint32_t six = Add(t, {6});
    std::uint32_t seven = Add(t, {7});
    EXPECT_EQ(t.SetPathNode(six, 0, U(9)), six);
    std::uint32_t root = t.GetRootNodeId();
    std::uint32_t one = t.FindNodeId(U(1));
    EXPECT_EQ(Children(t, root), (std::vector<std::uint32_t>{one, five, six, seven}));
    std::uint32_t eight = Add(t, {8});  // a walk stops at the first larger sibling, 9
    EXPECT_EQ(Children(t, root), (std::vector<std::uint32_t>{one, five, eight, six, seven}));

    std::uint32_t shared = Add(t, {1, 2, 3});
    EXPECT_EQ(Add(t, {1, 2, 3}), shared);
    std::uint32_t moved = t.SetPathNode(shared, 1, U(4));
    EXPECT_EQ(PathText(t, moved), "1.4.3");
    EXPECT_EQ(t.GetPathMultiplicity(shared), 1u);

    std::uint32_t head = t.SetPathNode(moved, 0, U(6));  // not the last node: rebuilt
    EXPECT_EQ(PathText(t, head), "6.4.3");
    EXPECT_EQ(PathText(t, shared), "1.2.3");
    EXPECT_EQ(IllegalText([&] { t.SetPathNode(head, 3, U(1)); }), Illegal("SetPathNode"));
    EXPECT_NO_THROW(t.Check());
}

TEST(PathsTest, DeletePathNodeAndReplacePath)
{
    TestTree t;
    std::uint32_t p = Add(t, {1, 2, 3});
    std::uint32_t q = t.DeletePathNode(p, 1);
    EXPECT_EQ(PathText(t, q), "1.3");
    EXPECT_EQ(t.FindNodeId(U(2)), 0u);
    EXPECT_EQ(t.DeletePathNode(q, 1), t.FindNodeId(U(1)));  // the last node: DeleteLastPathNode
    EXPECT_EQ(IllegalText([&] { t.DeletePathNode(q, 1); }), Illegal("DeletePathNode"));

    std::uint32_t r = Add(t, {4, 5});
    KR::UnID nodes[] = {U(6)};
    std::uint32_t s = t.ReplacePath(r, nodes, 1);
    EXPECT_EQ(PathText(t, s), "6");
    EXPECT_EQ(t.FindNodeId(U(4)), 0u);
    EXPECT_EQ(IllegalText([&] { t.ReplacePath(s, nullptr, 0); }), Illegal("ReplacePath"));
    EXPECT_EQ(t.ReplacePath(s, nodes, 0), 0u);
    EXPECT_EQ(t.FindNodeId(U(6)), 0u);
    EXPECT_NO_THROW(t.Check());
}

TEST(PathsTest, IllegalIdsRaiseAndChangeNothing)
{
    TestTree t;
    std::uint32_t freed = Add(t, {1, 2});
    std::uint32_t p = Add(t, {1, 3});
    t.DeletePath(freed);
    const std::string before = Written(t);
    KR::UnID u;
    Tree::IdQueue q;
    // Past the last entry, and a freed entry; the root where a path is
    // wanted; a position past the path's end.
    for (std::uint32_t bad : {0u, p + 1, freed})
        EXPECT_EQ(IllegalText([&] { t.DeletePath(bad); }), Illegal("DeletePath")) << bad;
    EXPECT_EQ(IllegalText([&] { t.PushSubPathIds(freed, &q); }), Illegal("PushSubPathIds"));
    EXPECT_EQ(IllegalText([&] { t.GetPath(t.GetRootNodeId(), &u); }), Illegal("GetPath"));
    EXPECT_EQ(IllegalText([&] { t.DeleteLastPathNode(t.GetRootNodeId()); }), Illegal("DeleteLastPathNode"));
    EXPECT_EQ(IllegalText([&] { t.GetPathNode(p, 2, &u); }), Illegal("GetPathNode"));
    EXPECT_EQ(IllegalText([&] { t.GetPathNodeFromBack(p, 0, nullptr); }), Illegal("GetPathNodeFromBack"));
    // Releasing an inner node's own reference would orphan its child.
    EXPECT_EQ(IllegalText([&] { t.DeletePath(t.FindNodeId(U(1))); }), Illegal("DeleteUnreferencedLeafItem"));
    EXPECT_EQ(Written(t), before);
}

TEST(PathsTest, MergeAndCheck)
{
    TestTree t;
    Add(t, {1, 2});
    Tree other;
    Add(other, {1, 3});
    Add(other, {1, 3});
    Add(other, {4});
    t.Merge(other);
    EXPECT_EQ(t.GetPathMultiplicity(t.FindNodeId(U(1))), 2u);
    EXPECT_EQ(t.GetPathMultiplicity(t.FindNodeId(U(3))), 1u);  // one reference, whatever the other count
    EXPECT_EQ(t.GetPathMultiplicity(t.FindNodeId(U(4))), 1u);
    EXPECT_EQ(t.GetPathMultiplicity(t.GetRootNodeId()), 1u);    // the root is not counted
    EXPECT_EQ(IllegalText([&] { t.Check(); }), Illegal("Check"));
    t.AddPathReference(t.GetRootNodeId());
    t.AddPathReference(t.GetRootNodeId());
    EXPECT_NO_THROW(t.Check());
}
