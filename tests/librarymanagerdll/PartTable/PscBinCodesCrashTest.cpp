// A process killed while it writes the compiled script code cache file
// leaves either the old file or the whole new one: a child process rewrites
// a container of a few thousand items with codes of a new generation and is
// killed with SIGKILL at random moments of the write; after every kill the
// file must load with all items of one generation, the old or the new.
#include "librarymanagerdll/PartTable/PscBinCodesFile.hpp"

#include "KR/Time.hpp"
#include "LibraryManagerModule.hpp"
#include "PartTable/PscBinCodesContainer.hpp"
#include "Support/Handles.hpp"
#include "Support/TempDir.hpp"
#include "librarymanagerdll/KillTestSupport.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
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

// Starts a child that loads the container, gives every item the code of
// `generation` and destroys the container, which writes the file. Returns
// the child's id once the child starts writing; -1 when it ended before.
pid_t StartRewrite(const IO::Location& folder, std::uint32_t generation)
{
    return KillTest::StartChild([&](const std::function<void()>& ready) {
        LM::PscBinCodesContainer container(folder);
        for (std::int32_t k = 1; k <= container.GetCount(); ++k) {
            TestSupport::OwnedHandle code(CodeOf(generation, static_cast<std::uint32_t>(k)));
            container.SetCode(k, code.h, nullptr);
        }
        ready();
        return 0;
    });
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
    for (std::uint32_t k = 1; k <= ItemCount; ++k)
        items.push_back({KR::UnID{{k}, {1}}, IO::Location("/lib/part" + std::to_string(k)), 1, 1, now, CodeOf(0, k), ""});
    TestSupport::WriteFileBytes(dir / "cache/ScriptCodes.dat", PscBinCodesTest::BuildContainerFile(now, items));
    ASSERT_EQ(0, GenerationIn(dir));

    // An undisturbed write gives the new generation and tells how long a
    // write takes.
    const std::int64_t writeTime = KillTest::RunUndisturbed(StartRewrite(folder, 1));
    ASSERT_GE(writeTime, 0);
    ASSERT_EQ(1, GenerationIn(dir));

    std::mt19937 random(15);
    KillTest::KillWindow window(writeTime);
    std::uint32_t current = 1;
    int killed = 0;
    for (int run = 0; run < Runs; ++run) {
        const pid_t child = StartRewrite(folder, current + 1);
        ASSERT_GT(child, 0);
        const int cut = window.Kill(child, random);
        ASSERT_GE(cut, 0);
        killed += cut;
        const std::int64_t found = GenerationIn(dir);
        ASSERT_TRUE(found == current || found == current + 1) << "run " << run << ": generation " << found;
        current = static_cast<std::uint32_t>(found);
    }
    // Most runs were cut short, and some wrote the whole file.
    EXPECT_GT(killed, Runs / 4);
    EXPECT_GT(current, 1u);
}

}  // namespace
