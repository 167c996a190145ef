// Replacing files, copying and walking trees when system calls fail: every
// failure leaves the old file (or nothing) complete, reports itself and
// leaks no descriptor.
#include "IOTestSupport.hpp"

#include "IO/Platform.hpp"
#include "IO/Replace.hpp"
#include "Support/FaultPlatform.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <set>
#include <thread>

namespace {

using namespace IOTest;
using TestSupport::Call;
using TestSupport::FaultPlatform;
using TestSupport::OpenDescriptorCount;
using TestSupport::SweepFaults;

// Writes `bytes` beside `target` and replaces it through the helper, with
// plain system calls for the writing so that only the helper is examined.
KR::ErrorCode WriteReplacing(const std::string& target, const std::string& bytes)
{
    const std::string scratch = IO::ScratchPathBeside(target, "test");
    const int fd = ::open(scratch.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return IO::ErrSystem;
    const bool written = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ::close(fd);
    const KR::ErrorCode err = written ? IO::ReplaceFile(scratch, target, IO::ReplaceMode::Replace) : IO::ErrSystem;
    if (err != KR::NoError)
        ::unlink(scratch.c_str());
    return err;
}

TEST(ReplaceFile, OnlyARegularFileOrNothingIsReplaced)
{
    TempDir dir;
    EXPECT_EQ(WriteReplacing(dir / "new", "one"), KR::NoError);
    EXPECT_EQ(WriteReplacing(dir / "new", "two"), KR::NoError);
    EXPECT_EQ(ReadFileBytes(dir / "new"), "two");

    // A link, a pipe and a folder are refused and stay what they were.
    WriteFileBytes(dir / "linked", "kept");
    ASSERT_EQ(::symlink("linked", (dir / "link").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    dir.MakeFolder("folder");
    for (const auto& [name, type] : {std::pair{"link", S_IFLNK}, {"fifo", S_IFIFO}, {"folder", S_IFDIR}}) {
        EXPECT_EQ(WriteReplacing(dir / name, "new"), IO::ErrNotAFile) << name;
        struct stat st {};
        ASSERT_EQ(::lstat((dir / name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & S_IFMT, static_cast<mode_t>(type)) << name;
    }
    EXPECT_EQ(NamesIn(dir.Path()), (std::vector<std::string>{"fifo", "folder", "link", "linked", "new"}));

    // Create refuses what is there and leaves the scratch file to the caller.
    WriteFileBytes(dir / ".scratch", "x");
    EXPECT_EQ(IO::ReplaceFile(dir / ".scratch", dir / "new", IO::ReplaceMode::Create), IO::ErrAlreadyExists);
    EXPECT_EQ(ReadFileBytes(dir / "new") + ReadFileBytes(dir / ".scratch"), "twox");
}

// A folder tree with files, a subfolder and a link.
void MakeTree(const TempDir& dir)
{
    WriteFileBytes(dir / "src/one", Pattern(70000, 1));
    WriteFileBytes(dir / "src/sub/two", Pattern(10, 2));
    WriteFileBytes(dir / "src/sub/deeper/three", "3");
    ASSERT_EQ(::symlink("one", (dir / "src/link").c_str()), 0);
}

TEST(FileSystemCopy, EveryFailingCallLeavesNothingAndLeaksNothing)
{
    TempDir dir;
    MakeTree(dir);
    const std::size_t descriptors = OpenDescriptorCount();
    int failures = 0;
    FaultPlatform faults;
    const std::uint64_t calls = SweepFaults(faults, EIO, [&](std::uint64_t n) {
        const KR::ErrorCode err = IO::fileSystem.Copy(dir.Loc("src"), dir.Loc("copy"));
        EXPECT_EQ(faults.Injected(), n > 0 ? 1u : 0u) << "call " << n;
        EXPECT_EQ(OpenDescriptorCount(), descriptors) << "call " << n;
        if (err != KR::NoError) {
            ++failures;
            EXPECT_EQ(NamesIn(dir.Path()), std::vector<std::string>{"src"}) << "call " << n;
            return;
        }
        EXPECT_EQ(ReadFileBytes(dir / "copy/one"), Pattern(70000, 1)) << "call " << n;
        EXPECT_EQ(ReadFileBytes(dir / "copy/sub/deeper/three"), "3") << "call " << n;
        EXPECT_EQ(std::filesystem::read_symlink(dir / "copy/link"), "one") << "call " << n;
        std::filesystem::remove_all(dir / "copy");
    });
    // The copy makes well over a few dozen calls, and nearly every one of
    // them must be able to fail it.
    EXPECT_GT(calls, 40u);
    EXPECT_GT(failures, static_cast<int>(calls) * 3 / 4);
}

// Records every file found, as a path below the root.
class Collector : public IO::TreeEnumerator {
public:
    using IO::TreeEnumerator::TreeEnumerator;
    std::set<std::string> files;

protected:
    bool FileFound(const IO::Name& name) override
    {
        files.insert(IO::Location(GetParent().GetLocation(), name).GetText());
        return false;
    }
};

TEST(TreeEnumerator, AFailingCallIsReportedNeverASilentlyShorterWalk)
{
    TempDir dir;
    MakeTree(dir);
    IO::Folder root(dir.Loc("src"));
    Collector complete(root);
    ASSERT_EQ(complete.Do(), KR::NoError);
    ASSERT_EQ(complete.files.size(), 3u);

    const std::size_t descriptors = OpenDescriptorCount();
    FaultPlatform faults;
    for (const int error : {EIO, ENOENT}) {
        SweepFaults(faults, error, [&](std::uint64_t n) {
            Collector walk(root);
            const KR::ErrorCode err = walk.Do();
            EXPECT_EQ(OpenDescriptorCount(), descriptors) << "call " << n;
            EXPECT_EQ(faults.Injected(), n > 0 ? 1u : 0u) << "call " << n;
            EXPECT_TRUE(err != KR::NoError || walk.GetSkippedCount() > 0 || walk.files == complete.files)
                << "call " << n << " errno " << error;
        });
    }
    // A folder that cannot be read at all below the root is counted.
    faults.FailPath(dir / "src/sub", EACCES);
    Collector walk(root);
    EXPECT_EQ(walk.Do(), KR::NoError);
    EXPECT_EQ(walk.GetSkippedCount(), 1u);
    EXPECT_EQ(walk.files, std::set<std::string>{dir / "src/one"});
}

TEST(ReplaceFile, AProcessKilledAtAnyMomentLeavesTheOldOrTheNewFile)
{
    TempDir dir;
    const std::string target = dir / "target";
    const std::string a = Pattern(300000, 1);
    const std::string b = Pattern(200000, 2);
    WriteFileBytes(target, a);
    std::mt19937 random(13);
    int sawB = 0;
    for (int run = 0; run < 30; ++run) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Alternates the two contents until killed (or for long enough).
            for (int i = 0; i < 100000; ++i)
                WriteReplacing(target, i % 2 == 0 ? b : a);
            ::_exit(0);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 40000));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        const std::string now = ReadFileBytes(target);
        ASSERT_TRUE(now == a || now == b) << "run " << run << ": " << now.size() << " bytes";
        sawB += now == b;
    }
    EXPECT_GT(sawB, 0);  // the child did get to replace the file
}

}  // namespace
