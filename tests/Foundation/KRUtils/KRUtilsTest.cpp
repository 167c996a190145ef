#include "KRUtils/KRUtils.hpp"

#include "Support/FaultPlatform.hpp"
#include "Support/OneFileVFS.hpp"
#include "Support/TempDir.hpp"

#include "IO/FileSystem.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

using TestSupport::NamesIn;
using TestSupport::ReadFileBytes;
using TestSupport::TempDir;
using TestSupport::WriteFileBytes;

// --- Scratch files --------------------------------------------------------------

KR::ErrorCode WriteText(IOUtil::ScratchFile& scratch, const std::string& text)
{
    KR::ErrorCode err = scratch.Open(IO::OpenMode::WriteNew);
    return err != KR::NoError ? err : scratch.WriteBin(text.data(), text.size());
}

// A scratch file replaces its target only when made permanent, and keeps
// the target's permissions: the module's writers reach that, and every run
// of the fault sweep below checks what is left. Links, pipes and folders are
// refused by the replace helper, whose tests try each kind; a target in a
// mounted file system is refused before any write.
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
                err = scratch.Flush();
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
    EXPECT_EQ(RemoveResourceFileSystemMountPoint(point), IO::ErrNotMounted);
}

}  // namespace
