#include "IOTestSupport.hpp"
#include "Support/Environment.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <regex>

using namespace IO;
using namespace IOTest;

// Content and links of a copied tree are checked by the fault sweep's
// successful run; the synchronisation's model test relies on the times a
// copy keeps.
TEST(FileSystemCopy, RefusesWhatCannotBeCopied)
{
    TempDir dir;
    WriteFileBytes(dir / "f", "f");
    WriteFileBytes(dir / "g", "g");
    WriteFileBytes(dir / "folder/x", "x");
    EXPECT_EQ(IO::fileSystem.Copy(Location(dir / "f"), Location(dir / "g")), IO::ErrAlreadyExists);
    EXPECT_EQ(ReadFileBytes(dir / "g"), "g");
    EXPECT_EQ(IO::fileSystem.Copy(Location(dir / "folder"), Location(dir / "folder/inside")), KR::ErrIllegalArgument);
    EXPECT_EQ(NamesIn(dir.Path()), (std::vector<std::string>{"f", "folder", "g"}));

    // A destination whose scratch name would be too long for the system.
    std::string deep = dir.Path();
    while (deep.size() < 3900)
        deep += "/" + std::string(200, 'd');
    std::filesystem::create_directories(deep);
    EXPECT_EQ(IO::fileSystem.Copy(Location(dir / "f"), Location(deep + "/" + std::string(150, 'n'))), IO::ErrSystem);
}

TEST(FileSystemCopy, OutOfAMountAndFailureLeavesNothing)
{
    TempDir dir;
    const std::int64_t when = IOTest::UtcTime(2017, 4, 5, 6, 7, 8);
    IOTest::MakeZip(dir / "lib.zip", {{"Sub/a.gsm", "aaa", when},
                                      {"Sub/b.gsm", "BROKEN-BYTES", when, false, true},
                                      {"Good/c.gsm", "ccc", when}});
    IOTest::PatchFile(dir / "lib.zip", "BROKEN-BYTES", "BROKEN-BYTEZ");
    const std::string mount = dir / "lib.zip";
    IOTest::MountedZip mounted(mount, mount);
    ASSERT_NE(mounted.Get(), nullptr);
    std::filesystem::create_directory(dir / "out");

    ASSERT_EQ(IO::fileSystem.Copy(Location(mount + "/Good"), Location(dir / "out/Good")), 0);
    EXPECT_EQ(ReadFileBytes(dir / "out/Good/c.gsm"), "ccc");
    EXPECT_EQ(UnixTimeOf(dir / "out/Good/c.gsm"), when);

    // The damaged entry fails the folder copy half way, and a missing entry
    // fails at once: nothing remains of either.
    EXPECT_EQ(IO::fileSystem.Copy(Location(mount + "/Sub"), Location(dir / "out/Sub")), IO::ErrDamagedArchive);
    EXPECT_EQ(IO::fileSystem.Copy(Location(mount + "/none"), Location(dir / "out/none")), IO::ErrNotFound);
    EXPECT_EQ(NamesIn(dir / "out"), (std::vector<std::string>{"Good"}));

    // At the mount point the entry is the container file itself.
    ASSERT_EQ(IO::fileSystem.Copy(Location(mount), Location(dir / "out/copy.zip")), 0);
    EXPECT_EQ(ReadFileBytes(dir / "out/copy.zip"), ReadFileBytes(mount));
}

// A second entry of one name in the trash gets a name of its own: the
// synchronisation's deletions reach that.
TEST(FileSystemDelete, MoveToTrashWritesInfoFile)
{
    TempDir dir;
    ScopedEnv home("XDG_DATA_HOME", dir / "data");
    WriteFileBytes(dir / "lib/my part.gsm", "first");
    const Location part(dir / "lib/my part.gsm");
    ASSERT_EQ(IO::fileSystem.Delete(part, IO::DataSafety::MoveToTrash), 0);
    EXPECT_EQ(ReadFileBytes(dir / "data/Trash/files/my part.gsm"), "first");

    const std::string info = ReadFileBytes(dir / "data/Trash/info/my part.gsm.trashinfo");
    const std::regex form("\\[Trash Info\\]\nPath=(.*)\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(info, match, form)) << info;
    KR::String url;
    ASSERT_EQ(part.ToURL(&url), 0);
    EXPECT_EQ("file://" + match[1].str(), url.Std());  // the path, percent-encoded
}

TEST(FileSystemDelete, MoveToTrashAcrossFileSystemsCopiesThenDeletes)
{
    struct stat tmp {};
    struct stat shm {};
    if (::stat("/tmp", &tmp) != 0 || ::stat("/dev/shm", &shm) != 0 || tmp.st_dev == shm.st_dev ||
        ::access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no second file system to move to";
    TempDir dir("/tmp");
    TempDir other("/dev/shm");
    ScopedEnv home("XDG_DATA_HOME", other.Path());
    WriteFileBytes(dir / "lib/Folder/part.gsm", "content");
    std::filesystem::create_symlink("part.gsm", dir / "lib/Folder/link");
    IOTest::SetUnixTime(dir / "lib/Folder/part.gsm", 1300000000);

    ASSERT_EQ(IO::fileSystem.Delete(Location(dir / "lib/Folder"), IO::DataSafety::MoveToTrash), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "lib/Folder"));
    EXPECT_EQ(UnixTimeOf(other / "Trash/files/Folder/part.gsm"), 1300000000);
    EXPECT_TRUE(std::filesystem::exists(other / "Trash/info/Folder.trashinfo"));
}

TEST(FileSystemDelete, WithoutUsableTrashNothingIsDeleted)
{
    TempDir dir;
    WriteFileBytes(dir / "blocker", "a file where the data folder should be");
    ScopedEnv home("XDG_DATA_HOME", dir / "blocker/data");
    WriteFileBytes(dir / "keep.txt", "keep");
    EXPECT_EQ(IO::fileSystem.Delete(Location(dir / "keep.txt"), IO::DataSafety::MoveToTrash), IO::ErrNoTrash);
    EXPECT_EQ(ReadFileBytes(dir / "keep.txt"), "keep");
    EXPECT_EQ(IO::fileSystem.Delete(Location(dir / "none"), IO::DataSafety::MoveToTrash), IO::ErrNotFound);
}
