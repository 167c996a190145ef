#include "IOTestSupport.hpp"

using namespace IO;
using namespace IOTest;

namespace {

// Records every callback as text, with switches for the answers.
class Recorder : public IO::TreeEnumerator {
public:
    using IO::TreeEnumerator::TreeEnumerator;

    std::vector<std::string> log;
    std::string stopAtFile;
    bool followLinks = false;
    std::uint32_t depth = 0;
    std::uint32_t maxDepth = 0;

protected:
    bool EntryFound(const Name& name, bool isFolder) override
    {
        log.push_back("entry " + name.Std() + (isFolder ? "/" : ""));
        return true;
    }
    bool FileFound(const Name& name) override
    {
        log.push_back("file " + name.Std() + " in " + GetParent().GetLocation().GetText());
        return name.Std() == stopAtFile;
    }
    bool FolderFound(const Name& name) override
    {
        log.push_back("folder " + name.Std());
        return true;
    }
    bool LinkFound(const Name& name) override
    {
        log.push_back("link " + name.Std());
        return followLinks;
    }
    void FolderEntered(const Name& name, Folder& folder) override
    {
        log.push_back("enter " + name.Std());
        EXPECT_EQ(folder.GetLocation(), Location(GetParent().GetLocation(), name));
        maxDepth = std::max(maxDepth, ++depth);
    }
    void FolderExited(const Name& name, Folder&) override
    {
        log.push_back("exit " + name.Std());
        --depth;
    }
};

}  // namespace

// The order of a walk (depth first, names in byte order, mounted archives
// entered as folders) decides which of two duplicates the library set
// reports first, and its tests of duplicates and the library tests pin it.
// Skipping an entry is reached by the library set's enumerations.
TEST(TreeEnumerator, LinksAreFollowedOnlyWhenAskedLoopsAndDepthEnd)
{
    TempDir dir;
    WriteFileBytes(dir / "root/a/file", "");
    WriteFileBytes(dir / "root/a/b/leaf", "");
    std::filesystem::create_directory_symlink(dir / "root", dir / "root/a/up");
    std::filesystem::create_directory_symlink("b", dir / "root/a/b2");  // a link into b: not a loop
    std::filesystem::create_symlink(dir / "nowhere", dir / "root/dangling");

    Recorder walk{Folder(Location(dir / "root"))};
    ASSERT_EQ(walk.Do(), 0);
    const auto isLink = [](const std::string& line) { return line.rfind("link ", 0) == 0; };
    EXPECT_EQ(std::count_if(walk.log.begin(), walk.log.end(), isLink), 3);
    // A file that stops the walk ends it at once.
    walk.stopAtFile = "leaf";
    ASSERT_EQ(walk.Do(), 0);
    EXPECT_TRUE(walk.IsStopped());
    EXPECT_EQ(walk.log.back(), "file leaf in " + dir / "root/a/b");
    walk.stopAtFile.clear();
    // Followed, a link into a folder is entered, and one back up ends the
    // walk there.
    std::filesystem::remove(dir / "root/dangling");
    walk.followLinks = true;
    walk.log.clear();
    ASSERT_EQ(walk.Do(), 0);
    std::vector<std::string> entered;
    for (const std::string& line : walk.log)
        if (line.rfind("enter ", 0) == 0)
            entered.push_back(line);
    EXPECT_EQ(entered, (std::vector<std::string>{"enter a", "enter b", "enter b2"}));

    // A tree deeper than the bound is walked down to it.
    std::string path = dir / "deep";
    for (std::uint32_t i = 0; i < IO::TreeEnumerator::MaxDepth + 3; ++i)
        path += "/d";
    std::filesystem::create_directories(path);
    Recorder deep{Folder(Location(dir / "deep"))};
    ASSERT_EQ(deep.Do(), 0);
    EXPECT_EQ(deep.maxDepth, IO::TreeEnumerator::MaxDepth);
}
