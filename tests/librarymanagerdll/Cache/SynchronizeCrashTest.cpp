// A process killed while it synchronises a library with its cache copy
// leaves every file on both sides with its old or its new content, complete,
// and a following run ends in the state of an uninterrupted one: a child
// process synchronises a library of a few thousand files with changes on
// both sides and is killed with SIGKILL at random moments.
#include "LibraryManagerModule.hpp"
#include "LibrarySet.hpp"
#include "Support/ErrorHandlers.hpp"
#include "Support/TempDir.hpp"
#include "librarymanagerdll/KillTestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Tree = std::map<std::string, std::string>;  // relative path -> content

// Under AddressSanitizer every copy and check costs several times more.
#if defined(__SANITIZE_ADDRESS__)
constexpr int FileCount = 250;
#else
constexpr int FileCount = 1000;
#endif
constexpr int Runs = 200;
constexpr std::int64_t Old = 1'600'000'000;

// Says yes to both questions, so that a file copied again after a kill is
// copied the same way.
class YesHandler : public TestSupport::NullErrorHandler {
public:
    std::int32_t AskDeletedFromLibrary(const IO::Location&, const IO::Location&) override { return 1; }
    std::int32_t AskChangedInBoth(const IO::Location&, const IO::Location&) override { return 1; }
};

// Every content starts with the file's time, so that it can be put back.
std::int64_t TimeOf(const std::string& content)
{
    return std::stoll(content.substr(0, content.find(':')));
}

bool IsScratch(const std::string& name)
{
    return name.size() > 13 && name[0] == '.' && name[name.size() - 7] == '-' &&
           (name.compare(name.size() - 12, 5, ".copy") == 0 || name.compare(name.size() - 12, 5, ".sync") == 0);
}

// The files below `root` with their content; scratch copies left by a kill
// are counted in `*scratch` instead.
Tree Snapshot(const fs::path& root, int* scratch = nullptr)
{
    Tree tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        if (IsScratch(it->path().filename().string())) {
            if (scratch != nullptr)
                ++*scratch;
            if (it->is_directory())
                it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file())
            tree[fs::relative(it->path(), root).string()] = TestSupport::ReadFileBytes(it->path().string());
    }
    return tree;
}

// Puts the files below `root` that a run changes back as `before` has them,
// with their times, and removes scratch copies.
void Restore(const fs::path& root, const Tree& before, const Tree& after)
{
    for (const auto& [path, content] : after) {
        const auto old = before.find(path);
        if (old == before.end()) {
            fs::remove(root / path);
        } else if (old->second != content) {
            TestSupport::WriteFileBytes((root / path).string(), old->second);
            TestSupport::SetUnixTime((root / path).string(), TimeOf(old->second));
        }
    }
    std::vector<fs::path> scratch;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (IsScratch(entry.path().filename().string()))
            scratch.push_back(entry.path());
    for (const fs::path& path : scratch)
        fs::remove_all(path);
}

class SynchronizeCrash : public ::testing::Test {
protected:
    void SetUp() override
    {
        LM::LibraryManagerStrings strings;
        strings.Set(3, "LibraryMaps");
        LM::InitLibraryManager({}, strings, 1, 2, dir.MakeFolder("scripts"));
    }

    // Synchronises the library "work/libs/Lib" with "work/lan/Lib".
    bool Synchronize()
    {
        YesHandler handler;
        LM::LibrarySet set(handler, KR::ConstForwardIterator<FTM::GeneralID>());
        set.SetLanCacheLocation(IO::Location(dir / "work/lan"));
        set.SetUseLanCache(true);
        set.AddActiveLibrary(IO::Location(dir / "work/libs/Lib"), LM::NotPermanent, false, false);
        set.SynchronizeCachedSymbols(true, true);
        return set.IsUseLanCache();
    }

    // A killed process's writes stay in the page cache: a memory file
    // system shows the same end states as a disk, without waiting for it.
    TestSupport::TempDir dir{fs::is_directory("/dev/shm") ? std::string("/dev/shm")
                                                          : fs::temp_directory_path().string()};
};

