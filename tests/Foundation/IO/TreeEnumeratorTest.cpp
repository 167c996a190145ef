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
    std::string skipEntry;
    bool followLinks = false;
    std::uint32_t depth = 0;
    std::uint32_t maxDepth = 0;

protected:
    bool EntryFound(const Name& name, bool isFolder) override
    {
        log.push_back("entry " + name.Std() + (isFolder ? "/" : ""));
        return name.Std() != skipEntry;
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

TEST(TreeEnumerator, WalkOrderIsDepthFirstInByteOrder)
{
    TempDir dir;
    WriteFileBytes(dir / "b.txt", "");
    WriteFileBytes(dir / "A/z.txt", "");
    WriteFileBytes(dir / "A/Sub/x.txt", "");
    WriteFileBytes(dir / "a.txt", "");
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
                            "entry a.txt", "file a.txt in " + root,
                            "entry b.txt", "file b.txt in " + root,
                        }));
    EXPECT_EQ(walk.GetParent().GetLocation(), Location(root));  // the root outside the walk
}

TEST(TreeEnumerator, EntryFoundFalseAndStop)
{
    TempDir dir;
    WriteFileBytes(dir / "A/one", "");
    WriteFileBytes(dir / "A/two", "");
    WriteFileBytes(dir / "B/three", "");
    Recorder walk{Folder(Location(dir.Path()))};
    walk.skipEntry = "B";
    walk.stopAtFile = "one";
    ASSERT_EQ(walk.Do(), 0);
    EXPECT_TRUE(walk.IsStopped());
    // Nothing follows the stop: no further entries, no FolderExited.
    EXPECT_EQ(walk.log.back(), "file one in " + dir / "A");
    EXPECT_EQ(std::count(walk.log.begin(), walk.log.end(), "exit A"), 0);

    walk.stopAtFile.clear();
    walk.log.clear();
    ASSERT_EQ(walk.Do(), 0);  // a new walk starts afresh
    EXPECT_FALSE(walk.IsStopped());
    EXPECT_NE(std::find(walk.log.begin(), walk.log.end(), "entry B/"), walk.log.end());
    EXPECT_EQ(std::find(walk.log.begin(), walk.log.end(), "folder B"), walk.log.end());  // skipped
}

TEST(TreeEnumerator, LinksAreFollowedOnlyWhenAskedLoopsAndDepthEnd)
{
    TempDir dir;
    WriteFileBytes(dir / "real/inside.txt", "");
    std::filesystem::create_directory(dir / "tree");
    std::filesystem::create_directory_symlink(dir / "real", dir / "tree/dirLink");
    std::filesystem::create_symlink(dir / "real/inside.txt", dir / "tree/fileLink");
    std::filesystem::create_symlink(dir / "nowhere", dir / "tree/dangling");

    Recorder walk{Folder(Location(dir / "tree"))};
    ASSERT_EQ(walk.Do(), 0);
    EXPECT_EQ(walk.log, (std::vector<std::string>{"entry dangling", "link dangling", "entry dirLink/", "link dirLink",
                                                  "entry fileLink", "link fileLink"}));

    // Followed, a link into a folder is entered, and one back up ends the
    // walk there.
    WriteFileBytes(dir / "root/a/file", "");
    std::filesystem::create_directory_symlink(dir / "root", dir / "root/a/up");
    std::filesystem::create_directory_symlink("b", dir / "root/a/b2");  // a link into b: not a loop
    WriteFileBytes(dir / "root/a/b/leaf", "");

    Recorder loop{Folder(Location(dir / "root"))};
    loop.followLinks = true;
    ASSERT_EQ(loop.Do(), 0);
    std::vector<std::string> entered;
    for (const std::string& line : loop.log)
        if (line.rfind("enter ", 0) == 0)
            entered.push_back(line);
    EXPECT_EQ(entered, (std::vector<std::string>{"enter a", "enter b", "enter b2"}));
    EXPECT_EQ(loop.depth, 0u);

    // A tree deeper than the bound is walked down to it.
    std::string path = dir / "deep";
    for (std::uint32_t i = 0; i < IO::TreeEnumerator::MaxDepth + 3; ++i)
        path += "/d";
    std::filesystem::create_directories(path);
    Recorder deep{Folder(Location(dir / "deep"))};
    ASSERT_EQ(deep.Do(), 0);
    EXPECT_EQ(deep.maxDepth, IO::TreeEnumerator::MaxDepth);
}

TEST(TreeEnumerator, MountPointsAreFoldersEnteredThroughTheirFileSystem)
{
    TempDir dir;
    IOTest::MakeZip(dir / "lib/parts.zip", {{"Doors/door.gsm", "door"}, {"window.gsm", "w"}});
    WriteFileBytes(dir / "lib/loose.gsm", "");
    IOTest::MountedZip mounted(dir / "lib/parts.zip", dir / "lib/parts.zip");
    ASSERT_NE(mounted.Get(), nullptr);

    Recorder walk{Folder(Location(dir / "lib"))};
    ASSERT_EQ(walk.Do(), 0);
    const std::string zip = dir / "lib/parts.zip";
    EXPECT_EQ(walk.log, (std::vector<std::string>{"entry loose.gsm", "file loose.gsm in " + dir / "lib",
                                                  "entry parts.zip/", "folder parts.zip", "enter parts.zip",
                                                  "entry Doors/", "folder Doors", "enter Doors", "entry door.gsm",
                                                  "file door.gsm in " + zip + "/Doors", "exit Doors",
                                                  "entry window.gsm", "file window.gsm in " + zip,
                                                  "exit parts.zip"}));

    // A walk rooted inside the mount.
    Recorder inner{Folder(Location(zip + "/Doors"))};
    ASSERT_EQ(inner.Do(), 0);
    EXPECT_EQ(inner.log, (std::vector<std::string>{"entry door.gsm", "file door.gsm in " + zip + "/Doors"}));
}
