// Synchronisation of libraries with their LAN cache copies, on real folders.
#include "IO/Folder.hpp"
#include "LibraryManagerModule.hpp"
#include "LibrarySet.hpp"
#include "LibrarySet/LibrarySetInternals.hpp"
#include "PartTable/PartTable.hpp"
#include "Support/Environment.hpp"
#include "Support/ErrorHandlers.hpp"
#include "Support/FaultPlatform.hpp"
#include "Support/OneFileVFS.hpp"
#include "Support/TempDir.hpp"
#include "librarymanagerdll/LibrarySet/EnumerateTestSupport.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using TestSupport::ReadFileBytes;
using TestSupport::TempDir;

constexpr std::int64_t Old = 1'600'000'000;  // the time every file starts with
constexpr std::int64_t New = Old + 1000;     // the time of a change

// Answers that differ from file to file: 0, 1 or 2 for a deletion, 0 or 1
// for a conflict.
std::int32_t AnswerFor(const std::string& call)
{
    const std::size_t h = std::hash<std::string>()(call);
    return call.rfind("AskDeleted", 0) == 0 ? static_cast<std::int32_t>(h % 3) : static_cast<std::int32_t>(h % 2);
}

// Records every report as "Operation relative-path" (the path below the
// library side) and answers the two questions by AnswerFor.
class RecordingHandler : public TestSupport::NullErrorHandler {
public:
    explicit RecordingHandler(std::string libraryRoot) : root(std::move(libraryRoot)) {}
    void ApplicationReport(KR::ErrorCode, const IO::Location& location) override { Log("Report", location); }
    void CacheEqualsLibrary(const IO::Location&, const IO::Location& library) override { Log("Equals", library); }
    void CacheNestedWithLibrary(const IO::Location&, const IO::Location& library) override { Log("Nested", library); }
    void DownloadFailed(const IO::Location& library, const IO::Location&) override { Log("DownloadFailed", library); }
    void UploadFailed(const IO::Location& library, const IO::Location&) override { Log("UploadFailed", library); }
    std::int32_t AskDeletedFromLibrary(const IO::Location& library, const IO::Location&) override
    {
        return AnswerFor(Log("AskDeleted", library));
    }
    std::int32_t AskChangedInBoth(const IO::Location& library, const IO::Location&) override
    {
        return AnswerFor(Log("AskBoth", library));
    }
    const std::string& Log(const char* what, const IO::Location& location)
    {
        const std::string& text = location.GetText();
        calls.push_back(std::string(what) + " " + (text.rfind(root, 0) == 0 ? text.substr(root.size()) : text));
        return calls.back();
    }

    std::string root;
    std::vector<std::string> calls;
};

IO::FixedVFS* MakeOneFileVFS(const IO::Location&)
{
    return new TestSupport::OneFileVFS("part", "content");
}

using Calls = std::vector<std::string>;

class Synchronize : public ::testing::Test {
protected:
    void SetUp() override
    {
        LM::LibraryManagerStrings strings;
        strings.Set(3, "LibraryMaps");
        strings.Set(5, "All Libraries");
        LM::LibraryManagerCallBacks callBacks;
        callBacks.createFixedVFS = &MakeOneFileVFS;
        LM::InitLibraryManager(callBacks, strings, 1, 2, dir.MakeFolder("scripts"));
        dir.MakeFolder("lan");
        set = std::make_unique<LM::LibrarySet>(handler, KR::ConstForwardIterator<FTM::GeneralID>());
        ASSERT_EQ(0, set->SetLanCacheLocation(dir.Loc("lan")));
        ASSERT_EQ(0, set->SetUseLanCache(true));
    }

    // Writes a file in the library ("lib/...") or the cache copy
    // ("lan/Lib/...") with the given modification time.
    void Put(const std::string& relative, const std::string& content, std::int64_t time = Old)
    {
        dir.WriteFile(relative, content);
        TestSupport::SetUnixTime(dir / relative, time);
    }
    std::string Get(const std::string& relative) const { return ReadFileBytes(dir / relative); }
    bool Exists(const std::string& relative) const { return fs::exists(dir / relative); }
    std::int32_t AddLibrary(const std::string& relative, LM::PermanentMode mode = LM::NotPermanent)
    {
        return set->AddActiveLibrary(dir.Loc(relative), mode, false, false);
    }
    // A library "Lib" in "libs/Lib" with a.txt, sub/b.txt and sub/c.txt, and
    // a first synchronisation that copies it into the cache.
    void MakeSynchronisedLibrary()
    {
        Put("libs/Lib/a.txt", "a");
        Put("libs/Lib/sub/b.txt", "b");
        Put("libs/Lib/sub/c.txt", "c");
        AddLibrary("libs/Lib");
        ASSERT_TRUE(set->SynchronizeCachedSymbols(true, true));
        ASSERT_EQ("b", Get("lan/Lib/sub/b.txt"));
        handler.calls.clear();
    }

