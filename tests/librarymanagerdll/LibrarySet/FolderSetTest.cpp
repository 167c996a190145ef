// The folder set: its root, the search for a file's folder and the ordering
// at the end of an enumeration (a worked example of the ordering is in the
// enumeration tests, on real folders).
#include "LibrarySetTestSupport.hpp"

#include "KR/Text.hpp"
#include "LibrarySet/FolderSet.hpp"

#include <random>

using namespace LMTest;

namespace {

// Adds a folder below `parent` named `name`, as a walk entering it would.
std::int32_t Enter(LM::FolderSet& folders, std::int32_t parent, const std::string& name, std::int32_t library)
{
    IO::Location location = parent == 0 ? IO::Location("/libs/" + name)
                                        : IO::Location(folders.GetItem(parent)->location, IO::Name(name));
    return folders.AddFolder(location, KR::String(name), parent, library);
}

// Every item's parent is the folder that really encloses it.
void ExpectParentsEnclose(const LM::FolderSet& folders, std::int32_t ordered)
{
    for (std::int32_t i = 1; i < ordered; ++i) {
        const LM::FolderItem& item = *folders.GetItem(i);
        IO::Location enclosing(item.location);
        enclosing.DeleteLastLocalName();
        if (item.parent == 0)
            EXPECT_EQ(IO::Location("/libs"), enclosing) << item.location.GetText();
        else
            EXPECT_EQ(folders.GetItem(item.parent)->location, enclosing) << item.location.GetText();
    }
}

}  // namespace

TEST(FolderSetTest, FolderOfAFileIsTheFirstItemAtItsLocation)
{
    LM::FolderSet folders("root");
    EXPECT_THROW(folders.AddFolder(IO::Location("/x"), KR::String("x"), 1, 0), KR::IllegalArgumentException);
    std::int32_t lib = Enter(folders, 0, "lib", 0);
    std::int32_t sub = Enter(folders, lib, "sub", 0);
    std::int32_t twin = folders.AddFolder(IO::Location("/libs/lib/sub"), KR::String("twin"), lib, 1);
    EXPECT_EQ(sub, folders.FindFolderOfFile(IO::Location("/libs/lib/sub/a.gsm")));
    EXPECT_EQ(lib, folders.FindFolderOfFile(IO::Location("/libs/lib/b.gsm")));
    const std::int32_t none = folders.GetCount() - 2;
    EXPECT_EQ(none, folders.FindFolderOfFile(IO::Location("/elsewhere/c.gsm")));
    EXPECT_EQ(none, folders.FindFolderOfFile(IO::Location()));
    EXPECT_EQ(none, folders.FindFolderOfFile(IO::Location("http://host/libs/lib/b.gsm")));

    // A location changed through the item is seen by the next search.
    folders.GetItem(sub)->location = IO::Location("/moved");
    EXPECT_EQ(twin, folders.FindFolderOfFile(IO::Location("/libs/lib/sub/a.gsm")));
    EXPECT_EQ(sub, folders.FindFolderOfFile(IO::Location("/moved/a.gsm")));
}

TEST(FolderSetTest, RandomTreesKeepEveryLinkAndGroupLibrariesAndSiblings)
{
    std::mt19937 random(20240611u);
    const std::vector<std::string> syllables{"a", "B", "c10", "C2", "d", "Beam", "beam", "x1", "X01"};
    for (int round = 0; round < 40; ++round) {
        LM::FolderSet folders("root");
        std::vector<std::int32_t> libraryOf{-1};
        const int libraries = 1 + static_cast<int>(random() % 4);
        const int count = 1 + static_cast<int>(random() % 60);
        for (int k = 0; k < count; ++k) {
            std::int32_t parent = 0;
            if (folders.GetCount() > 1 && random() % 4 != 0)
                parent = 1 + static_cast<std::int32_t>(random() % static_cast<unsigned>(folders.GetCount() - 1));
            // Library tops are entered in any order of their library indices.
            std::int32_t library = parent == 0 ? static_cast<std::int32_t>(random() % libraries)
                                               : libraryOf[static_cast<std::size_t>(parent)];
            std::string name = syllables[random() % syllables.size()] + std::to_string(k);
            if (parent == 0)
                name = "L" + std::to_string(library) + "-" + name;
            Enter(folders, parent, name, library);
            libraryOf.push_back(library);
        }
        const std::int32_t n = folders.GetCount();
        std::vector<IO::Location> before;
        for (std::int32_t i = 0; i < n; ++i)
            before.push_back(folders.GetItem(i)->location);

        std::vector<std::int32_t> map;
        folders.OrderAndClose("o", "m", &map);
        ASSERT_EQ(n + 2, folders.GetCount());
        ASSERT_EQ(static_cast<std::size_t>(n), map.size());
        for (std::int32_t old = 0; old < n; ++old)
            EXPECT_EQ(before[static_cast<std::size_t>(old)], folders.GetItem(map[static_cast<std::size_t>(old)])->location);
        ExpectParentsEnclose(folders, n);

        // Libraries ascend; the children of one parent within one library lie
        // together, in name order.
        auto sameGroup = [&](std::int32_t i, std::int32_t j) {
            return folders.GetItem(i)->parent == folders.GetItem(j)->parent &&
                   folders.GetItem(i)->activeLibraryIndex == folders.GetItem(j)->activeLibraryIndex;
        };
        for (std::int32_t i = 2; i < n; ++i) {
            const LM::FolderItem& previous = *folders.GetItem(i - 1);
            const LM::FolderItem& item = *folders.GetItem(i);
            EXPECT_LE(previous.activeLibraryIndex, item.activeLibraryIndex);
            if (sameGroup(i - 1, i)) {
                EXPECT_LE(KR::ch04Manager.Compare(previous.name.ToCStr(), -1, item.name.ToCStr(), -1, 1, 0), 0);
            }
        }
        for (std::int32_t i = 1; i < n; ++i) {
            for (std::int32_t j = i + 2; j < n; ++j) {
                if (sameGroup(i, j)) {
                    EXPECT_TRUE(sameGroup(i, j - 1)) << "siblings split";
                }
            }
        }
    }
}
