// Building the type hierarchy, worked examples of what Build must do: moves
// below present revisions, conforming and old parts. The random
// tables of the differential test cover the rarer shapes (shared and freed
// paths, null nodes, cycles, records without path) against a reference.
#include "HierarchyTestSupport.hpp"

namespace HierarchyTest {
namespace {

using Ids = std::vector<KR::UnID>;
using Updates = std::vector<Update>;

class Build : public HierarchyFixture {
protected:
    void SetUp() override
    {
        HierarchyFixture::SetUp();
        tree_ = std::make_unique<RecordingHierarchy>(set_.get());
    }
    void TearDown() override
    {
        tree_.reset();
        HierarchyFixture::TearDown();
    }
    std::int32_t Add(const char* name, const KR::UnID& own, const Ids& ancestors, bool valid = true)
    {
        return Part(*tree_, name, own, ancestors, valid);
    }
    Ids PathOfPart(std::int32_t i) { return Path(*tree_, i); }

    std::unique_ptr<RecordingHierarchy> tree_;
    const KR::UnID R = MakeUnID(1, 1), A1 = MakeUnID(2, 1), A2 = MakeUnID(2, 2), B = MakeUnID(3, 1),
                   C = MakeUnID(4, 1), M = MakeUnID(5, 1);
};

TEST_F(Build, MovesBelowThePresentRevisionAndConformsTheMovedParts)
{
    const std::int32_t r = Add("R", R, {});
    const std::int32_t a2 = Add("A2", A2, {R});
    const std::int32_t b = Add("B", B, {A1});
    const std::int32_t c = Add("C", C, {A1, B});
    const std::int32_t c2 = Add("C2", MakeUnID(6, 1), {A1, B});
    Done();
    const std::uint32_t oldB = PathOf(b);
    tree_->Build(false);
    EXPECT_EQ(PathOfPart(b), (Ids{R, A2, B}));
    EXPECT_NE(PathOf(b), oldB);
    EXPECT_EQ(PathOfPart(c), (Ids{R, A2, B, C}));
    EXPECT_EQ(PathOfPart(c2), (Ids{R, A2, B, MakeUnID(6, 1)}));
    // The old branch is gone; only R's branch is left below the root.
    EXPECT_EQ(tree_->GetPathMultiplicity(PathOf(r)), 5u);
    EXPECT_EQ(tree_->FindPathId(A1), 0u);
    // The moved parts are conformed when the walk reaches them again.
    EXPECT_EQ(tree_->updates, (Updates{{b, a2, false}, {c, b, false}, {c2, b, false}}));
    // Asked to conform all: every node whose UnID is present, breadth first.
    tree_->updates.clear();
    tree_->Build(true);
    EXPECT_EQ(tree_->updates, (Updates{{r, -1, false}, {a2, r, false}, {b, a2, false}, {c, b, false}, {c2, b, false}}));
}

TEST_F(Build, OldPartsAreUpdatedOrMovedBelowTheNearestPresentAncestor)
{
    const std::int32_t r = Add("R", R, {});
    const std::int32_t a2 = Add("A2", A2, {R});
    const std::int32_t b = Add("B", B, {});
    const std::int32_t underB = Add("Old under B", NULLUnID, {B});
    const std::int32_t direct = Add("Old under A1", NULLUnID, {A1});
    const std::int32_t twoUp = Add("Old under M", NULLUnID, {A1, M});
    const std::int32_t lost = Add("Old lost", NULLUnID, {MakeUnID(8, 1)});
    const std::int32_t top = Add("Old at top", NULLUnID, {});
    Done();
    const std::uint32_t keep = PathOf(underB);
    tree_->Build(false);
    // The walk moves A1's sub-tree with its old parts below A2 already.
    EXPECT_EQ(PathOfPart(direct), (Ids{R, A2, NULLUnID}));
    EXPECT_EQ(PathOfPart(twoUp), (Ids{R, A2, M, NULLUnID}));
    EXPECT_EQ(PathOf(underB), keep);
    EXPECT_EQ(PathOfPart(lost), (Ids{MakeUnID(8, 1), NULLUnID}));
    EXPECT_EQ(PathOfPart(top), (Ids{NULLUnID}));
    EXPECT_EQ(tree_->updates, (Updates{{underB, b, true}, {direct, a2, true}, {twoUp, a2, true}}));
    (void)r;
}

}  // namespace
}  // namespace HierarchyTest
