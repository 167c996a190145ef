// The library map: building it by walking real folders and by adding files
// and paths, searching siblings by name, counting files and node locations.
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

// Seconds from 1970-01-01 to 2001-01-01, where foundation time starts.
constexpr std::int64_t FoundationEpoch = 978307200;

// The names of a node's children in chain order.
std::vector<std::string> ChildNames(const LibraryMap& map, std::int32_t node)
{
    std::vector<std::string> names;
    for (std::int32_t n = map.GetNode(node).firstChild; n != 0; n = map.GetNode(n).next)
        names.emplace_back(map.GetNameText(n));
    return names;
}

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

TEST(LibraryMap, WalkRecordsTheTreeWithKindsTimesAndCounts)
{
    TempDir dir;
    dir.WriteFile("lib/b.gsm", "b");
    dir.WriteFile("lib/a.gsm", "a");
    dir.WriteFile("lib/Doors/d1.gsm", "d1");
    dir.WriteFile("lib/Doors/Inner/d2.gsm", "d2");
    dir.MakeFolder("lib/Empty");
    TestSupport::SetUnixTime(dir / "lib/a.gsm", FoundationEpoch + 1000);
    TestSupport::SetUnixTime(dir / "lib/Doors/Inner/d2.gsm", FoundationEpoch + 2000);

    LibraryMap map{IO::Folder(dir.Loc("lib"))};
    ASSERT_EQ(0, map.Build());
    EXPECT_EQ(4, map.GetFileCount());
    EXPECT_EQ(8, map.GetNodeCount());
    // The walk meets names in byte order; each is put in front.
    EXPECT_EQ((std::vector<std::string>{"b.gsm", "a.gsm", "Empty", "Doors"}), ChildNames(map, LibraryMap::RootNode));

    const std::int32_t first = map.GetFirstEntry();
    const std::int32_t a = map.FindChild(first, "a.gsm");
    const std::int32_t doors = map.FindChild(first, "Doors");
    const std::int32_t empty = map.FindChild(first, "Empty");
    const std::int32_t inner = map.FindChild(map.GetNode(doors).firstChild, "Inner");
    const std::int32_t d2 = map.FindChild(map.GetNode(inner).firstChild, "d2.gsm");
    ASSERT_TRUE(a && doors && empty && inner && d2);
    EXPECT_TRUE(!map.GetNode(a).folder && map.GetNode(doors).folder);
    EXPECT_EQ(1000, map.GetNode(a).modificationTime);
    EXPECT_EQ(2000, map.GetNode(d2).modificationTime);
    EXPECT_EQ(2, map.CountFiles(doors));
    EXPECT_EQ(0, map.CountFiles(empty));

    IO::Location at;
    ASSERT_EQ(0, map.GetNodeLocation(d2, IO::Location("/cache/lib"), &at));
    EXPECT_EQ(IO::Location("/cache/lib/Doors/Inner/d2.gsm"), at);
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

TEST(LibraryMap, SingleFileIsAddedOnceAndCountedEachTime)
{
    TempDir dir;
    dir.WriteFile("Lib.lcf", "container");
    TestSupport::SetUnixTime(dir / "Lib.lcf", FoundationEpoch + 77);
    LibraryMap map{IO::Folder(dir.Loc())};
    EXPECT_EQ(0, map.AddSingleFile(dir.Loc("missing.lcf")));
    const std::int32_t node = map.AddSingleFile(dir.Loc("Lib.lcf"));
    ASSERT_NE(0, node);
    EXPECT_STREQ("Lib.lcf", map.GetNameText(node));
    TestSupport::SetUnixTime(dir / "Lib.lcf", FoundationEpoch + 99);
    EXPECT_EQ(node, map.AddSingleFile(dir.Loc("Lib.lcf")));
    EXPECT_EQ(99, map.GetNode(node).modificationTime);
    EXPECT_EQ(2, map.GetNodeCount());
    EXPECT_EQ(2, map.GetFileCount());
}

TEST(LibraryMap, PathsShareTheirFoldersAndEndInTheGivenKind)
{
    LibraryMap map{IO::Folder()};
    EXPECT_THROW(map.GetNode(2), KR::IllegalArgumentException);
    EXPECT_THROW(map.AddNode(0, "x", false), KR::IllegalArgumentException);
    EXPECT_EQ(0, map.FindOrAddPath(IO::RelativeLocation(""), false));
    const std::int32_t c = map.FindOrAddPath(IO::RelativeLocation("A/B/c.gsm"), false);
    const std::int32_t d = map.FindOrAddPath(IO::RelativeLocation("a/B/d"), true);  // "a" finds "A"
    EXPECT_EQ(5, map.GetNodeCount());  // root, A, B, c.gsm, d
    EXPECT_FALSE(map.GetNode(c).folder);
    EXPECT_TRUE(map.GetNode(d).folder);
    EXPECT_EQ(map.GetNode(c).parent, map.GetNode(d).parent);
    EXPECT_EQ(c, map.FindOrAddPath(IO::RelativeLocation("A/B/c.gsm"), false));
    EXPECT_EQ(0, map.GetFileCount());  // only the walk and single files count
    IO::Location at;
    ASSERT_EQ(0, map.GetNodeLocation(c, IO::Location("/r"), &at));
    EXPECT_EQ(IO::Location("/r/A/B/c.gsm"), at);
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

TEST(LibraryMap, NamePoolGrowsInStepsAndDropsWhatCannotFit)
{
    LibraryMap map{IO::Folder()};
    const std::string name(99, 'n');
    std::vector<std::int32_t> nodes;
    for (int i = 0; i < 150; ++i)  // 15,000 bytes of names
        nodes.push_back(map.AddNode(LibraryMap::RootNode, (name + std::to_string(i % 10)).c_str(), false));
    EXPECT_EQ(2 * LibraryMap::PoolStep, map.GetPoolCapacity());
    EXPECT_EQ(1 + 150 * 101, map.GetPoolUsed());
    EXPECT_EQ(name + "3", map.GetNameText(nodes[3]));  // a name from before the pool grew
    const std::string huge(3 * LibraryMap::PoolStep, 'h');
    const std::int32_t dropped = map.AddNode(LibraryMap::RootNode, huge.c_str(), false);
    EXPECT_STREQ("", map.GetNameText(dropped));
    EXPECT_EQ(3 * LibraryMap::PoolStep, map.GetPoolCapacity());
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
