// Runs the built libman tool on temporary folders, as a user would, and
// checks its output, its JSON and its exit status.
#include "Support/TempDir.hpp"
#include "Support/ToolRunner.hpp"
#include "Support/Zip.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <sstream>

#ifndef LIBMAN_TOOL_PATH
#error "LIBMAN_TOOL_PATH must name the libman binary"
#endif
#ifndef LPF_TOOL_PATH
#error "LPF_TOOL_PATH must name the lpf binary"
#endif

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using TestSupport::ReadFileBytes;
using TestSupport::TempDir;
using TestSupport::WriteFileBytes;

struct Result : TestSupport::ToolResult {
    json Json() const { return json::parse(out, nullptr, false); }
};

// Runs libman with `args` in the folder `dir` (so that the default project
// file is dir/libman.json).
Result RunLibman(const TempDir& dir, const std::vector<std::string>& args)
{
    return {TestSupport::RunTool(LIBMAN_TOOL_PATH, args, dir)};
}

// The library entries of `libman list --json`, by location or URL.
std::map<std::string, json> ListByWhere(const TempDir& dir)
{
    Result r = RunLibman(dir, {"list", "--json"});
    json j = r.Json();
    std::map<std::string, json> byWhere;
    if (j.is_discarded() || !j.contains("libraries"))
        return byWhere;
    for (const json& entry : j["libraries"])
        byWhere[entry.contains("url") ? entry["url"].get<std::string>() : entry["location"].get<std::string>()] =
            entry;
    return byWhere;
}

TEST(LibmanTool, BadUsageExitsWithTwoAndHelpListsOnlyTheCommandsThatExist)
{
    TempDir dir;
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"frobnicate"}, {"add"}, {"cache", "set"},
                                                 {"config", "export", "--version", "300", "x.cfg"}})
        EXPECT_EQ(RunLibman(dir, args).status, 2) << (args.empty() ? "" : args[0]);
    EXPECT_NE(RunLibman(dir, {"frobnicate"}).err.find("libman --help"), std::string::npos);
    Result jsonUsage = RunLibman(dir, {"remove", "--json"});
    EXPECT_EQ(jsonUsage.status, 2);
    EXPECT_EQ(jsonUsage.Json().value("status", -1), 2) << jsonUsage.out;
    EXPECT_FALSE(fs::exists(dir / "libman.json")) << "bad usage must not create a project";

    Result help = RunLibman(dir, {"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* command : {"add", "remove", "list", "objects", "cache", "config", "enumerate", "search", "show",
                                "tree", "scripts", "sync"})
        EXPECT_NE(help.out.find(std::string("  ") + command + " "), std::string::npos) << command;
    Result sub = RunLibman(dir, {"config", "export", "--help"});
    EXPECT_EQ(sub.status, 0);
    EXPECT_NE(sub.out.find("Example:\n  libman "), std::string::npos) << sub.out;
}

