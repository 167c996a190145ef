// Runs the built libman tool on temporary folders, as a user would, and
// checks its output, its JSON and its exit status.
#include "Support/TempDir.hpp"
#include "Support/Zip.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef LIBMAN_TOOL_PATH
#error "LIBMAN_TOOL_PATH must name the libman binary"
#endif

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using TestSupport::ReadFileBytes;
using TestSupport::TempDir;
using TestSupport::WriteFileBytes;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
    json Json() const { return json::parse(out, nullptr, false); }
};

// Runs libman with `args` in the folder `dir` (so that the default project
// file is dir/libman.json). A run that hangs is ended after 30 seconds and
// fails with status -1.
Result RunLibman(const TempDir& dir, const std::vector<std::string>& args)
{
    const std::string outPath = dir / ".stdout";
    const std::string errPath = dir / ".stderr";
    pid_t pid = ::fork();
    if (pid == 0) {
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (::chdir(dir.Path().c_str()) != 0)
            ::_exit(126);
        ::alarm(30);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(LIBMAN_TOOL_PATH));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(LIBMAN_TOOL_PATH, argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    Result r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFileBytes(outPath), ReadFileBytes(errPath)};
    fs::remove(outPath);
    fs::remove(errPath);
    return r;
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
    EXPECT_EQ(RunLibman(dir, {}).status, 2);
    Result unknown = RunLibman(dir, {"enumerate"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("libman --help"), std::string::npos) << unknown.err;
    EXPECT_EQ(RunLibman(dir, {"add"}).status, 2);
    EXPECT_EQ(RunLibman(dir, {"cache", "set"}).status, 2);
    EXPECT_EQ(RunLibman(dir, {"cache", "set", "--use-lan", "maybe"}).status, 2);
    EXPECT_EQ(RunLibman(dir, {"config", "export", "--version", "300", "x.cfg"}).status, 2);
    Result jsonUsage = RunLibman(dir, {"remove", "--json"});
    EXPECT_EQ(jsonUsage.status, 2);
    EXPECT_EQ(jsonUsage.Json().value("status", -1), 2) << jsonUsage.out;
    EXPECT_FALSE(fs::exists(dir / "libman.json")) << "bad usage must not create a project";

    Result help = RunLibman(dir, {"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* command : {"add", "remove", "list", "objects", "cache", "config"})
        EXPECT_NE(help.out.find(command), std::string::npos) << command;
    for (const char* later : {"enumerate", "search", "tree", "sync", "scripts"})
        EXPECT_EQ(help.out.find(later), std::string::npos) << later;
    for (std::vector<std::string> sub : {std::vector<std::string>{"add", "--help"},
                                         {"config", "export", "--help"}, {"cache", "set", "--help"}}) {
        Result r = RunLibman(dir, sub);
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find("Example:\n  libman "), std::string::npos) << sub[0];
    }
}

TEST(LibmanTool, MissingOrDamagedProjectFileIsReportedAndNeverOverwritten)
{
    TempDir dir;
    dir.MakeFolder("Parts");
    Result missing = RunLibman(dir, {"list"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("./libman.json"), std::string::npos) << missing.err;
    EXPECT_NE(missing.err.find("libman add"), std::string::npos) << missing.err;
    EXPECT_FALSE(fs::exists(dir / "libman.json"));

    const std::string blockOk = R"({"format":"libman-project","version":1,"configuration":{"version":201,"hex":)";
    const std::vector<std::string> damaged = {
        "{ not json",
        R"({"format":"something else","version":1})",
        blockOk + R"("36303x"}})",           // not hex
        blockOk + R"("0102030405060708"}})",  // hex, but not a block
        R"({"format":"libman-project","version":1,"settings":{"lanCache":7}})",
    };
    for (const std::string& content : damaged) {
        WriteFileBytes(dir / "mine.json", content);
        for (std::vector<std::string> args : {std::vector<std::string>{"add", "Parts"}, {"list"}, {"config", "reset"}}) {
            args.insert(args.end(), {"--project", "mine.json"});
            Result r = RunLibman(dir, args);
            EXPECT_EQ(r.status, 1) << content;
            EXPECT_NE(r.err.find("mine.json is damaged"), std::string::npos) << r.err;
            EXPECT_EQ(ReadFileBytes(dir / "mine.json"), content);
        }
    }
    // Nothing but the damaged file is left behind in the folder.
    std::size_t entries = std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator());
    EXPECT_EQ(entries, 2u);
}

TEST(LibmanTool, AddListRemoveRoundTrip)
{
    TempDir dir;
    dir.MakeFolder("Parts");
    dir.MakeFolder("More/Doors");
    const std::string parts = dir / "Parts";
    const std::string doors = dir / "More/Doors";
    const std::string url = "https://example.com/libraries/windows";

    Result first = RunLibman(dir, {"add", "Parts", "--vital", "--json"});
    ASSERT_EQ(first.status, 0) << first.err;
    json added = first.Json();
    EXPECT_TRUE(added["added"].get<bool>());
    EXPECT_EQ(added["library"]["location"], parts);
    EXPECT_EQ(RunLibman(dir, {"add", doors + "/", "--permanent"}).status, 0);
    EXPECT_EQ(RunLibman(dir, {"add", url}).status, 0);
    Result again = RunLibman(dir, {"add", "./Parts"});
    EXPECT_EQ(again.status, 0);
    EXPECT_NE(again.out.find("already in the project"), std::string::npos) << again.out;
    EXPECT_EQ(RunLibman(dir, {"add", "Nowhere"}).status, 1);

    // The project file is readable JSON with the block inside.
    json project = json::parse(ReadFileBytes(dir / "libman.json"), nullptr, false);
    ASSERT_FALSE(project.is_discarded());
    EXPECT_EQ(project["format"], "libman-project");
    EXPECT_EQ(project["configuration"]["version"], 201);

    std::map<std::string, json> libraries = ListByWhere(dir);
    ASSERT_EQ(libraries.size(), 3u);
    EXPECT_TRUE(libraries[parts]["vital"].get<bool>());
    EXPECT_FALSE(libraries[parts]["permanent"].get<bool>());
    EXPECT_TRUE(libraries[doors]["permanent"].get<bool>());
    EXPECT_EQ(libraries[doors]["name"], "Doors");
    EXPECT_TRUE(libraries.contains(url));

    Result text = RunLibman(dir, {"list"});
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find(parts + " [vital]"), std::string::npos) << text.out;

    EXPECT_EQ(RunLibman(dir, {"remove", "Doors"}).status, 0);
    EXPECT_EQ(RunLibman(dir, {"remove", "Doors"}).status, 1);
    EXPECT_EQ(RunLibman(dir, {"remove", "7"}).status, 1);
    libraries = ListByWhere(dir);
    ASSERT_EQ(libraries.size(), 2u);
    EXPECT_FALSE(libraries.contains(doors));
    const std::int32_t urlIndex = libraries[url]["index"].get<std::int32_t>();
    EXPECT_EQ(RunLibman(dir, {"remove", std::to_string(urlIndex)}).status, 0);
    libraries = ListByWhere(dir);
    ASSERT_EQ(libraries.size(), 1u);
    EXPECT_TRUE(libraries.contains(parts));
}

TEST(LibmanTool, ContainerFileIsAddedMountedOrNot)
{
    TempDir dir;
    TestSupport::MakeZip(dir / "Doors.zip", {{"Doors/door.txt", "x"}});
    RunLibman(dir, {"add", "Doors.zip", "--vital"});
    RunLibman(dir, {"add", "Doors.zip", "--no-mount", "--project", "unmounted.json"});
    for (const char* project : {"libman.json", "unmounted.json"}) {
        Result r = RunLibman(dir, {"list", "--json", "--project", project});
        EXPECT_EQ(r.status, 0) << project << r.err;
        json j = r.Json();
        ASSERT_EQ(j["libraries"].size(), 1u) << project;
        EXPECT_EQ(j["libraries"][0]["location"], dir / "Doors.zip");
        EXPECT_TRUE(j["libraries"][0]["exists"].get<bool>());
    }
    // A file that is not a zip is still taken as a container, with a warning.
    dir.WriteFile("notes.txt", "x");
    Result other = RunLibman(dir, {"add", "notes.txt"});
    EXPECT_EQ(other.status, 0);
    EXPECT_NE(other.err.find("without the .zip extension"), std::string::npos) << other.err;
}

TEST(LibmanTool, VanishedLibraryFolderIsAProblemOfList)
{
    TempDir dir;
    dir.MakeFolder("Gone");
    ASSERT_EQ(RunLibman(dir, {"add", "Gone"}).status, 0);
    fs::remove(dir / "Gone");
    Result r = RunLibman(dir, {"list", "--json"});
    EXPECT_EQ(r.status, 1);
    json j = r.Json();
    ASSERT_EQ(j["libraries"].size(), 1u);
    EXPECT_FALSE(j["libraries"][0]["exists"].get<bool>());
    ASSERT_EQ(j["warnings"].size(), 1u);
    EXPECT_NE(j["warnings"][0].get<std::string>().find(dir / "Gone"), std::string::npos);
    EXPECT_EQ(RunLibman(dir, {"remove", "Gone"}).status, 0);
    EXPECT_EQ(RunLibman(dir, {"list"}).status, 0);
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
    ASSERT_EQ(RunLibman(dir, {"config", "export", "--version", "105", "old.cfg"}).status, 0);
    EXPECT_NE(ReadFileBytes(dir / "both.cfg"), ReadFileBytes(dir / "old.cfg"));

    EXPECT_EQ(RunLibman(dir, {"config", "diff", "both.cfg"}).status, 0);
    Result diff = RunLibman(dir, {"config", "diff", "noperm.cfg", "--json"});
    EXPECT_EQ(diff.status, 1);
    EXPECT_EQ(diff.Json()["onlyInProject"], json::array({dir / "B"})) << diff.out;

    // Import replaces; the old text form reads back to the same libraries
    // (it carries no other objects), the current one to everything.
    ASSERT_EQ(RunLibman(dir, {"config", "import", "noperm.cfg"}).status, 0);
    EXPECT_EQ(ListByWhere(dir).size(), 1u);
    ASSERT_EQ(RunLibman(dir, {"config", "import", "old.cfg"}).status, 0);
    EXPECT_EQ(ListByWhere(dir).size(), 2u);
    ASSERT_EQ(RunLibman(dir, {"config", "import", "both.cfg"}).status, 0);
    Result objects = RunLibman(dir, {"objects", "list", "--json"});
    ASSERT_EQ(objects.Json()["objects"].size(), 1u) << objects.out;
    EXPECT_EQ(objects.Json()["objects"][0]["where"], dir / "plan.txt");

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
    EXPECT_EQ(RunLibman(dir, {"config", "diff", "both.cfg"}).status, 0);
}

TEST(LibmanTool, CacheSettingsAreCheckedAndKept)
{
    TempDir dir;
    dir.MakeFolder("lan");
    dir.MakeFolder("url");
    Result refused = RunLibman(dir, {"cache", "set", "--lan", "nowhere"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find(dir / "nowhere"), std::string::npos) << refused.err;
    EXPECT_EQ(RunLibman(dir, {"cache", "set", "--use-lan", "on"}).status, 1);

    ASSERT_EQ(RunLibman(dir, {"cache", "set", "--lan", "lan", "--url", "url", "--use-lan", "on"}).status, 0);
    json shown = RunLibman(dir, {"cache", "show", "--json"}).Json();
    EXPECT_EQ(shown["caches"]["lan"], dir / "lan");
    EXPECT_EQ(shown["caches"]["url"], dir / "url");
    EXPECT_TRUE(shown["caches"]["useLan"].get<bool>());

    // Reset stops using the LAN cache; the folders stay.
    ASSERT_EQ(RunLibman(dir, {"config", "reset"}).status, 0);
    shown = RunLibman(dir, {"cache", "show", "--json"}).Json();
    EXPECT_FALSE(shown["caches"]["useLan"].get<bool>());
    EXPECT_EQ(shown["caches"]["lan"], dir / "lan");
}

}  // namespace
