#include "IOTestSupport.hpp"

using namespace IO;
using namespace IOTest;

namespace {

// Records every callback as text, with switches for the answers.
class Recorder : public IO::TreeEnumerator {
public:
    using IO::TreeEnumerator::TreeEnumerator;

    std::vector<std::string> log;
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
        return false;
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

// A mount point is a folder entered through its own file system.
TEST(TreeEnumerator, WalkOrderIsDepthFirstInByteOrderAndEntersMounts)
{
    TempDir dir;
    WriteFileBytes(dir / "b.txt", "");
    WriteFileBytes(dir / "A/z.txt", "");
    WriteFileBytes(dir / "A/Sub/x.txt", "");
    IOTest::MakeZip(dir / "a.zip", {{"Doors/door.gsm", "door"}});
    IOTest::MountedZip mounted(dir / "a.zip", dir / "a.zip");
    ASSERT_NE(mounted.Get(), nullptr);
    Recorder walk{Folder(Location(dir.Path()))};
    ASSERT_EQ(walk.Do(), 0);
    const std::string root = dir.Path();
    EXPECT_EQ(walk.log, (std::vector<std::string>{
                            "entry A/", "folder A", "enter A",
                            "entry Sub/", "folder Sub", "enter Sub",
                            "entry x.txt", "file x.txt in " + root + "/A/Sub",
                            "exit Sub",
                            "entry z.txt", "file z.txt in " + root + "/A",
                            "exit A",
                            "entry a.zip/", "folder a.zip", "enter a.zip",
                            "entry Doors/", "folder Doors", "enter Doors",
                            "entry door.gsm", "file door.gsm in " + root + "/a.zip/Doors",
                            "exit Doors", "exit a.zip",
                            "entry b.txt", "file b.txt in " + root,
                        }));
    EXPECT_EQ(walk.GetParent().GetLocation(), Location(root));  // the root outside the walk
}

// Skipping an entry and stopping a walk are reached by the library set's
// enumerations (a cancelled walk, a library folder left out).
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