// The project file is libman's own: a damaged one is reported by reading and
// by writing commands, and never replaced.
TEST(LibmanTool, MissingOrDamagedProjectFileIsReportedAndNeverOverwritten)
{
    TempDir dir;
    dir.MakeFolder("Parts");
    Result missing = RunLibman(dir, {"list"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("libman add"), std::string::npos) << missing.err;
    EXPECT_FALSE(fs::exists(dir / "libman.json"));

    const std::string blockOk = R"({"format":"libman-project","version":1,"configuration":{"version":201,"hex":)";
    for (const std::string& content : std::vector<std::string>{
             "{ not json", R"({"format":"something else","version":1})",
             blockOk + R"("36303x"}})",           // not hex
             blockOk + R"("0102030405060708"}})",  // hex, but not a block
             R"({"format":"libman-project","version":1,"settings":{"lanCache":7}})"}) {
        WriteFileBytes(dir / "mine.json", content);
        for (std::vector<std::string> args : {std::vector<std::string>{"add", "Parts"}, {"config", "reset"}}) {
            args.insert(args.end(), {"--project", "mine.json"});
            Result r = RunLibman(dir, args);
            EXPECT_EQ(r.status, 1) << content;
            EXPECT_NE(r.err.find("mine.json is damaged"), std::string::npos) << r.err;
            EXPECT_EQ(ReadFileBytes(dir / "mine.json"), content);
        }
    }
    EXPECT_EQ(TestSupport::NamesIn(dir.Path()), (std::vector<std::string>{"Parts", "mine.json"}));
}

TEST(LibmanTool, AddListRemoveAndAVanishedLibrary)
{
    TempDir dir;
    dir.MakeFolder("Parts");
    dir.MakeFolder("More/Doors");
    TestSupport::MakeZip(dir / "Windows.zip", {{"Windows/w.txt", "x"}});
    const std::string parts = dir / "Parts";
    const std::string url = "https://example.com/libraries/windows";

    Result first = RunLibman(dir, {"add", "Parts", "--vital", "--json"});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.Json()["library"]["location"], parts);
    EXPECT_EQ(RunLibman(dir, {"add", dir / "More/Doors/", "--permanent"}).status, 0);
    EXPECT_EQ(RunLibman(dir, {"add", url}).status, 0);
    EXPECT_EQ(RunLibman(dir, {"add", "Windows.zip", "--no-mount"}).status, 0);
    EXPECT_NE(RunLibman(dir, {"add", "./Parts"}).out.find("already in the project"), std::string::npos);
    EXPECT_EQ(RunLibman(dir, {"add", "Nowhere"}).status, 1);
    dir.WriteFile("notes.txt", "x");
    EXPECT_NE(RunLibman(dir, {"add", "notes.txt", "--project", "other.json"}).err.find("without the .zip extension"),
              std::string::npos);

    std::map<std::string, json> libraries = ListByWhere(dir);
    ASSERT_EQ(libraries.size(), 4u);
    EXPECT_TRUE(libraries[parts]["vital"].get<bool>());
    EXPECT_TRUE(libraries[dir / "More/Doors"]["permanent"].get<bool>());
    EXPECT_EQ(libraries[dir / "More/Doors"]["name"], "Doors");
    EXPECT_TRUE(libraries[dir / "Windows.zip"]["exists"].get<bool>());
    EXPECT_NE(RunLibman(dir, {"list"}).out.find(parts + " [vital]"), std::string::npos);

    EXPECT_EQ(RunLibman(dir, {"remove", "Doors"}).status, 0);
    EXPECT_EQ(RunLibman(dir, {"remove", "Doors"}).status, 1);  // no longer there
    EXPECT_EQ(RunLibman(dir, {"remove", "7"}).status, 1);
    EXPECT_EQ(RunLibman(dir, {"remove", std::to_string(ListByWhere(dir)[url]["index"].get<std::int32_t>())}).status,
              0);
    EXPECT_EQ(ListByWhere(dir).size(), 2u);

    // A library folder that went away is a problem that list reports.
    fs::remove(dir / "Parts");
    Result gone = RunLibman(dir, {"list", "--json"});
    EXPECT_EQ(gone.status, 1);
    ASSERT_EQ(gone.Json()["warnings"].size(), 1u) << gone.out;
    EXPECT_NE(gone.Json()["warnings"][0].get<std::string>().find(parts), std::string::npos);
}

