#include "IOTestSupport.hpp"

#include <chrono>
#include <filesystem>

using namespace IO;
using namespace IOTest;

namespace {

// Logs the files a walk meets, with the folder they are in.
class FileLog : public IO::TreeEnumerator {
public:
    using IO::TreeEnumerator::TreeEnumerator;
    std::vector<std::string> files;

protected:
    bool FileFound(const Name& name) override
    {
        files.push_back(GetParent().GetLocation().GetText() + "/" + name.Std());
        return false;
    }
};

std::vector<std::string> PlainWalk(const TempDir& dir)
{
    FileLog walk{Folder(dir.Loc())};
    EXPECT_EQ(walk.Do(), 0);
    return walk.files;
}

}  // namespace

// A walk that takes the listings of an earlier walk meets what a walk of
// its own would meet, also where the tree changed between the two walks: a
// file added, a folder replaced by another of the same name, one removed.
TEST(SharedListings, LaterWalkSeesTheTreeAsItIs)
{
    TempDir dir;
    for (const char* path : {"a.txt", "Keep/b.txt", "Keep/Deep/c.txt", "Swap/old.txt", "Gone/d.txt"})
        WriteFileBytes(dir / path, "x");
    // Listed long ago: any change below makes a folder's time differ.
    const auto longAgo = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 365);
    for (const char* folder : {"", "Keep", "Keep/Deep", "Swap", "Gone"})
        std::filesystem::last_write_time(dir / folder, longAgo);

    TreeEnumerator::Listings listings;
    FileLog first{Folder(dir.Loc())};
    first.ShareListings(&listings);
    ASSERT_EQ(first.Do(), 0);
    EXPECT_EQ(first.files, PlainWalk(dir));

    WriteFileBytes(dir / "Keep/Deep/e.txt", "x");
    std::filesystem::remove_all(dir / "Swap");
    WriteFileBytes(dir / "Swap/new.txt", "x");
    std::filesystem::remove_all(dir / "Gone");

    FileLog second{Folder(dir.Loc())};
    second.ShareListings(&listings);
    ASSERT_EQ(second.Do(), 0);
    const std::vector<std::string> expected = {dir / "Keep/Deep/c.txt", dir / "Keep/Deep/e.txt", dir / "Keep/b.txt",
                                               dir / "Swap/new.txt", dir / "a.txt"};
    EXPECT_EQ(second.files, expected);
    EXPECT_EQ(second.GetSkippedCount(), 0u);
}