    TempDir dir;
    TestSupport::ScopedEnv trash{"XDG_DATA_HOME", dir / "data"};
    RecordingHandler handler{dir / "libs/"};
    std::unique_ptr<LM::LibrarySet> set;
};

TEST_F(Synchronize, LanCacheOffTouchesNothing)
{
    Put("libs/Lib/a.txt", "a");
    AddLibrary("libs/Lib");
    ASSERT_EQ(0, set->SetUseLanCache(false));
    EXPECT_FALSE(set->SynchronizeCachedSymbols(true, true));
    EXPECT_FALSE(set->SynchronizeCachedSymbol(0, true, true));
    EXPECT_TRUE(fs::is_empty(dir / "lan"));
}

TEST_F(Synchronize, CacheInsideOrEqualToLibraryStopsTheRun)
{
    // Libraries run in name order: "Alib" is checked before "Zlib" is touched.
    struct Case {
        const char* library;
        const char* expected;
    };
    for (const Case& c : {Case{"lan/Alib", "Equals "}, Case{"lan", "Nested "}}) {
        SCOPED_TRACE(c.library);
        SetUp();
        dir.MakeFolder(c.library);
        Put("libs/Zlib/z.txt", "z");
        AddLibrary(c.library);
        AddLibrary("libs/Zlib");
        handler.calls.clear();
        EXPECT_FALSE(set->SynchronizeCachedSymbols(true, true));
        EXPECT_EQ(Calls{c.expected + dir.Loc(c.library).GetText()}, handler.calls);
        EXPECT_FALSE(Exists("lan/Zlib"));
    }
}

TEST_F(Synchronize, FileLibrary)
{
    Put("libs/Lib.pack", "version 1");
    ASSERT_EQ(0, AddLibrary("libs/Lib.pack"));
    ASSERT_TRUE(set->IsExistActiveLibrary(0));
    EXPECT_TRUE(set->SynchronizeCachedSymbols(true, true));
    EXPECT_EQ("version 1", Get("lan/Lib.pack"));
    Put("lan/Lib.pack", "version 2", New);
    EXPECT_FALSE(set->SynchronizeCachedSymbols(true, true));
    EXPECT_EQ("version 2", Get("libs/Lib.pack"));
    EXPECT_EQ(Calls{}, handler.calls);
}

TEST_F(Synchronize, SinglePart)
{
    MakeSynchronisedLibrary();
    Put("libs/Lib/a.txt", "a in library", New);
    Put("libs/Lib/sub/b.txt", "b in library", New);
    Put("libs/Lib/sub/new.txt", "new");
    Put("libs/Perm/p.txt", "permanent");
    const std::int32_t permanent = AddLibrary("libs/Perm", LM::Permanent);
    LM::PartTable& table = *LM::LibrarySetInternals::GetPartTable(*set);
    LM::FolderSet& folders = *set->GetFolderSet();
    const std::int32_t lib = set->GetActiveLibraryIndex(dir.Loc("libs/Lib"));
    const std::int32_t cacheSub = folders.AddFolder(dir.Loc("lan/Lib/sub"), KR::String("sub"), 0, lib);
    const std::int32_t permFolder = folders.AddFolder(dir.Loc("libs/Perm"), KR::String("Perm"), 0, permanent);
    const auto part = [&](const char* file, std::int32_t folder) {
        const std::int32_t i = table.AppendFromFile(dir.Loc(file), folder, FTM::UnknownType, 0);
        table.Get(i)->valid = true;
        return i;
    };

    // A part of the cache copy: only its own file is brought in step.
    EXPECT_FALSE(set->SynchronizeCachedSymbol(part("lan/Lib/sub/b.txt", cacheSub), true, true));
    EXPECT_EQ("b in library", Get("lan/Lib/sub/b.txt"));
    EXPECT_EQ("a", Get("lan/Lib/a.txt"));

    // A part found in the library itself moves to the cache copy's folder.
    const std::int32_t fresh = part("libs/Lib/sub/new.txt", 0);
    EXPECT_FALSE(set->SynchronizeCachedSymbol(fresh, true, true));
    EXPECT_EQ("new", Get("lan/Lib/sub/new.txt"));
    EXPECT_EQ(cacheSub, table.Get(fresh)->folderIndex);
    EXPECT_EQ(dir.Loc("lan/Lib/sub/new.txt"), table.Get(fresh)->location);

    // A permanent library's own file is never touched.
    EXPECT_FALSE(set->SynchronizeCachedSymbol(part("libs/Perm/p.txt", permFolder), true, true));
    EXPECT_EQ("permanent", Get("libs/Perm/p.txt"));
    EXPECT_EQ(Calls{}, handler.calls);
}