TEST_F(SynchronizeCrash, EveryFileIsOldOrNewAndTheNextRunFinishes)
{
    // A synchronised library, then changes on both sides: files changed in
    // the library, in the cache, in both, new files on each side and a new
    // folder in the library.
    std::mt19937 random(19);
    for (int f = 0; f < FileCount; ++f) {
        const std::string path = "work/libs/Lib/d" + std::to_string(f % 50) + "/f" + std::to_string(f);
        dir.WriteFile(path, std::to_string(Old) + ": old " + std::to_string(f) + std::string(f % 300, 'x'));
        TestSupport::SetUnixTime(dir / path, Old);
    }
    fs::create_directories(dir / "work/lan");
    ASSERT_TRUE(Synchronize());
    std::int64_t time = Old + 100;
    const auto change = [&](const std::string& path, const std::string& content) {
        dir.WriteFile("work/" + path, std::to_string(++time) + ": " + content);
        TestSupport::SetUnixTime(dir / ("work/" + path), time);
    };
    for (int f = 0; f < FileCount; ++f) {
        const std::string file = "/d" + std::to_string(f % 50) + "/f" + std::to_string(f);
        const unsigned kind = random() % 100;
        if (kind == 0 || kind == 2)
            change("libs/Lib" + file, "library " + std::to_string(f) + std::string(f % 500, 'l'));
        if (kind == 1 || kind == 2)
            change("lan/Lib" + file, "cache " + std::to_string(f) + std::string(f % 500, 'c'));
        if (kind == 3)
            change("libs/Lib" + file + "n", "new in library " + std::to_string(f));
        if (kind == 4)
            change("lan/Lib" + file + "n", "new in cache " + std::to_string(f));
    }
    for (int f = 0; f < 30; ++f)
        change("libs/Lib/fresh/g" + std::to_string(f), "fresh " + std::to_string(f));
    const Tree oldLibrary = Snapshot(dir / "work/libs/Lib"), oldCache = Snapshot(dir / "work/lan/Lib");
    const std::string mapFile = dir / "work/lan/LibraryMaps/Lib/LibraryMaps";
    const std::string oldMap = TestSupport::ReadFileBytes(mapFile);
    ASSERT_FALSE(oldMap.empty());
    Tree newLibrary, newCache;
    const auto restore = [&] {
        Restore(dir / "work/libs/Lib", oldLibrary, newLibrary.empty() ? oldLibrary : newLibrary);
        Restore(dir / "work/lan/Lib", oldCache, newCache.empty() ? oldCache : newCache);
        TestSupport::WriteFileBytes(mapFile, oldMap);
    };

    // The end state of an uninterrupted run, and how long one takes.
    const auto start = [&] {
        return KillTest::StartChild([&](const std::function<void()>& ready) {
            ready();
            return Synchronize() ? 0 : 3;
        });
    };
    std::vector<std::int64_t> durations;
    for (int i = 0; i < 3; ++i) {
        restore();
        durations.push_back(KillTest::RunUndisturbed(start()));
        ASSERT_GE(durations.back(), 0);
    }
    std::sort(durations.begin(), durations.end());
    newLibrary = Snapshot(dir / "work/libs/Lib");
    newCache = Snapshot(dir / "work/lan/Lib");
    ASSERT_EQ(newLibrary, newCache);
    ASSERT_NE(oldLibrary, newLibrary);

    KillTest::KillWindow window(durations[1]);
    int killed = 0, scratch = 0;
    for (int run = 0; run < Runs; ++run) {
        restore();
        const pid_t pid = start();
        ASSERT_GT(pid, 0);
        const int cut = window.Kill(pid, random);
        ASSERT_GE(cut, 0);
        killed += cut;

        for (const auto& [side, before, after] : {std::tuple{"work/libs/Lib", &oldLibrary, &newLibrary},
                                                  std::tuple{"work/lan/Lib", &oldCache, &newCache}}) {
            const Tree now = Snapshot(dir / side, &scratch);
            for (const auto& [path, content] : *before)
                ASSERT_TRUE(now.count(path) == 1) << "run " << run << ": lost " << side << "/" << path;
            for (const auto& [path, content] : now) {
                const auto old = before->find(path);
                const auto fresh = after->find(path);
                ASSERT_TRUE((old != before->end() && old->second == content) ||
                            (fresh != after->end() && fresh->second == content))
                    << "run " << run << ": torn " << side << "/" << path;
            }
        }
        ASSERT_TRUE(Synchronize());
        int left = 0;
        ASSERT_EQ(newLibrary, Snapshot(dir / "work/libs/Lib", &left)) << "run " << run;
        ASSERT_EQ(newCache, Snapshot(dir / "work/lan/Lib", &left)) << "run " << run;
        ASSERT_EQ(0, left) << "run " << run << ": scratch copies not removed";
    }
    // Most runs were cut short.
    EXPECT_GT(killed, Runs / 4);
    std::printf("%d of %d runs killed, %d scratch copies left behind and removed\n", killed, Runs, scratch);
}

}  // namespace
