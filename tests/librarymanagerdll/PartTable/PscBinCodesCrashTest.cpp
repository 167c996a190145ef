// A process killed while it writes the compiled script code cache file
// leaves either the old file or the whole new one: a child process rewrites
// a container of a few thousand items with codes of a new generation and is
// killed with SIGKILL at random moments of the write; after every kill the
// file must load with all items of one generation, the old or the new.
#include "librarymanagerdll/PartTable/PscBinCodesFile.hpp"

#include "KR/Memory.hpp"
#include "KR/Time.hpp"
#include "LibraryManagerModule.hpp"
#include "PartTable/PscBinCodesContainer.hpp"
#include "Support/Handles.hpp"
#include "Support/TempDir.hpp"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

// Under AddressSanitizer every fork, load and check costs several times
// more; fewer items keep the 200 runs within a modest time there.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::int32_t ItemCount = 400;
#else
constexpr std::int32_t ItemCount = 2000;
#endif
constexpr int Runs = 200;

// The code of item `k` in generation `generation`: both numbers, then a
// pattern that depends on them.
std::string CodeOf(std::uint32_t generation, std::uint32_t k)
{
    std::string code(32, '\0');
    std::memcpy(code.data(), &generation, 4);
    std::memcpy(code.data() + 4, &k, 4);
    for (std::size_t i = 8; i < code.size(); ++i)
        code[i] = static_cast<char>(generation * 7 + k * 13 + i);
    return code;
}

KR::UnID IdOf(std::int32_t k)
{
    KR::UnID id{};
    id.mainGuid.data1 = static_cast<std::uint32_t>(k);
    id.revGuid.data1 = 1;
    return id;
}

// The generation of every item of the cache file in `dir`/cache; -1 when the
// items do not all belong to one generation or are not all there. The file
// is read from a copy in a folder that is gone before the container is
// destroyed, so that checking writes nothing.
std::int64_t GenerationIn(const TestSupport::TempDir& dir)
{
    const std::string copy = dir / "check";
    std::filesystem::create_directory(copy);
    std::filesystem::copy_file(dir / "cache/ScriptCodes.dat", copy + "/ScriptCodes.dat");
    LM::PscBinCodesContainer container{IO::Location(copy)};
    std::filesystem::remove_all(copy);
    if (container.GetCount() != ItemCount)
        return -1;
    std::int64_t found = -1;
    for (std::int32_t k = 1; k <= ItemCount; ++k) {
        char** code = nullptr;
        if (container.GetCode(k, &code, nullptr) != KR::NoError || code == nullptr)
            return -1;
        const std::string bytes = TestSupport::OwnedHandle(code).Bytes();
        std::uint32_t generation = 0;
        if (bytes.size() == 32)
            std::memcpy(&generation, bytes.data(), 4);
        if (bytes != CodeOf(generation, static_cast<std::uint32_t>(k)) || (found != -1 && found != generation))
            return -1;
        found = generation;
    }
    return found;
}

// In the child: loads the container, gives every item the code of
// `generation`, tells the parent through `ready` and destroys the
// container, which writes the file. Never returns.
[[noreturn]] void RewriteInChild(const IO::Location& folder, std::uint32_t generation, int ready)
{
    {
        LM::PscBinCodesContainer container(folder);
        for (std::int32_t k = 1; k <= container.GetCount(); ++k) {
            TestSupport::OwnedHandle code(CodeOf(generation, static_cast<std::uint32_t>(k)));
            container.SetCode(k, code.h, nullptr);
        }
        const char byte = 1;
        if (::write(ready, &byte, 1) != 1)
            ::_exit(2);
    }
    ::_exit(0);
}

struct Child {
    pid_t pid = -1;
    int ready = -1;
};

Child StartRewrite(const IO::Location& folder, std::uint32_t generation)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        RewriteInChild(folder, generation, fds[1]);
    }
    ::close(fds[1]);
    return {pid, fds[0]};
}

