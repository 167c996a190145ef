#include "IOTestSupport.hpp"
#include "Support/Environment.hpp"
#include "Support/FaultPlatform.hpp"

#include <utility>

using namespace IO;
using namespace IOTest;

namespace {

std::vector<std::string> ListNames(const IO::FixedVFS& vfs, const char* path)
{
    std::vector<IO::FixedVFS::FolderEntry> entries;
    EXPECT_EQ(vfs.ListFolder(RelativeLocation(path), &entries), 0) << path;
    std::vector<std::string> names;
    for (const auto& entry : entries)
        names.push_back(entry.name.Std() + (entry.isFolder ? "/" : ""));
    return names;
}

std::unique_ptr<ZipVFS> OpenZip(const std::string& path, KR::ErrorCode expected = 0)
{
    KR::ErrorCode err = -1;
    std::unique_ptr<ZipVFS> vfs = ZipVFS::Open(Location(path), &err);
    EXPECT_EQ(err, expected) << path;
    EXPECT_EQ(vfs == nullptr, expected != 0);
    return vfs;
}

}  // namespace

TEST(ZipVFS, TreeWithImpliedFoldersAndTimes)
{
    // Times stored as calendar fields must be read as UTC, not as local time.
    const TestSupport::ScopedEnv zone("TZ", "EST5EDT,M3.2.0,M11.1.0", ::tzset);  // a rule: no zone database needed
    TempDir dir;
    const std::int64_t older = UtcTime(2019, 1, 2, 3, 4, 6);
    const std::int64_t newer = UtcTime(2021, 7, 8, 9, 10, 12);
    const std::int64_t exact = UtcTime(2022, 2, 3, 4, 5, 7);  // odd second: only the extended field keeps it
    IOTest::MakeZip(dir / "a.zip", {{"lib/a.txt", "alpha", older},
                                    {"lib/sub/b.gsm", "beta", newer},
                                    {"empty/", "", older},
                                    {"top.txt", std::string(100000, 'x'), exact, true},
                                    {"./dot//x.txt", "x", older}});
    const auto vfs = OpenZip(dir / "a.zip");
    ASSERT_NE(vfs, nullptr);
    EXPECT_EQ(vfs->GetRefusedCount(), 0u);
    EXPECT_EQ(ListNames(*vfs, ""), (std::vector<std::string>{"dot/", "empty/", "lib/", "top.txt"}));
    EXPECT_EQ(ListNames(*vfs, "lib"), (std::vector<std::string>{"a.txt", "sub/"}));

    IO::FixedVFS::EntryInfo info;
    ASSERT_EQ(vfs->GetInfo(RelativeLocation("lib/a.txt"), &info), 0);
    EXPECT_EQ(info.size, 5u);
    EXPECT_EQ(info.modificationTime, KR::DateTimeManager::FromUnixTime(older));  // DOS fields read as UTC
    ASSERT_EQ(vfs->GetInfo(RelativeLocation("top.txt"), &info), 0);
    EXPECT_EQ(info.modificationTime, KR::DateTimeManager::FromUnixTime(exact));
    ASSERT_EQ(vfs->GetInfo(RelativeLocation("lib"), &info), 0);
    EXPECT_EQ(info.modificationTime, KR::DateTimeManager::FromUnixTime(newer));  // newest below an implied folder
    EXPECT_EQ(vfs->GetInfo(RelativeLocation("lib/none"), &info), IO::ErrNotFound);

    std::string content;
    ASSERT_EQ(vfs->ReadFile(RelativeLocation("lib/sub/b.gsm"), &content, 100), 0);
    EXPECT_EQ(content, "beta");
    ASSERT_EQ(vfs->ReadFile(RelativeLocation("top.txt"), &content, 100000), 0);
    EXPECT_EQ(content, std::string(100000, 'x'));
    EXPECT_EQ(vfs->ReadFile(RelativeLocation("top.txt"), &content, 99999), IO::ErrTooLarge);
}

