// A copy over a file written beside it and renamed once, and the removal of
// scratch copies that their writers abandoned.
#include "IOTestSupport.hpp"

#include "IO/Replace.hpp"
#include "Support/FaultPlatform.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

using namespace IOTest;
using TestSupport::FaultPlatform;
using TestSupport::OpenDescriptorCount;
using TestSupport::SweepFaults;

TEST(ReplaceFileWithCopy, EveryFailingCallLeavesTheOldFileAndNoScratch)
{
    TempDir dir;
    WriteFileBytes(dir / "from", Pattern(70000, 3));
    SetUnixTime(dir / "from", 1'600'000'000);
    const std::size_t descriptors = OpenDescriptorCount();
    FaultPlatform faults;
    WriteFileBytes(dir / "to", "old");
    ASSERT_EQ(IO::ReplaceFileWithCopy(dir / "from", dir / "to", "sync"), KR::NoError);
    // The copy is flushed once, then the folder.
    EXPECT_EQ(faults.Calls(TestSupport::Call::FSync), 2u);
    // The sweep also fails the lock on the scratch copy: the copy goes on unprotected.
    EXPECT_EQ(faults.Calls(TestSupport::Call::Flock), 1u);
    int failures = 0;
    const std::uint64_t calls = SweepFaults(faults, EIO, [&](std::uint64_t n) {
        WriteFileBytes(dir / "to", "old");
        const KR::ErrorCode err = IO::ReplaceFileWithCopy(dir / "from", dir / "to", "sync");
        EXPECT_EQ(OpenDescriptorCount(), descriptors) << "call " << n;
        EXPECT_EQ(NamesIn(dir.Path()), (std::vector<std::string>{"from", "to"})) << "call " << n;
        if (err != KR::NoError) {
            ++failures;
            EXPECT_EQ(ReadFileBytes(dir / "to"), "old") << "call " << n;
            return;
        }
        EXPECT_EQ(ReadFileBytes(dir / "to"), Pattern(70000, 3)) << "call " << n;
        EXPECT_EQ(std::filesystem::last_write_time(dir / "to"), std::filesystem::last_write_time(dir / "from"));
    });
    EXPECT_GT(failures, static_cast<int>(calls) / 2);

    // Only a file is copied, and only a file is replaced.
    dir.MakeFolder("folder");
    EXPECT_EQ(IO::ReplaceFileWithCopy(dir / "folder", dir / "to", "sync"), IO::ErrNotAFile);
    EXPECT_EQ(IO::ReplaceFileWithCopy(dir / "from", dir / "folder", "sync"), IO::ErrNotAFile);
    EXPECT_EQ(NamesIn(dir.Path()), (std::vector<std::string>{"folder", "from", "to"}));
}

TEST(ScratchCopies, OnlyAbandonedOnesOfOurNamesAreRemoved)
{
    for (const char* name : {".a.copy-AbC123", ".part.lpf.sync-zzzzzz"})
        EXPECT_TRUE(IO::IsScratchName(name)) << name;
    for (const char* name : {"..copy-AbC123", ".a.copy-AbC12", "a.copy-AbC123", ".a.scratch-AbC123", ".a.copyXAbC123"})
        EXPECT_FALSE(IO::IsScratchName(name)) << name;

    TempDir dir;
    WriteFileBytes(dir / ".file.copy-AAAAAA", "partial");
    WriteFileBytes(dir / ".folder.copy-BBBBBB/inner/file", "partial");
    // A writer at work holds its scratch copy; the lock ends with its descriptor.
    const int writer = ::open((dir / ".file.copy-AAAAAA").c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::flock(writer, LOCK_EX), 0);
    EXPECT_EQ(IO::RemoveAbandonedScratch(dir / ".file.copy-AAAAAA"), IO::ErrAlreadyOpen);
    EXPECT_EQ(ReadFileBytes(dir / ".file.copy-AAAAAA"), "partial");
    ::close(writer);
    {
        // Where the lock cannot be taken, the entry stays.
        FaultPlatform faults;
        faults.FailNth(TestSupport::Call::Flock, 1, ENOLCK);
        EXPECT_NE(IO::RemoveAbandonedScratch(dir / ".file.copy-AAAAAA"), KR::NoError);
        EXPECT_EQ(ReadFileBytes(dir / ".file.copy-AAAAAA"), "partial");
    }
    EXPECT_EQ(IO::RemoveAbandonedScratch(dir / ".file.copy-AAAAAA"), KR::NoError);
    EXPECT_EQ(IO::RemoveAbandonedScratch(dir / ".folder.copy-BBBBBB"), KR::NoError);
    EXPECT_TRUE(NamesIn(dir.Path()).empty());
}

}  // namespace