// Waits until the child starts writing; false when it ended before.
bool WaitUntilWriting(const Child& child)
{
    char byte = 0;
    const bool writing = ::read(child.ready, &byte, 1) == 1;
    ::close(child.ready);
    return writing;
}

TEST(PscBinCodesCrashTest, AKilledWriterLeavesTheOldFileOrTheWholeNewOne)
{
    // What a killed process wrote stays in the page cache, so a memory file
    // system shows the same end states as a disk, without waiting for it.
    const bool memory = std::filesystem::is_directory("/dev/shm");
    TestSupport::TempDir dir(memory ? std::string("/dev/shm") : std::filesystem::temp_directory_path().string());
    const IO::Location folder = dir.MakeFolder("cache");
    LM::LibraryManagerStrings strings;
    strings.Set(6, "ScriptCodes");
    LM::InitLibraryManager({}, strings, 0, 0, folder);

    const std::int32_t now = KR::dateTimeManager.GetCurrentTime();
    std::vector<PscBinCodesTest::ItemSpec> items;
    for (std::int32_t k = 1; k <= ItemCount; ++k)
        items.push_back({IdOf(k), IO::Location("/lib/part" + std::to_string(k)), 1, 1, now,
                         CodeOf(0, static_cast<std::uint32_t>(k)), ""});
    TestSupport::WriteFileBytes(dir / "cache/ScriptCodes.dat", PscBinCodesTest::BuildContainerFile(now, items));
    ASSERT_EQ(0, GenerationIn(dir));

    // Undisturbed writes tell how long a write takes (the median of five).
    using Clock = std::chrono::steady_clock;
    std::vector<std::int64_t> durations;
    Child child;
    int status = 0;
    for (std::uint32_t generation = 1; generation <= 5; ++generation) {
        child = StartRewrite(folder, generation);
        ASSERT_GT(child.pid, 0);
        ASSERT_TRUE(WaitUntilWriting(child));
        const Clock::time_point start = Clock::now();
        ASSERT_EQ(child.pid, ::waitpid(child.pid, &status, 0));
        durations.push_back(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        ASSERT_EQ(generation, GenerationIn(dir));
    }
    std::sort(durations.begin(), durations.end());
    const std::int64_t writeTime = durations[2];

    std::mt19937 random(15);
    std::uniform_real_distribution<double> fraction(0.0, 1.0);
    // Kill moments are drawn from [0, window]. The window starts at twice
    // the measured write time and follows what the runs show: it shrinks
    // after a run that finished before its kill and grows after one that was
    // cut short, so about half the runs are killed mid-write even when the
    // machine's load changes and sleeps overshoot.
    double window = 2.0 * static_cast<double>(writeTime);
    std::uint32_t current = 5;
    int killed = 0;
    for (int run = 0; run < Runs; ++run) {
        const std::uint32_t next = current + 1;
        child = StartRewrite(folder, next);
        ASSERT_GT(child.pid, 0);
        ASSERT_TRUE(WaitUntilWriting(child));
        std::this_thread::sleep_for(std::chrono::microseconds(static_cast<std::int64_t>(fraction(random) * window)));
        ::kill(child.pid, SIGKILL);
        ASSERT_EQ(child.pid, ::waitpid(child.pid, &status, 0));
        if (WIFSIGNALED(status)) {
            ++killed;
            window *= 1.25;
        } else {
            ASSERT_EQ(0, WEXITSTATUS(status));
            window *= 0.8;
        }
        const std::int64_t found = GenerationIn(dir);
        ASSERT_TRUE(found == current || found == next) << "run " << run << ": generation " << found;
        current = static_cast<std::uint32_t>(found);
    }
    // Most runs were cut short, and some wrote the whole file.
    EXPECT_GT(killed, Runs / 4);
    EXPECT_GT(current, 5u);
}

}  // namespace
