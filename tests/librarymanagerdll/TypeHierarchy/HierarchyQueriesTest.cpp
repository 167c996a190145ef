// The views of the type hierarchy: the set's queries by index, the walk,
// the export, the print and the channel format.
#include "HierarchyTestSupport.hpp"

#include "AncestryInfo.hpp"
#include "KR/DebugChannel.hpp"
#include "TypeHierarchyExporter.hpp"

#include <cstring>

namespace HierarchyTest {
namespace {

using Ids = std::vector<KR::UnID>;

// R -> A -> {B, C}, an old part below A, D without path, X missing in the
// table above Y.
class Queries : public HierarchyFixture {
protected:
    void SetUp() override
    {
        HierarchyFixture::SetUp();
        r = Part(SetTree(), "R", R, {});
        a = Part(SetTree(), "A", A, {R});
        c = Part(SetTree(), "C", C, {R, A});
        b = Part(SetTree(), "B", B, {R, A});
        old = Part(SetTree(), "Old", NULLUnID, {R, A});
        d = Pathless("D", D);
        y = Part(SetTree(), "Y", Y, {X});
        Table().Get(a)->GetSymbolData()->isTemplate = true;
        Table().Get(b)->GetSymbolData()->placeable = true;
        Done();
    }

    const KR::UnID R = MakeUnID(1, 1), A = MakeUnID(2, 1), B = MakeUnID(3, 1), C = MakeUnID(4, 1),
                   D = MakeUnID(5, 1), X = MakeUnID(6, 1), Y = MakeUnID(7, 1);
    std::int32_t r = 0, a = 0, b = 0, c = 0, old = 0, d = 0, y = 0;
};

Ids Ancestors(const LM::AncestryInfo& info)
{
    return Ids(info.GetAncestorsRef(), info.GetAncestorsRef() + info.GetAncestorsCount());
}

TEST_F(Queries, TypeTestsAndSearchByAncestor)
{
    EXPECT_TRUE(set_->IsSymbolTypeOf(b, R));
    EXPECT_TRUE(set_->IsSymbolTypeOf(b, NULLUnID));
    EXPECT_FALSE(set_->IsSymbolTypeOf(b, C));
    EXPECT_FALSE(set_->IsSymbolTypeOf(b, MakeUnID(2, 2)));  // another revision of A
    EXPECT_FALSE(set_->IsSymbolTypeOf(d, NULLUnID));
    EXPECT_FALSE(set_->IsSymbolTypeOf(-1, R));

    const std::int32_t b2 = Part(SetTree(), "B", MakeUnID(8, 1), {X});
    Done();
    EXPECT_EQ(set_->SearchDocuNameByAncestor("B", X), b2);
    EXPECT_EQ(set_->SearchDocuNameByAncestor("B", A), b);
    EXPECT_EQ(set_->SearchDocuNameByAncestor("B", D), -1);
    set_->SetSymbolValid(b, false);
    EXPECT_EQ(set_->SearchDocuNameByAncestor("B", A), -1);
}

TEST_F(Queries, SetAncestorRefusesRecordsWithoutPath)
{
    const std::uint32_t before = PathOf(c);
    EXPECT_EQ(set_->SetSymbolAncestor(c, b), 0);
    EXPECT_EQ(Path(SetTree(), c), (Ids{R, A, B, C}));
    EXPECT_EQ(SetTree().GetPathMultiplicity(before), 1u);  // the old path is not released

    const std::int32_t text = AddFile(WritePlain("a.txt"), types.text);
    const std::uint32_t now = PathOf(c);
    for (std::int32_t bad : {d, text, std::int32_t{500}})
        EXPECT_EQ(set_->SetSymbolAncestor(c, bad), LM::ErrBadIndex) << bad;
    EXPECT_EQ(set_->SetSymbolAncestor(text, b), LM::ErrBadIndex);
    EXPECT_EQ(PathOf(c), now);
}

TEST_F(Queries, RefreshAncestryInfo)
{
    LM::AncestryInfo info;
    std::int32_t found = -2;
    // The part itself is present: its ancestors as the tree holds them.
    info.Append(X);
    EXPECT_EQ(set_->RefreshAncestryInfo(B, &info, &found), 0);
    EXPECT_EQ(found, b);
    EXPECT_EQ(Ancestors(info), (Ids{R, A}));

    // Missing part below a present parent: the parent's path, then what was
    // declared below it; the template flag is the declared one.
    info.Clear();
    info.Append(X);
    info.Append(A);
    info.Append(Y);
    info.Append(MakeUnID(20, 1));
    info.MarkAsTemplate();
    EXPECT_EQ(set_->RefreshAncestryInfo(MakeUnID(21, 1), &info, &found), 0);
    EXPECT_EQ(found, y);
    EXPECT_EQ(Ancestors(info), (Ids{X, Y, MakeUnID(20, 1)}));
    EXPECT_TRUE(info.IsTemplate());

    // A unique other revision counts; nothing present leaves the list, cut
    // where it repeats the own main GUID.
    info.Clear();
    info.Append(MakeUnID(2, 7));
    EXPECT_EQ(set_->RefreshAncestryInfo(MakeUnID(30, 1), &info, &found), 0);
    EXPECT_EQ(found, a);
    EXPECT_EQ(Ancestors(info), (Ids{R, A}));
    info.Clear();
    info.Append(MakeUnID(40, 1));
    info.Append(MakeUnID(30, 2));
    EXPECT_EQ(set_->RefreshAncestryInfo(MakeUnID(30, 1), &info, nullptr), 0);
    EXPECT_EQ(Ancestors(info), (Ids{MakeUnID(40, 1)}));
    EXPECT_EQ(set_->RefreshAncestryInfo(A, nullptr, &found), KR::ErrParam);
}

TEST_F(Queries, PreorderWalkAppends)
{
    KR::VAArray<std::int32_t> list;
    list.Push(7);
    list.Push(8);
    list.Push(9);
    set_->SetSymbolValid(c, false);
    // Path ends in pre-order: R, A, (the old parts' node is skipped), B, C
    // (no valid record now), Y; then the old part. X is no path end.
    EXPECT_EQ(set_->GetPreorderAncestryTreeWalk(&list), 3 + 6);
    const std::vector<std::int32_t> got(list.begin(), list.end());
    EXPECT_EQ(got, (std::vector<std::int32_t>{7, 8, 9, r, a, b, -1, y, old}));
    EXPECT_EQ(set_->GetPreorderAncestryTreeWalk(nullptr), -1);
}

// Records the calls; the answer for a node comes from `answers` by UnID.
class Exporter : public LM::TypeHierarchyExporter {
public:
    long ExportNode(long parentItem, const Node* node, long* item) override
    {
        EXPECT_EQ(*item, 0);
        *item = ++lastItem;
        std::string line = std::to_string(parentItem) + ">" + std::to_string(*item) + ":" + node->name + "/" +
                           std::to_string(node->libIndex) + (node->isTemplate ? "T" : "") +
                           (node->isPlaceable ? "P" : "");
        calls.push_back(line);
        for (const auto& [id, answer] : answers)
            if (id == node->unID)
                return answer;
        return 0;
    }
    long GetRootItem() override { return 100; }
    void GetRootUnID(KR::UnID* id) override { *id = start; }
    bool IsRecursive() override { return recursive; }
    ICompare* GetCompare() override { return compare; }

