// libman: manages the active libraries of a project from the command line,
// through the library manager's public interface as an application does.
//
// Exit status: 0 on success, 1 when the command ran and found problems, 2 for
// bad usage. --json prints one JSON object on standard output instead of text.
#include "Commands.hpp"
#include "Output.hpp"

#include <CLI/CLI.hpp>

#include <cstring>
#include <iostream>
#include <string>

namespace {

using namespace Libman;

CLI::App* Command(CLI::App& parent, const char* name, const char* description, const char* example)
{
    CLI::App* command = parent.add_subcommand(name, description);
    command->footer(std::string("Example:\n  ") + example + "\n");
    return command;
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"Manages the active libraries of a project: the libraries, other objects, cache folders and the "
                 "stored configuration; enumerates them, searches the parts and draws their type hierarchy.",
                 "libman"};
    app.footer("Example:\n  libman add ./Parts --vital && libman list\n\n"
               "Every command takes --project FILE (default ./libman.json) and --json.\n"
               "Exit status: 0 success, 1 the command found problems, 2 bad usage.\n");
    app.set_version_flag("--version", std::string("libman ") + LIBMAN_TOOL_VERSION);
    app.require_subcommand(1);
    app.fallthrough();  // --project and --json are accepted after the command too
    std::string project = "./libman.json";
    bool json = false;
    app.add_option("--project", project, "The project file")->capture_default_str();
    app.add_flag("--json", json, "Machine-readable output on standard output");

    AddOptions add;
    CLI::App* addCmd = Command(app, "add", "Add a library: a folder, a container file (.zip) or a URL.",
                               "libman add ./Parts --vital");
    addCmd->add_option("LIBRARY", add.target, "Folder, FILE.zip or URL")->required();
    addCmd->add_flag("--vital", add.vital, "The project cannot work without this library");
    addCmd->add_flag("--permanent", add.permanent, "Never replaced by a cache copy, never synchronised");
    addCmd->add_flag("--no-mount", add.noMount, "Do not mount a container file now");

    std::string removeWhich;
    CLI::App* removeCmd = Command(app, "remove", "Remove a library by its name, location or index (see list).",
                                  "libman remove Parts");
    removeCmd->add_option("LIBRARY", removeWhich, "Name, location or index")->required();

    CLI::App* listCmd = Command(app, "list", "List the libraries with their flags; missing ones are problems.",
                                "libman list --json");

    CLI::App* objectsCmd = Command(app, "objects", "The other objects: files outside the libraries.",
                                   "libman objects add ./drawing.pln");
    objectsCmd->require_subcommand(1);
    std::string objectTarget;
    CLI::App* objectsAddCmd = Command(*objectsCmd, "add", "Add a file or URL as another object.",
                                      "libman objects add ./drawing.pln");
    objectsAddCmd->add_option("OBJECT", objectTarget, "File, folder or URL")->required();
    CLI::App* objectsListCmd = Command(*objectsCmd, "list", "List the other objects.", "libman objects list");

    CLI::App* cacheCmd = Command(app, "cache", "The LAN, URL and script code cache folders.",
                                 "libman cache set --lan /srv/cache --use-lan on");
    cacheCmd->require_subcommand(1);
    CLI::App* cacheShowCmd = Command(*cacheCmd, "show", "Show the cache folders.", "libman cache show");
    CacheOptions cache;
    std::string lan, url, scripts, useLan;
    CLI::App* cacheSetCmd = Command(*cacheCmd, "set", "Set cache folders (existing folders) and the LAN cache's use.",
                                    "libman cache set --lan /srv/cache --use-lan on");
    CLI::Option* lanOpt = cacheSetCmd->add_option("--lan", lan, "LAN cache folder");
    CLI::Option* urlOpt = cacheSetCmd->add_option("--url", url, "URL cache folder");
    CLI::Option* scriptsOpt = cacheSetCmd->add_option("--scripts", scripts, "Compiled script code cache folder");
    CLI::Option* useLanOpt =
        cacheSetCmd->add_option("--use-lan", useLan, "Use the LAN cache")->check(CLI::IsMember({"on", "off"}));