TEST(LibmanTool, ConfigExportImportDiffMergeReset)
{
    TempDir dir;
    dir.MakeFolder("A");
    dir.MakeFolder("B");
    dir.WriteFile("plan.txt", "x");
    ASSERT_EQ(RunLibman(dir, {"add", "A"}).status, 0);
    ASSERT_EQ(RunLibman(dir, {"add", "B", "--permanent"}).status, 0);
    ASSERT_EQ(RunLibman(dir, {"objects", "add", "plan.txt"}).status, 0);
    ASSERT_EQ(RunLibman(dir, {"config", "export", "both.cfg"}).status, 0);
    ASSERT_EQ(RunLibman(dir, {"config", "export", "--without-permanent", "noperm.cfg"}).status, 0);

    EXPECT_EQ(RunLibman(dir, {"config", "diff", "both.cfg"}).status, 0);
    Result diff = RunLibman(dir, {"config", "diff", "noperm.cfg", "--json"});
    EXPECT_EQ(diff.status, 1);
    EXPECT_EQ(diff.Json()["onlyInProject"], json::array({dir / "B"})) << diff.out;

    ASSERT_EQ(RunLibman(dir, {"config", "import", "noperm.cfg"}).status, 0);
    EXPECT_EQ(ListByWhere(dir).size(), 1u);
    ASSERT_EQ(RunLibman(dir, {"config", "import", "both.cfg"}).status, 0);
    EXPECT_EQ(RunLibman(dir, {"objects", "list", "--json"}).Json()["objects"][0]["where"], dir / "plan.txt");

    // A block that cannot be read changes nothing.
    const std::string before = ReadFileBytes(dir / "libman.json");
    dir.WriteFile("junk.cfg", "this is not a block");
    Result junk = RunLibman(dir, {"config", "import", "junk.cfg"});
    EXPECT_EQ(junk.status, 1);
    EXPECT_NE(junk.err.find("junk.cfg"), std::string::npos) << junk.err;
    EXPECT_EQ(RunLibman(dir, {"config", "import", "absent.cfg"}).status, 1);
    EXPECT_EQ(ReadFileBytes(dir / "libman.json"), before);

    ASSERT_EQ(RunLibman(dir, {"config", "reset"}).status, 0);
    EXPECT_TRUE(ListByWhere(dir).empty());
    Result merged = RunLibman(dir, {"config", "merge", "both.cfg", "--json"});
    ASSERT_EQ(merged.status, 0) << merged.err;
    EXPECT_EQ(merged.Json()["addedLibraries"], 2);
}

// --- the part table ------------------------------------------------------------

TestSupport::ToolResult RunLpf(const TempDir& dir, const std::vector<std::string>& args)
{
    return TestSupport::RunTool(LPF_TOOL_PATH, args, dir);
}