    KR::UnID start{};
    bool recursive = true;
    ICompare* compare = nullptr;
    std::vector<std::pair<KR::UnID, long>> answers;
    std::vector<std::string> calls;
    long lastItem = 0;
};

class ByNameDescending : public LM::TypeHierarchyExporter::ICompare {
public:
    int Compare(const LM::TypeHierarchyExporter::Node& x, LM::TypeHierarchyExporter::Node y) override
    {
        return -std::strcmp(x.name, y.name);
    }
};

// Answers at random: no strict order at all.
class Chaotic : public LM::TypeHierarchyExporter::ICompare {
public:
    int Compare(const LM::TypeHierarchyExporter::Node&, LM::TypeHierarchyExporter::Node) override
    {
        state = state * 1103515245u + 12345u;
        return static_cast<int>(state >> 16) % 3 - 1;
    }
    std::uint32_t state = 1;
};

using Calls = std::vector<std::string>;

TEST_F(Queries, ExportSubTreeFlatOrderedOrUnknown)
{
    Exporter flat;
    flat.start = A;
    flat.recursive = false;
    ByNameDescending byName;
    flat.compare = &byName;
    EXPECT_EQ(set_->ExportTypeHierarchy(&flat), 0);
    EXPECT_EQ(flat.calls, (Calls{"100>1:Old/4", "100>2:C/2", "100>3:B/3P"}));

    // A comparison without any order still exports every node once.
    for (int k = 0; k < 20; ++k)
        Part(SetTree(), "Many", MakeUnID(200 + static_cast<std::uint32_t>(k), 1), {R});
    Done();
    Exporter chaotic;
    Chaotic noOrder;
    chaotic.compare = &noOrder;
    EXPECT_EQ(set_->ExportTypeHierarchy(&chaotic), 0);
    EXPECT_EQ(chaotic.calls.size(), 27u);

    Exporter unknown;
    unknown.start = D;  // a record, but no node carries it
    KR::DebugCapture capture;
    EXPECT_EQ(set_->ExportTypeHierarchy(&unknown), KR::ErrIllegalArgument);
    EXPECT_TRUE(unknown.calls.empty());
    EXPECT_NE(capture.GetText().find("PushChildNodeIds"), std::string::npos);
}

std::string Text(std::uint32_t main, std::uint32_t rev)
{
    return "{0000000" + std::to_string(main) + "-0000-0000-0000-000000000001}-{0000000" + std::to_string(rev) +
           "-0000-0000-0000-000000000002}";
}

// The tree's layout is the path tree's print (tested with it); the set labels
// nodes by document name, marks the old parts' node and nodes without a
// record, and lists its records after the tree.
TEST_F(Queries, PrintLabelsNodesByDocumentName)
{
    KR::StringOChannel out;
    set_->PrintTypeHierarchy(out);
    const std::string text = out.GetText();
    for (const std::string& line : std::vector<std::string>{
             "LibPart type hierarchy in the Library Manager:\n<BuiltIn Root> {00000000-", "\n|   +---A:" + Text(2, 1) + " (4)\n",
          "\n|       +---<Old Libparts>: {00000000-", "\n+---???: " + Text(6, 1) + " (1)\n",
          "\nLibraryManager enumeration status : false\nActiveLibCount: 0\nsymbolCount: 7\n0 : R (), isValid : true\n",
          "\n6 : Y (), isValid : true\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
}

}  // namespace
}  // namespace HierarchyTest