    CLI::App* configCmd = Command(app, "config", "The stored configuration block: export, import, compare.",
                                  "libman config export --version 105 old.cfg");
    configCmd->require_subcommand(1);
    std::int32_t exportVersion = 201;
    bool withoutPermanent = false;
    std::string exportFile;
    CLI::App* exportCmd = Command(*configCmd, "export", "Write the configuration block to a file.",
                                  "libman config export --version 105 --without-permanent old.cfg");
    exportCmd->add_option("--version", exportVersion, "201 (binary) or 105 (old text form)")
        ->check(CLI::IsMember({201, 105}))
        ->capture_default_str();
    exportCmd->add_flag("--without-permanent", withoutPermanent, "Leave out the permanent folder and file libraries");
    exportCmd->add_option("FILE", exportFile, "File to write")->required();
    std::string importFile;
    bool swapBytes = false;
    CLI::App* importCmd = Command(*configCmd, "import", "Replace the libraries and other objects by a block's.",
                                  "libman config import project.cfg");
    importCmd->add_option("FILE", importFile, "Block of version 201 or 105")->required();
    importCmd->add_flag("--swap-bytes", swapBytes, "The block was written on a platform of the other byte order");
    std::string diffFile;
    bool diffCaches = false;
    CLI::App* diffCmd = Command(*configCmd, "diff", "Compare the project with a block; status 1 when they differ.",
                                "libman config diff other.cfg --caches");
    diffCmd->add_option("FILE", diffFile, "Block to compare with")->required();
    diffCmd->add_flag("--caches", diffCaches, "Compare the cache settings too");
    std::string mergeFile;
    CLI::App* mergeCmd = Command(*configCmd, "merge", "Add a block's libraries and other objects to the project.",
                                 "libman config merge other.cfg");
    mergeCmd->add_option("FILE", mergeFile, "Block of version 201")->required();
    CLI::App* resetCmd = Command(*configCmd, "reset", "Remove every library and other object.", "libman config reset");

    CLI::App* enumerateCmd =
        Command(app, "enumerate", "Read every library into the part table and report what it holds; status 1 "
                                  "for duplicates, unreadable files, missing libraries or a cancel (Ctrl-C).",
                "libman enumerate --json");

    SearchOptions search;
    std::string searchName, searchFile, searchUnid, searchMain, searchPath;
    CLI::App* searchCmd = Command(app, "search", "Find parts by name, file name, UnID, main GUID or path.",
                                  "libman search --name door");
    CLI::Option* searchOpts[] = {
        searchCmd->add_option("--name", searchName, "Part of a document name, any case"),
        searchCmd->add_option("--file", searchFile, "A file name, any case"),
        searchCmd->add_option("--unid", searchUnid, "A UnID: {main GUID}-{revision GUID}"),
        searchCmd->add_option("--main", searchMain, "The main GUID of a UnID: every revision"),
        searchCmd->add_option("--path", searchPath, "The path of a part file"),
    };

    std::string showPart;
    CLI::App* showCmd = Command(app, "show", "Every attribute of a part, its ancestry and its parent.",
                                "libman show \"Door 12\"");
    showCmd->add_option("PART", showPart, "Document name, file name, UnID or path")->required();

    TreeOptions tree;
    CLI::App* treeCmd = Command(app, "tree", "The type hierarchy as an indented tree, Graphviz text or an SVG picture.",
                                "libman tree --depth 2 --sort name --svg hierarchy.svg");
    treeCmd->add_option("PART", tree.part, "Only the hierarchy below this part");
    treeCmd->add_option("--depth", tree.depth, "Levels to show (0: all)")->check(CLI::NonNegativeNumber);
    std::string sort;
    treeCmd->add_option("--sort", sort, "Order of siblings: name (default: hierarchy order)")
        ->check(CLI::IsMember({"name"}));
    CLI::Option* dotOpt = treeCmd->add_flag("--dot", tree.dot, "Print Graphviz text instead");
    treeCmd->add_option("--svg", tree.svg, "Draw the tree into this SVG file")->excludes(dotOpt);

    CLI::App* scriptsCmd = Command(app, "scripts", "The compiled script code cache.", "libman scripts stats");
    scriptsCmd->require_subcommand(1);
    CLI::App* scriptsStatsCmd = Command(*scriptsCmd, "stats", "What the cache file holds and this project's share.",
                                        "libman scripts stats --json");
    CLI::App* scriptsClearCmd = Command(*scriptsCmd, "clear", "Delete every compiled code of the cache folder.",
                                        "libman scripts clear");

