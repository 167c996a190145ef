#include "IOTestSupport.hpp"

#include <unistd.h>

#include <random>

using namespace IO;
using namespace IOTest;

TEST(Folder, StatusCreationListingAndDeletionWithoutFollowingLinks)
{
    TempDir dir;
    EXPECT_EQ(Folder(Location(dir / "missing")).GetStatus(), IO::ErrNotFound);
    EXPECT_EQ(Folder(Location("http://h/x")).GetStatus(), IO::ErrNotLocal);
    WriteFileBytes(dir / "file", "x");
    EXPECT_EQ(Folder(Location(dir / "file/below"), OnNotFound::Create).GetStatus(), IO::ErrNotAFolder);
    EXPECT_TRUE(Folder(Location(dir / "p/q/r"), OnNotFound::Create).IsWriteable());

    // CreateFolder reports what is there, also when it was there already.
    Folder folder{Location(dir.Path())};
    IO::FolderEntry made;
    ASSERT_EQ(folder.CreateFolder(Name("p/q/s"), &made), IO::ErrBadName);
    EXPECT_EQ(folder.CreateFolder(Name("p"), &made), IO::ErrAlreadyExists);
    EXPECT_EQ(made.location, Location(dir / "p"));

    // Listed in byte order, links to folders are folders.
    for (const char* name : {"b", "B", "_", "\xC3\xA4"})
        WriteFileBytes(dir / (std::string("p/q/") + name), name);
    std::filesystem::create_directory_symlink(dir / "p/q/r", dir / "p/q/linkToDir");
    std::vector<IO::FolderEntry> entries = {IO::FolderEntry{}};  // replaced, not appended to
    ASSERT_EQ(Folder(Location(dir / "p/q")).List(&entries), 0);
    std::string names;
    for (const IO::FolderEntry& entry : entries)
        names += entry.name.Std() + (entry.isFolder ? "/ " : " ");
    EXPECT_EQ(names, "B _ b linkToDir/ r/ \xC3\xA4 ");
    bool isFolder = false;
    EXPECT_TRUE(Folder(Location(dir / "p/q")).Contains(Name("linkToDir"), &isFolder));
    EXPECT_TRUE(isFolder);

    // Deleting a tree removes links, never what they point to.
    WriteFileBytes(dir / "keep/precious", "data");
    std::filesystem::create_directory_symlink(dir / "keep", dir / "p/q/linkToKeep");
    std::filesystem::create_symlink(dir / "keep/precious", dir / "p/fileLink");
    ASSERT_EQ(folder.Delete(Name("p"), IO::DataSafety::DeleteNow), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "p"));
    EXPECT_EQ(ReadFileBytes(dir / "keep/precious"), "data");
    EXPECT_EQ(folder.Delete(Name("."), IO::DataSafety::DeleteNow), IO::ErrBadName);
}

TEST(File, StatusAndOpenErrors)
{
    TempDir dir;
    WriteFileBytes(dir / "f", "abc");
    EXPECT_EQ(File(Location(dir / "none")).GetStatus(), IO::ErrNotFound);
    EXPECT_EQ(File(Location("ftp://h/x")).GetStatus(), IO::ErrNotLocal);
    EXPECT_EQ(File(Location(dir.Path())).Open(OpenMode::WriteNew), IO::ErrNotAFile);

    File file{Location(dir / "f")};
    char byte = 0;
    EXPECT_EQ(file.ReadBin(&byte, 1), IO::ErrNotOpen);
    EXPECT_EQ(file.Close(), IO::ErrNotOpen);
    ASSERT_EQ(file.Open(OpenMode::Read), 0);
    EXPECT_EQ(file.Open(OpenMode::Read), IO::ErrAlreadyOpen);
    EXPECT_EQ(file.WriteBin("x", 1), IO::ErrWrongOpenMode);
    EXPECT_EQ(file.Close(), 0);
    ASSERT_EQ(file.Open(OpenMode::WriteNew), 0);  // replaces the content
    EXPECT_EQ(file.ReadBin(&byte, 1), IO::ErrWrongOpenMode);
    ASSERT_EQ(file.Close(), 0);
    EXPECT_EQ(ReadFileBytes(dir / "f"), "");

    // Create makes an empty file where there is none, and keeps one that is there.
    EXPECT_EQ(File(Location(dir / "new.dat"), OnNotFound::Create).GetStatus(), 0);
    EXPECT_TRUE(std::filesystem::is_regular_file(dir / "new.dat"));
    EXPECT_EQ(File(Location(dir / "none/new.dat"), OnNotFound::Create).GetStatus(), IO::ErrNotFound);
    WriteFileBytes(dir / "old.dat", "0123456789");
    EXPECT_EQ(File(Location(dir / "old.dat"), OnNotFound::Create).GetStatus(), 0);
    EXPECT_EQ(ReadFileBytes(dir / "old.dat"), "0123456789");
}

// Random reads, writes and moves of every size against a model of the
// content: the buffer must never show stale bytes nor lose written ones.
TEST(File, BufferedMixedAccessMatchesModel)
{
    TempDir dir;
    const std::string path = dir / "mixed";
    std::string model = Pattern(150000, 0);
    WriteFileBytes(path, model);
    std::mt19937 random(20240531);
    File file{Location(path)};
    ASSERT_EQ(file.Open(OpenMode::ReadWrite), 0);
    std::size_t position = 0;
    const std::size_t sizes[] = {1, 3, 17, 4095, 4096, 5000, 65535, 65536, 70000};
    for (unsigned step = 0; step < 600; ++step) {
        const std::size_t size = sizes[random() % std::size(sizes)];
        const unsigned action = random() % 3;
        if (action == 0) {
            position = random() % (model.size() + 10);
            ASSERT_EQ(file.SetPosition(static_cast<std::int64_t>(position)), 0);
        } else if (action == 1) {
            const std::string data = Pattern(size, step + 1);
            ASSERT_EQ(file.WriteBin(data.data(), size), 0);
            model.resize(std::max(model.size(), position + size), '\0');
            model.replace(position, size, data);
            position += size;
        } else {
            std::string data(size, '\0');
            std::size_t read = 0;
            const KR::ErrorCode err = file.ReadBin(data.data(), size, &read);
            const std::size_t expected = position < model.size() ? std::min(size, model.size() - position) : 0;
            ASSERT_EQ(read, expected) << "step " << step;
            ASSERT_EQ(err, expected < size ? KR::ErrEndOfChannel : 0);
            ASSERT_EQ(data.substr(0, read), model.substr(position, read)) << "step " << step;
            position += read;
        }
        std::int64_t reported = -1;
        ASSERT_EQ(file.GetPosition(&reported), 0);
        ASSERT_EQ(reported, static_cast<std::int64_t>(position));
    }
    std::int64_t size = 0;
    ASSERT_EQ(file.GetSize(&size), 0);
    EXPECT_EQ(size, static_cast<std::int64_t>(model.size()));
    ASSERT_EQ(file.Close(), 0);
    EXPECT_TRUE(ReadFileBytes(path) == model);
}

TEST(File, CloseReportsBufferedWriteFailure)
{
    if (::access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    File full{Location("/dev/full")};
    ASSERT_EQ(full.Open(OpenMode::WriteNew), 0);
    EXPECT_EQ(full.WriteBin("buffered", 8), 0);  // held in the buffer
    EXPECT_EQ(full.Close(), IO::ErrDiskFull);
}