// The counts of `lpf generate`'s summary line ("parts=300 scripts=6 ...").
std::map<std::string, long> Generate(const TempDir& dir, const std::string& folder, int parts)
{
    TestSupport::ToolResult r = RunLpf(dir, {"generate", folder, "--parts", std::to_string(parts), "--seed", "9"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::map<std::string, long> counts;
    std::istringstream in(r.out);
    for (std::string item; in >> item;)
        if (auto eq = item.find('='); eq != std::string::npos)
            counts[item.substr(0, eq)] = std::stol(item.substr(eq + 1));
    return counts;
}

// What the summary counts is the walk's business and tested with it; here
// the command reports, exits and shows progress.
TEST(LibmanTool, EnumerateSummarisesTheLibrariesAndItsProblems)
{
    TempDir dir;
    std::map<std::string, long> made = Generate(dir, "Parts", 300);
    dir.WriteFile("Parts/broken.lpf", "not a part file");
    dir.MakeFolder("Gone");
    ASSERT_EQ(RunLibman(dir, {"add", "Parts"}).status, 0);
    ASSERT_EQ(RunLibman(dir, {"add", "Gone"}).status, 0);
    fs::remove(dir / "Gone");

    Result r = RunLibman(dir, {"enumerate", "--json"});
    EXPECT_EQ(r.status, 1);
    json j = r.Json();
    ASSERT_FALSE(j.is_discarded()) << r.out;
    EXPECT_EQ(j["parts"], made["parts"]);
    EXPECT_EQ(j["unreadable"], json::array({dir / "Parts/broken.lpf"}));
    EXPECT_EQ(j["missing"], json::array({dir / "Gone"}));
    EXPECT_FALSE(j["cancelled"].get<bool>());
    EXPECT_GT(j["warnings"].size(), 10u);  // every duplicate report; the text shows a few

    Result text = RunLibman(dir, {"enumerate"});
    EXPECT_EQ(text.status, 1);
    EXPECT_NE(text.out.find("  parts         " + std::to_string(made["parts"]) + "\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("more duplicate reports than shown"), std::string::npos) << text.out;
    EXPECT_NE(text.err.find("[1/"), std::string::npos) << "plain progress lines when stderr is a file";

    // Without problems it exits with 0.
    ASSERT_EQ(RunLibman(dir, {"config", "reset"}).status, 0);
    dir.MakeFolder("Clean");
    RunLpf(dir, {"create", dir / "Clean/one.lpf", "--name", "One"});
    ASSERT_EQ(RunLibman(dir, {"add", "Clean"}).status, 0);
    EXPECT_EQ(RunLibman(dir, {"enumerate"}).status, 0);
}

TEST(LibmanTool, CtrlCCancelsTheEnumerationAndASecondOneQuits)
{
    TempDir dir;
    Generate(dir, "Big", 10000);
    ASSERT_EQ(RunLibman(dir, {"add", "Big"}).status, 0);
    // Enumerates and presses Ctrl-C `times` times once the walk started.
    const auto interrupted = [&](const std::vector<std::string>& args, int times) {
        TestSupport::RunningTool run(LIBMAN_TOOL_PATH, args, dir);
        EXPECT_TRUE(run.WaitForError("] Big: ")) << "the walk of the library did not start";
        for (int i = 0; i < times; ++i) {
            EXPECT_TRUE(i == 0 || run.WaitForError("cancelling"));
            run.Signal(SIGINT);
        }
        return Result{run.Wait()};
    };
    Result r = interrupted({"enumerate", "--json"}, 1);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(r.Json()["cancelled"].get<bool>()) << r.out;
    EXPECT_NE(r.err.find("cancelling"), std::string::npos) << r.err;

    // A vital library is walked to its end whatever the user presses, unless
    // Ctrl-C comes twice.
    ASSERT_EQ(RunLibman(dir, {"config", "reset"}).status, 0);
    ASSERT_EQ(RunLibman(dir, {"add", "Big", "--vital"}).status, 0);
    EXPECT_EQ(interrupted({"enumerate", "--json"}, 1).Json()["parts"], 10000);
    EXPECT_EQ(interrupted({"enumerate"}, 2).status, 130);
}

// Three parts in one line of types (Root > Child > Grandchild), a revision
// of Child, and a script.
class LibmanParts : public ::testing::Test {
protected:
#define LIBMAN_TEST_UNID(main, revision) \
    "{10000000-0000-0000-0000-00000000000" #main "}-{20000000-0000-0000-0000-00000000000" #revision "}"
    static constexpr const char* RootId = LIBMAN_TEST_UNID(1, 1);
    static constexpr const char* ChildId = LIBMAN_TEST_UNID(2, 2);
    static constexpr const char* ChildRev = LIBMAN_TEST_UNID(2, 9);  // another revision of Child
    static constexpr const char* GrandId = LIBMAN_TEST_UNID(3, 3);

    void SetUp() override
    {
        dir_.MakeFolder("Lib/Sub");
        const std::vector<std::vector<std::string>> parts = {
            {"create", dir_ / "Lib/root.lpf", "--name", "Root", "--unid", RootId, "--template"},
            {"create", dir_ / "Lib/child.lpf", "--name", "Child", "--unid", ChildId, "--ancestor", RootId},
            {"create", dir_ / "Lib/Sub/child2.lpf", "--name", "Child New", "--unid", ChildRev, "--ancestor", RootId},
            {"create", dir_ / "Lib/Sub/grand.lpf", "--name", "Grandchild", "--unid", GrandId, "--ancestor", RootId,
             "--ancestor", ChildId, "--placeable"},
            {"create-script", dir_ / "Lib/macro.lps", "--name", "Macro", "--text", "x"},
        };
        for (const auto& args : parts)
            ASSERT_EQ(RunLpf(dir_, args).status, 0) << args[1];
        ASSERT_EQ(RunLibman(dir_, {"add", "Lib"}).status, 0);
    }

    std::vector<std::string> Names(const std::vector<std::string>& args)
    {
        std::vector<std::string> command = args;
        command.push_back("--json");
        Result r = RunLibman(dir_, command);
        EXPECT_EQ(r.status, 0) << r.err;
        std::vector<std::string> names;
        const json found = r.Json();
        for (const json& part : found["parts"])
            names.push_back(part["name"]);
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir_;
};

// One search per key option, one show per way of naming a part and one tree
// per output form: finding parts and their ancestry is tested with the part
// table and the type hierarchy.
TEST_F(LibmanParts, SearchShowAndTreeWireUpTheirOptions)
{
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> searches = {
        {{"search", "--name", "CHILD"}, {"Child", "Child New", "Grandchild"}},
        {{"search", "--name", "nothing"}, {}},
        {{"search", "--file", "GRAND.lpf"}, {"Grandchild"}},
        {{"search", "--unid", ChildId}, {"Child"}},
        {{"search", "--main", ChildId}, {"Child", "Child New"}},
        {{"search", "--path", "Lib/Sub/child2.lpf"}, {"Child New"}},
    };
    for (const auto& [args, expected] : searches)
        EXPECT_EQ(Names(args), expected) << args[1] << " " << args[2];
    json hit = RunLibman(dir_, {"search", "--name", "grand", "--json"}).Json()["parts"][0];
    EXPECT_EQ(hit["location"], dir_ / "Lib/Sub/grand.lpf");
    EXPECT_EQ(hit["flags"], json::array({"placeable", "archivable"}));
    EXPECT_EQ(RunLibman(dir_, {"search", "--name", "macro", "--json"}).Json()["parts"][0]["flags"],
              json::array({"script", "archivable"}));
    EXPECT_EQ(RunLibman(dir_, {"show", "Root", "--json"}).Json()["part"]["flags"],
              json::array({"template", "archivable"}));

    for (const std::string which : {"Grandchild", GrandId, "Lib/Sub/grand.lpf"}) {
        json part = RunLibman(dir_, {"show", which, "--json"}).Json()["part"];
        EXPECT_EQ(part["parent"]["name"], "Child") << which << part;
        EXPECT_EQ(part["ancestry"][0]["unid"], RootId);
    }
    Result missing = RunLibman(dir_, {"show", "Nobody"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("libman search"), std::string::npos) << missing.err;

    EXPECT_NE(RunLibman(dir_, {"tree", "--sort", "name"}).out.find("  Root [template]\n    Child\n      Grandchild\n"
                                                                   "    Child New\n"),
              std::string::npos);
    EXPECT_EQ(RunLibman(dir_, {"tree", "--json"}).Json()["count"], 4);
    EXPECT_EQ(RunLibman(dir_, {"tree", "--depth", "1", "--json"}).Json()["count"], 1);
    EXPECT_EQ(RunLibman(dir_, {"tree", "Child", "--json"}).Json()["tree"][0]["name"], "Grandchild");
    EXPECT_EQ(RunLibman(dir_, {"tree", "--dot"}).out.rfind("digraph hierarchy {", 0), 0u);
    ASSERT_EQ(RunLibman(dir_, {"tree", "--svg", "h.svg"}).status, 0);
    const std::string picture = ReadFileBytes(dir_ / "h.svg");
    EXPECT_EQ(picture.rfind("<?xml", 0), 0u);
    EXPECT_NE(picture.find(">Grandchild</text>"), std::string::npos);
}

TEST_F(LibmanParts, BadUsageOfThePartCommands)
{
    const std::vector<std::vector<std::string>> cases = {
        {"search"},
        {"search", "--name", "a", "--file", "b"},
        {"search", "--unid", "not-a-unid"},
        {"show"},
        {"tree", "--depth", "-1"},
        {"tree", "--dot", "--svg", "x.svg"},
        {"scripts"},
        {"sync"},  // without a LAN cache
    };
    for (const auto& args : cases)
        EXPECT_EQ(RunLibman(dir_, args).status, 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
    EXPECT_FALSE(fs::exists(dir_ / "x.svg"));
    EXPECT_NE(RunLibman(dir_, {"sync"}).err.find("libman cache set --lan DIR --use-lan on"), std::string::npos);
}

// The script cache is cleared and described with the parts of the project
// (before a LAN cache is used: it is still empty); cache folders are
// checked and kept.
TEST_F(LibmanParts, TheScriptCacheIsClearedAndCacheSettingsAreCheckedAndKept)
{
    EXPECT_EQ(RunLibman(dir_, {"scripts", "stats"}).status, 1) << "no cache folder set";
    dir_.MakeFolder("codes");
    ASSERT_EQ(RunLibman(dir_, {"cache", "set", "--scripts", "codes"}).status, 0);
    ASSERT_EQ(RunLibman(dir_, {"scripts", "clear"}).status, 0);
    // The cleared cache is written when libman ends.
    Result r = RunLibman(dir_, {"scripts", "stats", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    json state = r.Json()["scripts"];
    EXPECT_EQ(state["file"], dir_ / "codes/ScriptCodeCache.dat");
    EXPECT_TRUE(state["valid"].get<bool>());
    EXPECT_EQ(state["items"], 0);

    dir_.MakeFolder("lan");
    dir_.MakeFolder("url");
    Result refused = RunLibman(dir_, {"cache", "set", "--lan", "nowhere"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find(dir_ / "nowhere"), std::string::npos) << refused.err;
    EXPECT_EQ(RunLibman(dir_, {"cache", "set", "--use-lan", "on"}).status, 1);  // no LAN cache yet
    ASSERT_EQ(RunLibman(dir_, {"cache", "set", "--lan", "lan", "--url", "url", "--use-lan", "on"}).status, 0);
    json shown = RunLibman(dir_, {"cache", "show", "--json"}).Json();
    EXPECT_EQ(shown["caches"]["lan"], dir_ / "lan");
    EXPECT_EQ(shown["caches"]["url"], dir_ / "url");
    EXPECT_TRUE(shown["caches"]["useLan"].get<bool>());
}

class LibmanSync : public LibmanParts {
protected:
    void SetUp() override
    {
        LibmanParts::SetUp();
        dir_.MakeFolder("lan");
        ASSERT_EQ(RunLibman(dir_, {"cache", "set", "--lan", dir_ / "lan", "--use-lan", "on"}).status, 0);
        Result first = RunLibman(dir_, {"sync", "--json"});
        ASSERT_EQ(first.status, 0) << first.err;
        ASSERT_EQ(first.Json()["downloaded"].size(), 5u) << first.out;
    }
    // Writes `text` with a time later than every earlier write (the
    // synchronisation compares times to the second).
    void Change(const std::string& path, const std::string& text)
    {
        WriteFileBytes(dir_ / path, text);
        fs::last_write_time(dir_ / path, fs::file_time_type::clock::now() + std::chrono::seconds(10 * ++changes_));
    }
    int changes_ = 0;
};

// Which way each file goes is tested with the synchronisation; here the
// answers (--no, none without a terminal, --yes) and the dry run.
TEST_F(LibmanSync, TheAnswerDecidesAFileChangedOnBothSidesADryRunCopiesNothingAndOnePartGoesAlone)
{
    const std::vector<std::pair<std::vector<std::string>, bool>> cases = {
        {{"--no"}, false}, {{}, false}, {{"--yes"}, true}};
    for (const auto& [answer, cacheWins] : cases) {
        const std::string n = std::to_string(changes_);
        Change("Lib/root.lpf", "library root" + n);
        Change("Lib/child.lpf", "library child" + n);
        Change("lan/Lib/child.lpf", "cache child" + n);

        std::vector<std::string> dry = {"sync", "--dry-run", "--json"};
        dry.insert(dry.end(), answer.begin(), answer.end());
        Result d = RunLibman(dir_, dry);
        ASSERT_EQ(d.status, 0) << d.err;
        EXPECT_EQ(d.Json()["asked"][0]["answer"], cacheWins) << d.out;
        EXPECT_NE(ReadFileBytes(dir_ / "lan/Lib/root.lpf"), "library root" + n) << "a dry run copied";

        std::vector<std::string> run = {"sync"};
        run.insert(run.end(), answer.begin(), answer.end());
        Result r = RunLibman(dir_, run);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find(answer.empty() ? "no answer given" : cacheWins ? "yes" : "no"), std::string::npos);
        EXPECT_EQ(ReadFileBytes(dir_ / "lan/Lib/root.lpf"), "library root" + n);
        EXPECT_EQ(ReadFileBytes(dir_ / "Lib/child.lpf"), cacheWins ? "cache child" + n : "library child" + n);
    }

    // One part is synchronised alone.
    for (const char* path : {"Lib/Sub/grand.lpf", "Lib/root.lpf"})
        Change(path + std::string(), ReadFileBytes(dir_ / path) + "changed");
    Result r = RunLibman(dir_, {"sync", GrandId, "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.Json()["downloaded"], json::array({dir_ / "lan/Lib/Sub/grand.lpf"})) << r.out;
    EXPECT_EQ(RunLibman(dir_, {"sync", "Nobody"}).status, 1);
}

}  // namespace
