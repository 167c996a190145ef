// A small exporter of the type hierarchy: it prints the tree as an indented
// outline, siblings ordered by their identifiers' text, and does not descend
// below the node named on the command line.
//
//   exporter [UnID of a node not to descend into]
#include "LibraryManager.hpp"

#include <cstdio>
#include <map>
#include <string>

namespace {

// Siblings by the text form of their UnIDs, descending.
class ByTextDescending : public LM::TypeHierarchyExporter::ICompare {
public:
    int Compare(const LM::TypeHierarchyExporter::Node& a, LM::TypeHierarchyExporter::Node b) override
    {
        return b.unID.ToString().compare(a.unID.ToString());
    }
};

class OutlineExporter : public LM::TypeHierarchyExporter {
public:
    explicit OutlineExporter(KR::UnID skip) : skip_(skip) {}

    long ExportNode(long parentItem, const Node* node, long* item) override
    {
        // The application's item of a node is its depth; the root item is 0.
        *item = parentItem + 1;
        std::printf("%*s%s%s\n", static_cast<int>(2 * parentItem), "", node->unID.ToString().c_str(),
                    node->libIndex < 0 ? " (no part)" : "");
        return node->unID == skip_ ? SkipChildren : Continue;
    }
    long GetRootItem() override { return 0; }
    void GetRootUnID(KR::UnID* id) override { *id = KR::UnID{}; }  // the whole hierarchy
    bool IsRecursive() override { return true; }
    ICompare* GetCompare() override { return &order_; }

private:
    KR::UnID skip_;
    ByTextDescending order_;
};

KR::UnID Id(const char* text)
{
    KR::UnID id{};
    if (KR::UnID::FromString(text, &id) != 0)
        std::printf("not a UnID: %s\n", text);
    return id;
}

}  // namespace

int main(int argc, char** argv)
{
    const KR::UnID root = Id("{00000001-0000-0000-0000-000000000000}-{00000001-0000-0000-0000-000000000000}");
    const KR::UnID door = Id("{00000002-0000-0000-0000-000000000000}-{00000001-0000-0000-0000-000000000000}");
    const KR::UnID window = Id("{00000003-0000-0000-0000-000000000000}-{00000001-0000-0000-0000-000000000000}");
    const KR::UnID sliding = Id("{00000004-0000-0000-0000-000000000000}-{00000001-0000-0000-0000-000000000000}");

    // A hierarchy of plain identifiers, not tied to a library set.
    LM::AncestryHierarchy hierarchy(nullptr);
    const KR::UnID doorPath[] = {root, door};
    const KR::UnID windowPath[] = {root, window};
    const KR::UnID slidingPath[] = {root, door, sliding};
    hierarchy.AddPath(doorPath, 2);
    hierarchy.AddPath(windowPath, 2);
    hierarchy.AddPath(slidingPath, 3);

    OutlineExporter exporter(argc > 1 ? Id(argv[1]) : KR::UnID{});
    const KR::ErrorCode result = hierarchy.ExportTypeHierarchy(&exporter);
    std::printf("result: %d\n", static_cast<int>(result));
    return result == 0 ? 0 : 1;
}