// Entries whose names climb out, clash or are links are refused: the zip
// fuzz replay seeds such names and checks every name it lists; the archive
// below holds a name with a backslash.
// One archive for each error of opening or reading an entry; the fuzz
// replay covers damaged archives at large.
TEST(ZipVFS, DamagedArchivesAndEntriesThatCannotBeDecodedGiveErrors)
{
    TempDir dir;
    IOTest::WriteFileBytes(dir / "garbage.zip", std::string(5000, 'G'));
    OpenZip(dir / "garbage.zip", IO::ErrDamagedArchive);
    OpenZip(dir / "missing.zip", IO::ErrNotFound);

    // A stored entry whose bytes changed fails its CRC, one whose method
    // (98, PPMd) this reader cannot decode is not supported; the others
    // stay readable.
    IOTest::MakeZip(dir / "a.zip", {{"crc.txt", "STORED-CONTENT-HERE", UtcTime(2020, 1, 1, 0, 0, 0), false, true},
                                    {"odd.txt", "ODD-ENTRY-DATA", UtcTime(2020, 1, 1, 0, 0, 0), false, true},
                                    {"good.txt", "fine"},
                                    {"a\\b.txt", "a name with a backslash is refused"}});
    IOTest::PatchFile(dir / "a.zip", "CONTENT", "CONTEXT");
    std::string bytes = IOTest::ReadFileBytes(dir / "a.zip");
    const std::size_t local = bytes.find("PK\x03\x04", 1);  // the second entry's local header
    const std::size_t central = bytes.find("PK\x01\x02");
    bytes[local + 8] = bytes.at(bytes.find("PK\x01\x02", central + 1) + 10) = 98;
    IOTest::WriteFileBytes(dir / "a.zip", bytes);
    const auto vfs = OpenZip(dir / "a.zip");
    ASSERT_NE(vfs, nullptr);
    EXPECT_EQ(vfs->GetRefusedCount(), 1u);
    for (const auto& [name, error] : {std::pair{"crc.txt", IO::ErrDamagedArchive}, {"odd.txt", IO::ErrNotSupported}}) {
        std::string content = "untouched";
        EXPECT_EQ(vfs->ReadFile(RelativeLocation(name), &content, 1000), error) << name;
        EXPECT_EQ(content, "untouched");
    }
    std::string good;
    EXPECT_EQ(vfs->ReadFile(RelativeLocation("good.txt"), &good, 1000), 0);
    EXPECT_EQ(good, "fine");
}

// A mounted zip is a folder for Folder and the container file for File,
// and refuses every write. (Reading part files from mounted archives, and
// archives inside them, is the library tests' daily bread.)
TEST(ZipVFS, MountedZipsAreReadOnlyFoldersAndTheirContainerFiles)
{
    TempDir dir;
    IOTest::MakeZip(dir / "lib.zip", {{"Doors/door.gsm", "door data"}});
    const std::string mount = dir / "lib.zip";
    IOTest::MountedZip mounted(mount, mount);
    ASSERT_NE(mounted.Get(), nullptr);
    EXPECT_FALSE(Folder{Location(mount)}.IsWriteable());
    std::int64_t size = 0;
    ASSERT_EQ(File(Location(mount)).GetSize(&size), 0);
    EXPECT_EQ(size, static_cast<std::int64_t>(std::filesystem::file_size(mount)));
    EXPECT_EQ(File(Location(mount + "/Doors")).GetStatus(), IO::ErrNotAFile);
    EXPECT_EQ(File(Location(mount + "/Doors/door.gsm")).Open(IO::OpenMode::ReadWrite), IO::ErrReadOnly);
    EXPECT_EQ(File(Location(mount + "/new.gsm"), IO::OnNotFound::Create).GetStatus(), IO::ErrReadOnly);
    EXPECT_EQ(Folder(Location(mount + "/Doors")).Delete(Name("door.gsm"), IO::DataSafety::DeleteNow), IO::ErrReadOnly);
}

TEST(ZipVFS, FailedSystemCallsGiveErrorsAndLeakNoDescriptor)
{
    using TestSupport::Call;
    TempDir dir;
    const std::string data(20000, 'd');
    IOTest::MakeZip(dir / "a.zip", {{"a.txt", data}, {"b.txt", "b"}});
    // Mounts the archive and reads one entry: the archive's bytes come
    // through the platform both while mounting and while reading.
    auto mountAndRead = [&] {
        KR::ErrorCode err = 0;
        const auto vfs = ZipVFS::Open(Location(dir / "a.zip"), &err);
        std::string content;
        if (vfs != nullptr && (err = vfs->ReadFile(RelativeLocation("a.txt"), &content, data.size())) == 0) {
            EXPECT_EQ(content, data);
        }
        return err;
    };
    TestSupport::FaultPlatform faults;
    const std::size_t descriptors = TestSupport::OpenDescriptorCount();
    for (const Call kind : {Call::Open, Call::Stat, Call::Read, Call::Close}) {
        faults.Clear();
        mountAndRead();
        const std::uint64_t calls = faults.Calls(kind);
        ASSERT_GT(calls, 0u);
        for (std::uint64_t n = 1; n <= calls; ++n) {
            faults.FailNth(kind, n, EIO);
            const KR::ErrorCode err = mountAndRead();
            // A failed close still releases the descriptor; nothing is lost.
            if (kind != Call::Close) {
                EXPECT_EQ(err, IO::ErrSystem) << "call " << n << " of kind " << static_cast<int>(kind);
            }
            EXPECT_EQ(TestSupport::OpenDescriptorCount(), descriptors) << "call " << n;
        }
    }
}
