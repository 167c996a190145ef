#include "KRUtils/KRUtils.hpp"

#include "Support/FaultPlatform.hpp"
#include "Support/OneFileVFS.hpp"
#include "Support/TempDir.hpp"

#include "IO/FileSystem.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include <sys/stat.h>

namespace {

using TestSupport::NamesIn;
using TestSupport::ReadFileBytes;
using TestSupport::TempDir;
using TestSupport::WriteFileBytes;

// --- Progress ---------------------------------------------------------------

// Records the progress it is told of; answers break requests as set.
class RecordingSink : public KRUtils::IProgressSink {
public:
    std::string log;
    bool breakAnswer = false;

    void SetNextPhase(std::int16_t, std::int32_t total) override { log += "phase " + std::to_string(total) + ";"; }
    void SetValue(std::int32_t value) override { log += "value " + std::to_string(value) + ";"; }
    bool IsBreakRequested(bool) override
    {
        log += "break;";
        return breakAnswer;
    }
};

TEST(Progress, SilentByDefaultAndRoutedToTheInstalledSink)
{
    EXPECT_FALSE(TTBreak(true));  // the default never asks to cancel
    RecordingSink sink;
    KRUtils::IProgressSink* previous = KRUtils::SetProgressSink(&sink);
    EXPECT_EQ(KRUtils::GetProgressSink(), &sink);
    TTSetNextProcessPhase(0, 150);
    TTSetProcessValue(50);
    EXPECT_FALSE(TTBreak(true));
    sink.breakAnswer = true;
    EXPECT_TRUE(TTBreak(false));  // the sink's cancel reaches the caller
    // Back to the previous (silent) sink: the recorder hears nothing more.
    EXPECT_EQ(KRUtils::SetProgressSink(previous), &sink);
    EXPECT_FALSE(TTBreak(true));
    EXPECT_EQ(sink.log, "phase 150;value 50;break;break;");
}

// --- Scratch files --------------------------------------------------------------

KR::ErrorCode WriteText(IOUtil::ScratchFile& scratch, const std::string& text)
{
    KR::ErrorCode err = scratch.Open(IO::OpenMode::WriteNew);
    return err != KR::NoError ? err : scratch.WriteBin(text.data(), text.size());
}

TEST(ScratchFile, ReplacesTheTargetOnlyWhenMadePermanent)
{
    TempDir folder;
    const std::string target = folder / "data.bin";
    WriteFileBytes(target, "old content");
    ::chmod(target.c_str(), 0640);

    IOUtil::ScratchFile scratch{IO::Location(target)};
    ASSERT_EQ(WriteText(scratch, "new content, longer"), KR::NoError);
    ASSERT_EQ(scratch.Flush(), KR::NoError);
    // Until then the target is untouched and the scratch is a hidden sibling.
    EXPECT_EQ(ReadFileBytes(target), "old content");
    EXPECT_EQ(NamesIn(folder.Path()).at(0).substr(0, 18), ".data.bin.scratch-");

    ASSERT_EQ(scratch.MakePermanent(), KR::NoError);
    EXPECT_EQ(ReadFileBytes(target), "new content, longer");
    EXPECT_EQ(NamesIn(folder.Path()), std::vector<std::string>{"data.bin"});
    struct stat st {};
    ::stat(target.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // the replaced file's permissions
}

// Each scratch has a name of its own and the last made permanent wins. (An
// unfinished one is removed: every failing run of the fault sweep shows it.)
TEST(ScratchFile, ScratchesForOneTargetDoNotCollide)
{
    TempDir folder;
    const std::string target = folder / "new.txt";
    IOUtil::ScratchFile first{IO::Location(target)};
    IOUtil::ScratchFile second(IO::Folder(IO::Location(folder.Path())), IO::Name("new.txt"));
    EXPECT_NE(first.GetLocation(), second.GetLocation());
    ASSERT_EQ(WriteText(first, "first"), KR::NoError);
    ASSERT_EQ(WriteText(second, "second"), KR::NoError);
    ASSERT_EQ(first.MakePermanent(), KR::NoError);
    EXPECT_EQ(ReadFileBytes(target), "first");
    ASSERT_EQ(second.MakePermanent(), KR::NoError);
    EXPECT_EQ(ReadFileBytes(target), "second");
    EXPECT_EQ(NamesIn(folder.Path()), std::vector<std::string>{"new.txt"});
}

// Links, pipes and folders are refused by the replace helper, whose tests try
// each kind; a target in a mounted file system is refused before any write.
TEST(ScratchFile, ATargetInAMountIsRefused)
{
    TempDir folder;
    TestSupport::OneFileVFS vfs;  // an empty folder
    ASSERT_EQ(IO::fileSystem.Mount(vfs, IO::Location(folder / "mounted")), KR::NoError);
    IOUtil::ScratchFile intoMount{IO::Location(folder / "mounted/file")};
    EXPECT_EQ(intoMount.MakePermanent(), IO::ErrReadOnly);
    ASSERT_EQ(IO::fileSystem.Unmount(vfs), KR::NoError);
    EXPECT_TRUE(NamesIn(folder.Path()).empty());
}

// Whichever system call fails, from making the scratch file to the rename,
// the target keeps its old content whole, the scratch file goes and no
// descriptor stays open; when the operation reports success the new content
// is in place.
TEST(ScratchFile, EveryFailingCallLeavesTheOldFileWhole)
{
    TempDir folder;
    const std::string target = folder / "data.bin";
    const std::string oldContent = TestSupport::Pattern(100000, 1);
    const std::string newContent = TestSupport::Pattern(150000, 2);
    WriteFileBytes(target, oldContent);
    const std::size_t descriptors = TestSupport::OpenDescriptorCount();
    TestSupport::FaultPlatform faults;
    int failures = 0;
    const std::uint64_t calls = TestSupport::SweepFaults(faults, EIO, [&](std::uint64_t n) {
        KR::ErrorCode err = KR::NoError;
        {
            IOUtil::ScratchFile scratch{IO::Location(target)};
            err = scratch.GetStatus();
            if (err == KR::NoError)
                err = WriteText(scratch, newContent);
            if (err == KR::NoError)
                err = scratch.MakePermanent();
        }
        EXPECT_EQ(faults.Injected(), n > 0 ? 1u : 0u) << "call " << n;
        EXPECT_EQ(TestSupport::OpenDescriptorCount(), descriptors) << "call " << n;
        EXPECT_EQ(NamesIn(folder.Path()), std::vector<std::string>{"data.bin"}) << "call " << n;
        EXPECT_EQ(ReadFileBytes(target), err == KR::NoError ? newContent : oldContent) << "call " << n;
        failures += err != KR::NoError;
        WriteFileBytes(target, oldContent);
    });
    // Six calls may fail without harm: the empty scratch file's permissions
    // and first close, closing after the flush, and the flush of the folder
    // after the rename (open, fsync, close).
    EXPECT_GE(calls, 14u);
    EXPECT_GE(failures, static_cast<int>(calls) - 6) << "of " << calls;
}

// --- Resource file system -----------------------------------------------------

TEST(ResourceFileSystem, MountPointTable)
{
    const IO::Location point("/resources/lib");
    const IO::Location source("/opt/app/resources/lib");
    ASSERT_EQ(AddResourceFileSystemMountPoint(point, source), KR::NoError);
    EXPECT_EQ(GetResourceFileSystemLocationFromMountPoint(point), source);
    EXPECT_EQ(AddResourceFileSystemMountPoint(point, source), IO::ErrAlreadyMounted);
    ASSERT_EQ(RemoveResourceFileSystemMountPoint(point), KR::NoError);
    EXPECT_TRUE(GetResourceFileSystemLocationFromMountPoint(point).IsEmpty());
    EXPECT_EQ(RemoveResourceFileSystemMountPoint(point), IO::ErrNotMounted);
}

}  // namespace