// ----- Failures ------------------------------------------------------------------

TEST_F(Synchronize, UnreadableFolderSkipsTheLibrary)
{
    MakeSynchronisedLibrary();
    Put("libs/Lib/a.txt", "a in library", New);
    Put("lan/Lib/sub/b.txt", "b in cache", New);
    const std::pair<const char*, std::string> cases[] = {{"libs/Lib/sub", "Report Lib"},
                                                         {"lan/Lib/sub", "Report " + (dir / "lan/Lib")}};
    for (const auto& [unreadable, report] : cases) {
        SCOPED_TRACE(unreadable);
        handler.calls.clear();
        {
            TestSupport::FaultPlatform faults;
            faults.FailPath(dir / unreadable, EACCES);
            EXPECT_FALSE(set->SynchronizeCachedSymbols(true, true));
        }
        EXPECT_EQ(Calls{report}, handler.calls);
        EXPECT_EQ("a", Get("lan/Lib/a.txt"));
        EXPECT_EQ("b", Get("libs/Lib/sub/b.txt"));
    }
    // The same through the system's own calls, where the cache copy is
    // walked beside the library: a copy deeper than a walk enters.
    std::string deep = "lan/Lib/sub";
    for (int level = 0; level < 260; ++level)
        deep += "/d";
    std::filesystem::create_directories(dir / deep);
    handler.calls.clear();
    EXPECT_FALSE(set->SynchronizeCachedSymbols(true, true));
    EXPECT_EQ(Calls{"Report " + (dir / "lan/Lib")}, handler.calls);
    EXPECT_EQ("a", Get("lan/Lib/a.txt"));
    EXPECT_EQ("b", Get("libs/Lib/sub/b.txt"));
}

TEST_F(Synchronize, FailedCopiesAreRetriedAndLoseNothing)
{
    MakeSynchronisedLibrary();
    struct Step {
        const char* file;  // changed to `content`; null: no change
        const char* content;
        const char* fault;  // the path whose calls fail; null: none; "": the first rename
        Calls calls;
    };
    const Step steps[] = {
        {"libs/Lib/a.txt", "a2", "", {"DownloadFailed Lib/a.txt"}},
        {"lan/Lib/sub/b.txt", "b2", "libs/Lib/sub/b.txt", {"UploadFailed Lib/sub/b.txt"}},
        {"lan/Lib/added.txt", "added", "libs/Lib/added.txt", {"UploadFailed Lib/added.txt"}},
        {nullptr, nullptr, nullptr, {}},  // the last failed copy is made now, without a question
        {nullptr, nullptr, nullptr, {}},  // and then all is in step
    };
    std::int64_t time = New;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.calls.empty() ? "no fault" : step.calls[0]);
        if (step.file != nullptr)
            Put(step.file, step.content, ++time);
        handler.calls.clear();
        {
            TestSupport::FaultPlatform faults;
            if (step.fault != nullptr && step.fault[0] == '\0')
                faults.FailNth(TestSupport::Call::Rename, 1, EIO);
            else if (step.fault != nullptr)
                faults.FailPath(dir / step.fault, EIO);
            set->SynchronizeCachedSymbols(true, true);
        }
        EXPECT_EQ(step.calls, handler.calls);
    }
    for (const char* side : {"libs/Lib/", "lan/Lib/"}) {
        EXPECT_EQ("a2", Get(side + std::string("a.txt")));
        EXPECT_EQ("b2", Get(side + std::string("sub/b.txt")));
        EXPECT_EQ("added", Get(side + std::string("added.txt")));
        EXPECT_EQ(3u, TestSupport::NamesIn(dir / side).size());  // no scratch file left
    }
}

// ----- Decisions against a model -------------------------------------------------

// What the rules say one run does to a library and its cache copy, given
// the time of each file at the last synchronisation: written from the rules
// alone, file by file.
struct Version {
    std::string content;
    std::int64_t time = 0;
};
struct Entry {
    std::optional<Version> library, cache;
    std::optional<std::int64_t> stored;
};
struct Outcome {
    std::map<std::string, std::string> library, cache;
    std::set<std::string> asked;
};

