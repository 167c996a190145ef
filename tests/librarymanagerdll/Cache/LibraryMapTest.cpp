// The library map: a walk that cannot read everything, node locations, and
// the indexed sibling search against the chain walk.
#include "Cache/LibraryMap.hpp"

#include "Support/FaultPlatform.hpp"
#include "Support/TempDir.hpp"

#include "KR/Exceptions.hpp"
#include "KR/Text.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using LM::LibraryMap;
using TestSupport::TempDir;

// The sibling search as it reads: from `start` along the chain, then from
// the parent's first child, until `start` comes round again.
std::int32_t FindChildByScan(const LibraryMap& map, std::int32_t start, const char* name)
{
    if (start == 0)
        return 0;
    const std::int32_t parent = map.GetNode(start).parent;
    std::int32_t n = start;
    do {
        if (KR::ch04Manager.Compare(map.GetNameText(n), name, 1) == 0)
            return n;
        n = map.GetNode(n).next;
        if (n == 0 && parent != 0)
            n = map.GetNode(parent).firstChild;
    } while (n != 0 && n != start);
    return 0;
}

TEST(LibraryMap, WalkThatCannotReadEverythingSaysSo)
{
    TempDir dir;
    dir.WriteFile("lib/a.gsm", "a");
    std::string deep = "lib/Sub";
    for (std::uint32_t i = 0; i <= IO::TreeEnumerator::MaxDepth; ++i)
        deep += "/d";
    dir.WriteFile(deep + "/f.gsm", "f");  // deeper than the enumerator enters
    for (const bool failSub : {false, true}) {
        TestSupport::FaultPlatform faults;
        if (failSub)
            faults.FailPath(dir / "lib/Sub", EIO);
        faults.FailPath(dir / "lib/a.gsm", EIO);  // its time is unreadable: in the map with time 0
        LibraryMap map{IO::Folder(dir.Loc("lib"))};
        EXPECT_EQ(LM::ErrIncompleteWalk, map.Build());
        const std::int32_t a = map.FindChild(map.GetFirstEntry(), "a.gsm");
        ASSERT_NE(0, a);
        EXPECT_EQ(0, map.GetNode(a).modificationTime);
    }
    TestSupport::FaultPlatform faults;
    faults.FailNth(TestSupport::Call::ReadDir, 1, EIO);  // reading the root itself
    EXPECT_NE(0, LibraryMap{IO::Folder(dir.Loc("lib"))}.Build());
    faults.Clear();
    EXPECT_EQ(IO::ErrNotFound, LibraryMap{IO::Folder(dir.Loc("no such folder"))}.Build());
}

TEST(LibraryMap, NodeLocationsAreBoundedAndNeverCut)
{
    LibraryMap map{IO::Folder()};
    std::int32_t node = LibraryMap::RootNode;
    for (std::int32_t i = 0; i < LibraryMap::MaxLocationDepth; ++i)
        node = map.AddNode(node, "d", true);
    IO::Location at;
    ASSERT_EQ(0, map.GetNodeLocation(node, IO::Location("/r"), &at));
    EXPECT_EQ(2 + 2 * static_cast<std::size_t>(LibraryMap::MaxLocationDepth), at.GetText().size());
    const std::int32_t deeper = map.AddNode(node, "f", false);
    EXPECT_EQ(LM::ErrMapTooDeep, map.GetNodeLocation(deeper, IO::Location("/r"), &at));
    EXPECT_TRUE(at.IsEmpty());
    // A node without a usable name gives no location rather than its parent's.
    const std::int32_t unnamed = map.AddNode(LibraryMap::RootNode, "", false);
    EXPECT_EQ(IO::ErrBadName, map.GetNodeLocation(unnamed, IO::Location("/r"), &at));
    EXPECT_EQ(KR::ErrIllegalArgument, map.GetNodeLocation(0, IO::Location("/r"), &at));
}

// Large families are searched through an index; its answers must be those
// of the chain walk for every start, with duplicates under the name
// comparison, and stay so while nodes are added to indexed families.
TEST(LibraryMap, IndexedSearchAnswersAsTheChainWalk)
{
    EXPECT_EQ(0, LibraryMap{IO::Folder()}.FindChild(0, "a"));
    std::mt19937 random(19);
    const char* stems[] = {"door", "Door", "DOOR", "win", "a1", "a01", "A1", "x"};
    for (int round = 0; round < 30; ++round) {
        LibraryMap map{IO::Folder()};
        std::vector<std::int32_t> folders{LibraryMap::RootNode};
        std::vector<std::string> names;
        const int adds = 1 + static_cast<int>(random() % 400);
        for (int i = 0; i < adds; ++i) {
            const std::int32_t parent = folders[random() % folders.size()];
            std::string name = std::string(stems[random() % 8]) + std::to_string(random() % 40);
            names.push_back(name);
            const std::int32_t node = map.AddNode(parent, name.c_str(), random() % 32 == 0);
            if (map.GetNode(node).folder)
                folders.push_back(node);
            if (i % 7 == 0) {  // searches between additions, so that indexes exist before later adds
                for (int q = 0; q < 20; ++q) {
                    const std::int32_t start = 1 + static_cast<std::int32_t>(random() % map.GetNodeCount());
                    const std::string& wanted = names[random() % names.size()];
                    ASSERT_EQ(FindChildByScan(map, start, wanted.c_str()), map.FindChild(start, wanted.c_str()));
                }
            }
        }
        for (std::int32_t start = 1; start <= map.GetNodeCount(); ++start)
            for (const char* wanted : {"door1", "DOOR1", "a1", "a01", "zzz", ""})
                ASSERT_EQ(FindChildByScan(map, start, wanted), map.FindChild(start, wanted))
                    << "round " << round << " start " << start << " name " << wanted;
    }
}

}  // namespace
