#include "KRUtils/KRUtils.hpp"

#include "Foundation/LPF/TempFolder.hpp"

#include "IO/FileSystem.hpp"
#include "IO/FixedVFS.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include <sys/stat.h>

namespace {

using testing_support::ReadFileBytes;
using testing_support::TempFolder;
using testing_support::WriteFileBytes;

// --- Progress ---------------------------------------------------------------

class RecordingSink : public KRUtils::IProgressSink {
public:
    std::vector<std::string> calls;
    bool breakAnswer = false;

    void BeginLong(bool c) override { calls.push_back("BeginLong " + std::to_string(c)); }
    void EndLong(bool c) override { calls.push_back("EndLong " + std::to_string(c)); }
    void InitProcessWindow(std::int16_t t, std::int16_t n, std::int32_t ticks) override
    {
        calls.push_back("Init " + std::to_string(t) + " " + std::to_string(n) + " " + std::to_string(ticks));
    }
    void SetNextPhase(std::int16_t t, std::int32_t total) override
    {
        calls.push_back("SetNextPhase " + std::to_string(t) + " " + std::to_string(total));
    }
    void BeginNextPhase(std::int16_t t, std::int32_t total) override
    {
        calls.push_back("BeginNextPhase " + std::to_string(t) + " " + std::to_string(total));
    }
    void SetPhaseString(const char* name) override
    {
        calls.push_back(std::string("Phase ") + (name != nullptr ? name : "(null)"));
    }
    void SetValue(std::int32_t v) override { calls.push_back("Value " + std::to_string(v)); }
    void EndPhase() override { calls.push_back("EndPhase"); }
    void CloseWindow() override { calls.push_back("Close"); }
    bool IsBreakRequested(bool check) override
    {
        calls.push_back("Break " + std::to_string(check));
        return breakAnswer;
    }
};

// Restores the default sink whatever a test does.
class Progress : public ::testing::Test {
protected:
    void TearDown() override { KRUtils::SetProgressSink(nullptr); }
};

TEST_F(Progress, TheDefaultIsSilentAndNeverBreaks)
{
    KRUtils::IProgressSink* silent = KRUtils::GetProgressSink();
    ASSERT_NE(silent, nullptr);
    TTBegLong(true);
    TTInitProcessWindowNext(84, 3, 120);
    TTSetProcessValue(5);
    EXPECT_FALSE(TTBreak(true));
    TTCloseProcessWindow();
    TTEndLong(true);
    EXPECT_EQ(KRUtils::GetProgressSink(), silent);
}

TEST_F(Progress, CallsReachTheInstalledSinkInOrder)
{
    RecordingSink sink;
    KRUtils::IProgressSink* previous = KRUtils::SetProgressSink(&sink);
    EXPECT_EQ(KRUtils::GetProgressSink(), &sink);

    TTBegLong(true);
    TTInitProcessWindowNext(84, 2, 2000);
    TTSetProcessPhaseString("Library A");
    TTSetNextProcessPhase(0, 150);
    TTSetProcessValue(50);
    EXPECT_FALSE(TTBreak(true));
    sink.breakAnswer = true;
    EXPECT_TRUE(TTBreak(false));
    TTEndProcessPhase();
    TTBeginNextProcessPhase(118, 7);
    TTCloseProcessWindow();
    TTEndLong(true);
    TTSetProcessPhaseString(nullptr);
    EXPECT_EQ(sink.calls, (std::vector<std::string>{"BeginLong 1", "Init 84 2 2000", "Phase Library A",
                                                    "SetNextPhase 0 150", "Value 50", "Break 1", "Break 0",
                                                    "EndPhase", "BeginNextPhase 118 7", "Close", "EndLong 1",
                                                    "Phase (null)"}));

    // Putting the previous sink back silences the recorder.
    EXPECT_EQ(KRUtils::SetProgressSink(previous), &sink);
    TTSetProcessValue(1);
    EXPECT_FALSE(TTBreak(true));
    EXPECT_EQ(sink.calls.size(), 12u);
}

// --- Scratch files ------------------------------------------------------------

std::vector<std::string> Entries(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

KR::ErrorCode WriteText(IOUtil::ScratchFile& scratch, const std::string& text)
{
    KR::ErrorCode err = scratch.Open(IO::OpenMode::WriteNew);
    if (err == KR::NoError)
        err = scratch.WriteBin(text.data(), text.size());
    return err;
}

TEST(ScratchFile, ReplacesTheTargetOnlyWhenMadePermanent)
{
    TempFolder folder;
    const std::string target = folder / "data.bin";
    WriteFileBytes(target, "old content");
    ::chmod(target.c_str(), 0640);

    IOUtil::ScratchFile scratch{IO::Location(target)};
    ASSERT_EQ(scratch.GetStatus(), KR::NoError);
    ASSERT_EQ(WriteText(scratch, "new content, longer"), KR::NoError);
    ASSERT_EQ(scratch.Flush(), KR::NoError);
    // Until then the target is untouched and the scratch is a hidden sibling.
    EXPECT_EQ(ReadFileBytes(target), "old content");
    const std::vector<std::string> during = Entries(folder.Path());
    ASSERT_EQ(during.size(), 2u);
    EXPECT_EQ(during[0].rfind(".data.bin.scratch-", 0), 0u) << during[0];
    EXPECT_EQ(during[0].size(), std::string(".data.bin.scratch-XXXXXX").size());

    ASSERT_EQ(scratch.MakePermanent(), KR::NoError);
    EXPECT_TRUE(scratch.IsPermanent());
    EXPECT_EQ(ReadFileBytes(target), "new content, longer");
    EXPECT_EQ(Entries(folder.Path()), std::vector<std::string>{"data.bin"});
    struct stat st {};
    ::stat(target.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // the replaced file's permissions
    EXPECT_EQ(scratch.MakePermanent(), KR::NoError);  // a second time does nothing
}

TEST(ScratchFile, AnUnfinishedScratchIsRemovedAndTheTargetKept)
{
    TempFolder folder;
    const std::string target = folder / "keep.txt";
    WriteFileBytes(target, "precious");
    {
        IOUtil::ScratchFile scratch(IO::Folder(IO::Location(folder.Path())), IO::Name("keep.txt"));
        ASSERT_EQ(WriteText(scratch, "half-written"), KR::NoError);
        EXPECT_EQ(scratch.GetTarget(), IO::Location(target));
    }
    EXPECT_EQ(ReadFileBytes(target), "precious");
    EXPECT_EQ(Entries(folder.Path()), std::vector<std::string>{"keep.txt"});
}

TEST(ScratchFile, CreatesAMissingTargetAndScratchesDoNotCollide)
{
    TempFolder folder;
    const std::string target = folder / "new.txt";
    IOUtil::ScratchFile first{IO::Location(target)};
    IOUtil::ScratchFile second{IO::Location(target)};
    ASSERT_EQ(first.GetStatus(), KR::NoError);
    ASSERT_EQ(second.GetStatus(), KR::NoError);
    EXPECT_NE(first.GetLocation(), second.GetLocation());
    ASSERT_EQ(WriteText(first, "first"), KR::NoError);
    ASSERT_EQ(WriteText(second, "second"), KR::NoError);
    ASSERT_EQ(first.MakePermanent(), KR::NoError);
    EXPECT_EQ(ReadFileBytes(target), "first");
    ASSERT_EQ(second.MakePermanent(), KR::NoError);
    EXPECT_EQ(ReadFileBytes(target), "second");
    EXPECT_EQ(Entries(folder.Path()), std::vector<std::string>{"new.txt"});
}

TEST(ScratchFile, UnusableTargetsAreRefused)
{
    TempFolder folder;
    std::filesystem::create_directory(folder / "sub");
    const struct {
        const char* what;
        IO::Location target;
        KR::ErrorCode expected;
    } cases[] = {
        {"missing folder", IO::Location(folder / "missing/file"), IO::ErrNotFound},
        {"a folder", IO::Location(folder / "sub"), IO::ErrNotAFile},
        {"a URL", IO::Location("http://example.invalid/file"), IO::ErrNotLocal},
        {"empty", IO::Location(), IO::ErrBadLocation},
        {"relative", IO::Location("relative/file"), IO::ErrBadLocation},
    };
    for (const auto& c : cases) {
        IOUtil::ScratchFile scratch(c.target);
        EXPECT_EQ(scratch.GetStatus(), c.expected) << c.what;
        EXPECT_EQ(scratch.MakePermanent(), c.expected) << c.what;
        EXPECT_FALSE(scratch.IsPermanent());
    }
    EXPECT_EQ(Entries(folder.Path()), std::vector<std::string>{"sub"});
}

class EmptyVFS : public IO::FixedVFS {
public:
    KR::ErrorCode GetInfo(const IO::RelativeLocation& path, EntryInfo* info) const override
    {
        if (!path.IsEmpty())
            return IO::ErrNotFound;
        *info = EntryInfo{true, 0, 0};
        return KR::NoError;
    }
    KR::ErrorCode ListFolder(const IO::RelativeLocation&, std::vector<FolderEntry>* entries) const override
    {
        entries->clear();
        return KR::NoError;
    }
    KR::ErrorCode ReadFile(const IO::RelativeLocation&, std::string*, std::uint64_t) const override
    {
        return IO::ErrNotFound;
    }
};

TEST(ScratchFile, TargetsInAMountedFileSystemAreReadOnly)
{
    TempFolder folder;
    EmptyVFS vfs;
    ASSERT_EQ(IO::fileSystem.Mount(vfs, IO::Location(folder / "mounted")), KR::NoError);
    {
        IOUtil::ScratchFile scratch{IO::Location(folder / "mounted/file")};
        EXPECT_EQ(scratch.GetStatus(), IO::ErrReadOnly);
        EXPECT_EQ(scratch.MakePermanent(), IO::ErrReadOnly);
    }
    ASSERT_EQ(IO::fileSystem.Unmount(vfs), KR::NoError);
    EXPECT_TRUE(Entries(folder.Path()).empty());
}

// --- Resource file system and the null identifier ----------------------------------

TEST(ResourceFileSystem, MountPointTable)
{
    const IO::Location point("/resources/lib");
    const IO::Location source("/opt/app/resources/lib");
    EXPECT_FALSE(IsResourceFileSystemMountPoint(point));
    EXPECT_TRUE(GetResourceFileSystemLocationFromMountPoint(point).IsEmpty());

    ASSERT_EQ(AddResourceFileSystemMountPoint(point, source), KR::NoError);
    EXPECT_TRUE(IsResourceFileSystemMountPoint(point));
    EXPECT_FALSE(IsResourceFileSystemMountPoint(IO::Location("/resources/lib/sub")));
    EXPECT_EQ(GetResourceFileSystemLocationFromMountPoint(point), source);
    EXPECT_EQ(AddResourceFileSystemMountPoint(point, source), IO::ErrAlreadyMounted);
    EXPECT_EQ(AddResourceFileSystemMountPoint(IO::Location(), source), IO::ErrBadLocation);
    EXPECT_EQ(AddResourceFileSystemMountPoint(IO::Location("/x"), IO::Location("no/root")), IO::ErrBadLocation);

    ASSERT_EQ(RemoveResourceFileSystemMountPoint(point), KR::NoError);
    EXPECT_FALSE(IsResourceFileSystemMountPoint(point));
    EXPECT_EQ(RemoveResourceFileSystemMountPoint(point), IO::ErrNotMounted);
}

TEST(NullUnID, IsNullAndEqualToAValueInitialisedOne)
{
    EXPECT_TRUE(NULLUnID.IsNull());
    EXPECT_EQ(NULLUnID, KR::UnID{});
    KR::UnID other{};
    other.revGuid.data4[7] = 1;
    EXPECT_NE(NULLUnID, other);
}

}  // namespace