Outcome Model(const std::map<std::string, Entry>& entries, bool upload, bool download)
{
    Outcome out;
    for (const auto& [path, e] : entries) {
        if (e.library)
            out.library[path] = e.library->content;
        if (e.cache)
            out.cache[path] = e.cache->content;
    }
    for (const auto& [path, e] : entries) {  // uploads
        if (!upload || !e.cache)
            continue;
        const std::string both = "AskBoth Lib/" + path, deleted = "AskDeleted Lib/" + path;
        bool copy = e.library ? e.stored && e.cache->time > *e.stored : !e.stored;
        if (e.library && copy && e.library->time > *e.stored) {
            out.asked.insert(both);
            copy = AnswerFor(both) == 1;
        } else if (!e.library && e.stored) {
            out.asked.insert(deleted);
            copy = AnswerFor(deleted) == 1;
            if (AnswerFor(deleted) == 2)
                out.cache.erase(path);
        }
        if (copy)
            out.library[path] = e.cache->content;
    }
    for (const auto& [path, e] : entries)  // downloads, marked before the uploads
        if (download && e.library && (!e.cache || !e.stored || e.library->time > *e.stored))
            out.cache[path] = out.library[path];
    return out;
}

TEST_F(Synchronize, DecisionsFollowAnIndependentModel)
{
    for (unsigned seed = 1; seed <= 3; ++seed) {
        SCOPED_TRACE(seed);
        SetUp();
        fs::remove_all(dir / "libs");
        fs::remove_all(dir / "lan");
        fs::create_directories(dir / "lan");
        std::mt19937 random(seed);
        std::map<std::string, Entry> entries;
        for (int f = 0; f < 240; ++f) {
            const std::string path = "d" + std::to_string(f % 12) + "/f" + std::to_string(f) + ".txt";
            Put("libs/Lib/" + path, "v0 " + path);
            entries[path] = Entry{Version{"v0 " + path, Old}, Version{"v0 " + path, Old}, Old};
        }
        AddLibrary("libs/Lib");
        ASSERT_TRUE(set->SynchronizeCachedSymbols(true, true));

        // Changes of every kind (changed on one side or both, deleted from
        // either, deleted from the library and changed in the cache), each on
        // about one file in twelve, and new files on either side, in both
        // (never synchronised) and in new folders.
        std::int64_t time = New;
        const auto change = [&](const std::string& side, std::optional<Version>& v, const std::string& path) {
            v = Version{side + " " + std::to_string(time) + " " + path, ++time};
            Put(side + "/" + path, v->content, v->time);
        };
        for (auto& [path, e] : entries) {
            switch (random() % 12) {
            case 0: change("libs/Lib", e.library, path); break;
            case 1: change("lan/Lib", e.cache, path); break;
            case 2: change("libs/Lib", e.library, path), change("lan/Lib", e.cache, path); break;
            case 3: fs::remove(dir / ("libs/Lib/" + path)), e.library.reset(); break;
            case 4: fs::remove(dir / ("lan/Lib/" + path)), e.cache.reset(); break;
            case 5: fs::remove(dir / ("libs/Lib/" + path)), e.library.reset(), change("lan/Lib", e.cache, path); break;
            default: break;
            }
        }
        for (int f = 0; f < 30; ++f) {
            const std::string path = (f < 20 ? "d" + std::to_string(f % 12) : "new" + std::to_string(f % 3)) +
                                     "/n" + std::to_string(f) + ".txt";
            Entry& e = entries[path];
            if (f % 3 != 1)
                change("libs/Lib", e.library, path);
            if (f % 3 != 0)
                change("lan/Lib", e.cache, path);
        }

        // Both directions, then uploads only, then downloads only.
        const bool upload = seed != 3, download = seed != 2;
        const Outcome expected = Model(entries, upload, download);
        handler.calls.clear();
        EXPECT_EQ(download, set->SynchronizeCachedSymbols(upload, download));
        const std::set<std::string> asked(handler.calls.begin(), handler.calls.end());
        EXPECT_EQ(expected.asked, asked);
        EXPECT_EQ(handler.calls.size(), asked.size());  // nothing asked twice
        for (const auto& [side, files] : {std::pair{"libs/Lib", &expected.library}, std::pair{"lan/Lib", &expected.cache}}) {
            std::map<std::string, std::string> found;
            for (const auto& file : fs::recursive_directory_iterator(dir / side))
                if (file.is_regular_file())
                    found[fs::relative(file.path(), dir / side).string()] = ReadFileBytes(file.path().string());
            EXPECT_EQ(*files, found) << side;
        }
    }
}

}  // namespace