    SyncOptions sync;
    CLI::App* syncCmd = Command(
        app, "sync",
        "Synchronise the libraries with their LAN cache copies, both ways unless --upload or --download is given. "
        "Questions (a file deleted from the library, a file changed on both sides) are asked on a terminal, "
        "answered by --yes or --no, and taken as no otherwise. --dry-run synchronises throwaway copies of the "
        "libraries and the LAN cache in a temporary folder and reports what would happen: it costs a copy of both.",
        "libman cache set --lan /srv/cache --use-lan on && libman sync --dry-run && libman sync --yes");
    syncCmd->add_option("PART", sync.part, "Only this part: document name, file name, UnID or path");
    syncCmd->add_flag("--upload", sync.upload, "Copy what changed in the cache into the libraries");
    syncCmd->add_flag("--download", sync.download, "Copy what changed in the libraries into the cache");
    syncCmd->add_flag("--dry-run", sync.dryRun, "Report what would be copied and asked; copy nothing");
    bool yes = false, no = false;
    CLI::Option* yesOpt = syncCmd->add_flag("--yes", yes, "Answer every question yes");
    syncCmd->add_flag("--no", no, "Answer every question no")->excludes(yesOpt);

    app.footer(app.get_footer() +
               "\nThe part table lives only while a command runs: search, show, tree and scripts stats\n"
               "enumerate the libraries first (with a progress bar on a terminal).\n");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0)
            return app.exit(e);  // --help, --version
        bool jsonAsked = false;
        for (int i = 1; i < argc; ++i)
            jsonAsked = jsonAsked || std::strcmp(argv[i], "--json") == 0;
        Output out(jsonAsked);
        std::string message = e.what();
        if (auto nl = message.find('\n'); nl != std::string::npos)
            message.resize(nl);
        out.Error(message + "; see `libman --help`");
        return out.Finish(ExitUsage);
    }

    Output out(json);
    if (searchCmd->parsed()) {
        int given = 0;
        for (CLI::Option* option : searchOpts)
            given += option->count() > 0 ? 1 : 0;
        if (given != 1) {
            out.Error("search needs one of --name TEXT, --file NAME, --unid UNID, --main UNID or --path PATH");
            return out.Finish(ExitUsage);
        }
        std::optional<std::string>* fields[] = {&search.name, &search.file, &search.unid, &search.main,
                                                &search.path};
        std::string* values[] = {&searchName, &searchFile, &searchUnid, &searchMain, &searchPath};
        for (std::size_t k = 0; k < std::size(fields); ++k)
            if (searchOpts[k]->count() > 0)
                *fields[k] = *values[k];
    }
    tree.sortByName = sort == "name";
    out.Result()["project"] = project;
    if (addCmd->parsed())
        return out.Finish(Add(out, project, add));
    if (removeCmd->parsed())
        return out.Finish(Remove(out, project, removeWhich));
    if (listCmd->parsed())
        return out.Finish(List(out, project));
    if (objectsAddCmd->parsed())
        return out.Finish(ObjectsAdd(out, project, objectTarget));
    if (objectsListCmd->parsed())
        return out.Finish(ObjectsList(out, project));
    if (cacheShowCmd->parsed())
        return out.Finish(CacheShow(out, project));
    if (cacheSetCmd->parsed()) {
        if (lanOpt->count() + urlOpt->count() + scriptsOpt->count() + useLanOpt->count() == 0) {
            out.Error("cache set needs --lan DIR, --url DIR, --scripts DIR or --use-lan on|off");
            return out.Finish(ExitUsage);
        }
        if (lanOpt->count() > 0)
            cache.lan = lan;
        if (urlOpt->count() > 0)
            cache.url = url;
        if (scriptsOpt->count() > 0)
            cache.scripts = scripts;
        if (useLanOpt->count() > 0)
            cache.useLan = useLan == "on";
        return out.Finish(CacheSet(out, project, cache));
    }
    if (exportCmd->parsed())
        return out.Finish(ConfigExport(out, project, exportVersion, withoutPermanent, exportFile));
    if (importCmd->parsed())
        return out.Finish(ConfigImport(out, project, importFile, swapBytes));
    if (diffCmd->parsed())
        return out.Finish(ConfigDiff(out, project, diffFile, diffCaches));
    if (mergeCmd->parsed())
        return out.Finish(ConfigMerge(out, project, mergeFile));
    if (resetCmd->parsed())
        return out.Finish(ConfigReset(out, project));
    if (enumerateCmd->parsed())
        return out.Finish(Enumerate(out, project));
    if (searchCmd->parsed())
        return out.Finish(Search(out, project, search));
    if (showCmd->parsed())
        return out.Finish(Show(out, project, showPart));
    if (treeCmd->parsed())
        return out.Finish(Tree(out, project, tree));
    if (scriptsStatsCmd->parsed())
        return out.Finish(ScriptsStats(out, project));
    if (scriptsClearCmd->parsed())
        return out.Finish(ScriptsClear(out, project));
    if (syncCmd->parsed()) {
        if (yes || no)
            sync.answer = yes;
        return out.Finish(Sync(out, project, sync));
    }
    out.Error("no command given; see `libman --help`");
    return out.Finish(ExitUsage);
}
