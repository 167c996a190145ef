// The commands that work on the set's part table: enumerate, search, show,
// tree and scripts. The module keeps the table in memory only, so the others
// enumerate the project's libraries first (with the progress shown only on a
// terminal, and the duplicate warnings left to `enumerate`).
#include "Commands.hpp"

#include "Graph.hpp"
#include "Project.hpp"
#include "Session.hpp"

#include "KR/Memory.hpp"
#include "KR/Time.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

#include <strings.h>

namespace Libman {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

bool ContainsIgnoringCase(std::string_view text, std::string_view part)
{
    return std::search(text.begin(), text.end(), part.begin(), part.end(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           }) != text.end();
}

std::string UnIDText(const KR::UnID& id)
{
    return id.IsNull() ? std::string() : id.ToString();
}

std::string PartName(LM::LibrarySet& set, std::int32_t i)
{
    char name[32] = {};
    set.GetSymbolDocumentName(i, name);
    return name;
}

std::string PartLocation(LM::LibrarySet& set, std::int32_t i)
{
    IO::Location location;
    set.GetSymbolLocation(i, &location);
    return location.GetText();
}

KR::UnID PartUnID(LM::LibrarySet& set, std::int32_t i)
{
    KR::UnID id{};
    set.GetSymbolOwnUnID(i, &id);
    return id;
}

// The two closing folders of an enumerated set: parts outside every library
// (the other objects), then the placeholders of missing parts.
bool InPlaceholderFolder(LM::LibrarySet& set, std::int32_t i)
{
    return set.GetSymbolFolderIndex(i) == set.GetFolderNumber() - 1;
}

bool InOtherObjectsFolder(LM::LibrarySet& set, std::int32_t i)
{
    return set.GetSymbolFolderIndex(i) == set.GetFolderNumber() - 2;
}

// A record of a file the enumeration found but could not read: the module
// keeps it (under its file name) without the part or script file behind it.
bool IsUnreadable(Session& session, std::int32_t i)
{
    LM::LibrarySet& set = session.Set();
    if (InPlaceholderFolder(set, i))
        return false;
    return session.IsScript(i) ? set.GetScriptFile(i) == nullptr : set.GetSymbolFile(i) == nullptr;
}

std::vector<std::string> PartFlags(Session& session, std::int32_t i)
{
    LM::LibrarySet& set = session.Set();
    std::vector<std::string> flags;
    if (session.IsScript(i))
        flags.emplace_back("script");
    if (InPlaceholderFolder(set, i))
        flags.emplace_back("placeholder");
    if (InOtherObjectsFolder(set, i))
        flags.emplace_back("other-object");
    if (!set.IsSymbolValid(i))
        flags.emplace_back("invalid");
    if (IsUnreadable(session, i))
        flags.emplace_back("unreadable");
    if (set.IsSymbolTemplate(i))
        flags.emplace_back("template");
    if (set.IsSymbolPlaceable(i))
        flags.emplace_back("placeable");
    if (set.IsSymbolArchivable(i))
        flags.emplace_back("archivable");
    return flags;
}

json PartEntry(Session& session, std::int32_t i)
{
    LM::LibrarySet& set = session.Set();
    return {{"index", i},
            {"name", PartName(set, i)},
            {"location", PartLocation(set, i)},
            {"unid", UnIDText(PartUnID(set, i))},
            {"flags", PartFlags(session, i)}};
}

std::string PartLine(const json& entry)
{
    std::string flags;
    for (const json& flag : entry["flags"])
        flags += (flags.empty() ? " [" : " ") + flag.get<std::string>();
    if (!flags.empty())
        flags += "]";
    const std::string unid = entry["unid"].get<std::string>();
    return entry["name"].get<std::string>() + "  " + (unid.empty() ? "(no UnID)" : unid) + "  " +
           entry["location"].get<std::string>() + flags;
}

}  // namespace

// Opens the project and enumerates it quietly (a bar on a terminal). False
// after an error was reported.
bool OpenEnumerated(Session& session)
{
    if (!session.Open(false))
        return false;
    session.Handler().SetQuiet(true);
    EnumerationReport report;
    return session.Enumerate(ChooseProgressMode(true), &report);
}

// Finds PART by UnID, by path or by document name (then file name). -1
// after an error was reported.
std::int32_t FindPart(Output& out, LM::LibrarySet& set, const std::string& part)
{
    KR::UnID id{};
    std::int32_t found = -1;
    if (KR::UnID::FromString(part.c_str(), &id) == KR::NoError) {
        found = set.SearchSymbolByUnID(id, "");
        if (found == -1) {
            KR::VAArray<std::int32_t> hits;
            if (set.SearchSymbolByMainUnID(id, &hits) >= 1)
                found = hits[1];
        }
    } else if (part.find('/') != std::string::npos) {
        std::error_code ignored;
        found = set.SearchSymbol(IO::Location(fs::absolute(part, ignored).lexically_normal().string()));
    } else {
        found = set.SearchSymbolDocuName(part.c_str());
        if (found == -1)
            found = set.SearchSymbolFileName(part.c_str());
        std::int32_t named = 0;
        for (std::int32_t i = 0; i < set.GetSymbolNumber() && found != -1; ++i)
            named += PartName(set, i) == part ? 1 : 0;
        if (named > 1)
            out.Warning(std::to_string(named) + " parts are named " + part + "; this is the first of them. Name one "
                        "by its UnID or path to see another");
    }
    if (found == -1)
        out.Error("no part " + part + " in the project's libraries; search for it with `libman search --name TEXT`");
    return found;
}

namespace {

std::string TimeText(std::int32_t time)
{
    const std::time_t unix = static_cast<std::time_t>(KR::DateTimeManager::ToUnixTime(time));
    std::tm utc{};
    gmtime_r(&unix, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
    return text;
}

// An ancestor as show prints it: its name where the set has it.
json AncestorEntry(LM::LibrarySet& set, const KR::UnID& id)
{
    const std::int32_t i = set.SearchSymbolByUnID(id, "");
    json entry = {{"unid", UnIDText(id)}};
    entry["name"] = i >= 0 ? json(PartName(set, i)) : json(nullptr);
    return entry;
}

std::string AncestorText(const json& entry)
{
    return (entry["name"].is_null() ? std::string("(not in the libraries)") : entry["name"].get<std::string>()) +
           "  " + entry["unid"].get<std::string>();
}

}  // namespace

int Enumerate(Output& out, const std::string& project)
{
    Session session(out, project);
    if (!session.Open(false))
        return ExitProblems;
    LM::LibrarySet& set = session.Set();
    int status = ExitOk;
    json missing = json::array();
    for (std::int32_t i = 0; i < set.GetActiveLibraryNum(); ++i) {
        if (set.IsUrlActiveLibrary(i) || set.IsExistActiveLibrary(i))
            continue;
        IO::Location location;
        set.GetActiveLibraryLocation(i, &location);
        out.Warning("the library " + location.GetText() + " is missing and is not enumerated: restore it, or take "
                    "it out with `libman remove " + std::to_string(i) + "`");
        missing.push_back(location.GetText());
        status = ExitProblems;
    }

    EnumerationReport report;
    if (!session.Enumerate(ChooseProgressMode(false), &report))
        return ExitProblems;

    std::int32_t parts = 0, scripts = 0, placeholders = 0;
    json unreadable = json::array();
    for (std::int32_t i = 0; i < set.GetSymbolNumber(); ++i) {
        if (InPlaceholderFolder(set, i)) {
            ++placeholders;
        } else if (IsUnreadable(session, i)) {
            const std::string path = PartLocation(set, i);
            out.Warning(path + " cannot be read as a part or script file; replace or remove it");
            unreadable.push_back(path);
        } else {
            ++(session.IsScript(i) ? scripts : parts);
        }
    }
    const WarningHandler::Duplicates& duplicates = session.Handler().Counted();
    const std::int32_t duplicateCount = duplicates.files + duplicates.identifiers + duplicates.names;
    if (duplicateCount > 0 || !unreadable.empty())
        status = ExitProblems;

    json& result = out.Result();
    result["libraries"] = set.GetActiveLibraryNum();
    result["walked"] = report.phases;
    result["missing"] = missing;
    result["folders"] = set.GetFolderNumber();
    result["files"] = report.files;
    result["parts"] = parts;
    result["scripts"] = scripts;
    result["placeholders"] = placeholders;
    result["duplicates"] = {
        {"identifiers", duplicates.identifiers}, {"names", duplicates.names}, {"files", duplicates.files}};
    result["unreadable"] = unreadable;
    result["cancelled"] = report.cancelled;
    result["seconds"] = std::round(report.seconds * 1000) / 1000;

    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f s", report.seconds);
    out.Line(std::string(report.cancelled ? "enumeration cancelled" : "enumerated") + " in " + seconds);
    out.Line("  libraries     " + std::to_string(report.phases) + " walked of " +
             std::to_string(set.GetActiveLibraryNum()) +
             (missing.empty() ? "" : " (" + std::to_string(missing.size()) + " missing)"));
    out.Line("  folders       " + std::to_string(set.GetFolderNumber()));
    out.Line("  files         " + std::to_string(report.files));
    out.Line("  parts         " + std::to_string(parts));
    out.Line("  scripts       " + std::to_string(scripts));
    out.Line("  placeholders  " + std::to_string(placeholders));
    out.Line("  duplicates    " + std::to_string(duplicates.identifiers) + " identifiers, " +
             std::to_string(duplicates.names) + " names, " + std::to_string(duplicates.files) + " files");
    out.Line("  unreadable    " + std::to_string(unreadable.size()));
    if (const std::int32_t unshown = session.Handler().Unshown(); unshown > 0)
        out.Line("(" + std::to_string(unshown) + " more duplicate reports than shown: `libman enumerate --json` "
                 "lists them all)");
    if (report.cancelled) {
        out.Warning("the enumeration was cancelled: the libraries that are not vital were not all walked");
        status = ExitProblems;
    }
    return status;
}

int Search(Output& out, const std::string& project, const SearchOptions& options)
{
    Session session(out, project);
    if (!OpenEnumerated(session))
        return ExitProblems;
    LM::LibrarySet& set = session.Set();
    std::vector<std::int32_t> hits;
    if (options.name || options.file) {
        // Every record is looked at: names may repeat, and a name matches
        // by any part of it.
        for (std::int32_t i = 0; i < set.GetSymbolNumber(); ++i) {
            if (options.name ? ContainsIgnoringCase(PartName(set, i), *options.name)
                             : EqualsIgnoringCase(fs::path(PartLocation(set, i)).filename().string(), *options.file))
                hits.push_back(i);
        }
    } else if (options.unid || options.main) {
        KR::UnID id{};
        const std::string& text = options.unid ? *options.unid : *options.main;
        if (KR::UnID::FromString(text.c_str(), &id) != KR::NoError) {
            out.Error(text + " is not a UnID: write it as {main GUID}-{revision GUID}");
            return ExitUsage;
        }
        if (options.unid) {
            if (std::int32_t i = set.SearchSymbolByUnID(id, ""); i >= 0)
                hits.push_back(i);
        } else {
            KR::VAArray<std::int32_t> found;
            const std::int32_t count = set.SearchSymbolByMainUnID(id, &found);
            for (std::int32_t k = 1; k <= count; ++k)
                hits.push_back(found[static_cast<std::uint32_t>(k)]);
        }
    } else if (options.path) {
        std::error_code ignored;
        const std::string path = fs::absolute(*options.path, ignored).lexically_normal().string();
        if (std::int32_t i = set.SearchSymbol(IO::Location(path)); i >= 0)
            hits.push_back(i);
    }
    json entries = json::array();
    for (std::int32_t i : hits) {
        json entry = PartEntry(session, i);
        out.Line(PartLine(entry));
        entries.push_back(std::move(entry));
    }
    out.Result()["parts"] = entries;
    if (entries.empty())
        out.Line("no part found");
    return ExitOk;
}

int Show(Output& out, const std::string& project, const std::string& part)
{
    Session session(out, project);
    if (!OpenEnumerated(session))
        return ExitProblems;
    LM::LibrarySet& set = session.Set();
    const std::int32_t i = FindPart(out, set, part);
    if (i < 0)
        return ExitProblems;

    json entry = PartEntry(session, i);
    KR::String folder;
    const std::int32_t folderIndex = set.GetSymbolFolderIndex(i);
    set.GetFolderName(folderIndex, &folder);
    entry["folder"] = folder.ToCStr();
    const std::int32_t library = set.GetFolderActLibIndex(folderIndex);
    KR::String libraryName;
    entry["library"] = library >= 0 && set.GetActiveLibraryName(library, &libraryName) == 0
                           ? json(libraryName.ToCStr())
                           : json(nullptr);
    std::int32_t modified = 0;
    set.GetSymbolFileModTime(i, &modified);
    entry["modified"] = TimeText(modified);
    char bits[16];
    std::snprintf(bits, sizeof bits, "0x%08X", static_cast<unsigned>(set.GetSymbolFlags(i)));
    entry["recordFlags"] = bits;
    KR::String url;
    set.GetSymbolUrl(i, &url);
    entry["url"] = url.ToCStr();
    const std::int32_t proxy = set.GetSymbolProxy(i);
    entry["proxy"] = proxy >= 0 && proxy != i ? json(PartName(set, proxy)) : json(nullptr);

    // Only a record with a place in the hierarchy has ancestors and a parent.
    json ancestry = json::array();
    LM::AncestryInfo info;
    KR::UnID parent{};
    const bool placed = set.GetSymbolAncestryInfo(i, &info) == 0;
    if (placed)
        for (std::uint32_t k = 1; k <= info.GetAncestorsCount(); ++k)
            ancestry.push_back(AncestorEntry(set, info.GetAncestorRef(k)));
    entry["ancestry"] = ancestry;
    entry["parent"] = placed && set.GetSymbolParentUnID(i, &parent) == 0 && !parent.IsNull()
                          ? AncestorEntry(set, parent)
                          : json(nullptr);
    out.Result()["part"] = entry;

    auto row = [&](const char* label, const std::string& value) {
        out.Line(std::string(label) + std::string(12 - std::strlen(label), ' ') + value);
    };
    std::string flags;
    for (const json& flag : entry["flags"])
        flags += (flags.empty() ? "" : " ") + flag.get<std::string>();
    row("name", out.Bold(entry["name"].get<std::string>()));
    row("UnID", entry["unid"].get<std::string>().empty() ? "(none)" : entry["unid"].get<std::string>());
    row("location", entry["location"].get<std::string>());
    row("library", entry["library"].is_null() ? "(none)" : entry["library"].get<std::string>());
    row("folder", entry["folder"].get<std::string>());
    row("flags", flags.empty() ? "(none)" : flags);
    row("record", bits);
    row("modified", entry["modified"].get<std::string>());
    if (!url.IsEmpty())
        row("URL", url.ToCStr());
    if (!entry["proxy"].is_null())
        row("proxy", entry["proxy"].get<std::string>());
    row("parent", entry["parent"].is_null() ? "(root of the hierarchy)" : AncestorText(entry["parent"]));
    row("ancestry", ancestry.empty() ? "(none)" : "(from the root down)");
    for (const json& ancestor : ancestry)
        out.Line("  " + AncestorText(ancestor));
    return ExitOk;
}

namespace {

// Collects the exported hierarchy as a tree of items (item k + 1 is
// nodes[k]), cut at a depth and in the order asked for.
class TreeCollector : public LM::TypeHierarchyExporter {
public:
    TreeCollector(const KR::UnID& root, std::int32_t depth, bool byName) : root_(root), depth_(depth), byName_(byName)
    {
    }
    std::vector<HierarchyNode> nodes;

    long ExportNode(long parentItem, const Node* node, long* item) override
    {
        HierarchyNode entry;
        entry.parent = static_cast<std::int32_t>(parentItem) - 1;
        entry.depth = entry.parent < 0 ? 1 : nodes[static_cast<std::size_t>(entry.parent)].depth + 1;
        entry.name = node->name;
        entry.unid = UnIDText(node->unID);
        entry.present = node->libIndex >= 0;
        entry.isTemplate = node->isTemplate;
        entry.placeable = node->isPlaceable;
        nodes.push_back(std::move(entry));
        *item = static_cast<long>(nodes.size());
        return depth_ > 0 && nodes.back().depth >= depth_ ? SkipChildren : Continue;
    }
    long GetRootItem() override { return 0; }
    void GetRootUnID(KR::UnID* id) override { *id = root_; }
    bool IsRecursive() override { return true; }
    ICompare* GetCompare() override { return byName_ ? &byName : nullptr; }

private:
    // Names in any case first, then byte order for the ties.
    struct ByName : ICompare {
        int Compare(const Node& a, Node b) override
        {
            const int folded = ::strcasecmp(a.name, b.name);
            return folded != 0 ? folded : std::strcmp(a.name, b.name);
        }
    } byName;
    KR::UnID root_;
    std::int32_t depth_;
    bool byName_;
};

std::string NodeText(const HierarchyNode& node)
{
    std::string text = node.present ? node.name : "(missing) " + node.unid;
    if (node.present && node.isTemplate)
        text += " [template]";
    return text;
}

}  // namespace

int Tree(Output& out, const std::string& project, const TreeOptions& options)
{
    Session session(out, project);
    if (!OpenEnumerated(session))
        return ExitProblems;
    LM::LibrarySet& set = session.Set();
    KR::UnID root{};
    std::string rootName = "(all types)";
    if (!options.part.empty()) {
        const std::int32_t i = FindPart(out, set, options.part);
        if (i < 0)
            return ExitProblems;
        root = PartUnID(set, i);
        rootName = PartName(set, i);
        if (root.IsNull()) {
            out.Error(options.part + " has no UnID, so it has no place in the type hierarchy");
            return ExitProblems;
        }
    }
    TreeCollector collector(root, options.depth, options.sortByName);
    if (const std::int32_t error = set.ExportTypeHierarchy(&collector); error != 0) {
        out.Error("the type hierarchy could not be exported (error " + std::to_string(error) + ")");
        return ExitProblems;
    }
    const std::vector<HierarchyNode>& nodes = collector.nodes;

    if (!options.svg.empty()) {
        std::string svg;
        if (std::string problem = RenderSvg(HierarchyDot(rootName, nodes), &svg); !problem.empty()) {
            out.Error("the picture could not be drawn: " + problem);
            return ExitProblems;
        }
        if (std::string problem = ReplaceFileContent(options.svg, svg); !problem.empty()) {
            out.Error(problem);
            return ExitProblems;
        }
        out.Result()["svg"] = options.svg;
        out.Line("drew " + std::to_string(nodes.size()) + " parts of the hierarchy into " + options.svg);
    } else if (options.dot) {
        // The Graphviz text is the output, also with --json.
        out.Raw(HierarchyDot(rootName, nodes));
    } else {
        out.Line(out.Bold(rootName));
        for (const HierarchyNode& node : nodes)
            out.Line(std::string(2 * static_cast<std::size_t>(node.depth), ' ') + NodeText(node));
    }
    // The JSON form: every node nested in its parent.
    std::vector<json> items;
    items.reserve(nodes.size());
    for (const HierarchyNode& node : nodes)
        items.push_back({{"name", node.present ? json(node.name) : json(nullptr)},
                         {"unid", node.unid},
                         {"template", node.isTemplate},
                         {"placeable", node.placeable},
                         {"children", json::array()}});
    json top = json::array();
    for (std::size_t k = nodes.size(); k-- > 0;) {
        json& siblings = nodes[k].parent < 0 ? top : items[static_cast<std::size_t>(nodes[k].parent)]["children"];
        siblings.insert(siblings.begin(), std::move(items[k]));
    }
    out.Result()["root"] = rootName;
    out.Result()["count"] = nodes.size();
    out.Result()["tree"] = top;
    return ExitOk;
}

namespace {

// What the header of the script code cache file tells (its layout is in
// docs/formats/script-code-cache.md); an empty result when it has none.
json CacheFileState(const std::string& path)
{
    json state = {{"file", path}, {"exists", false}};
    std::error_code error;
    const auto size = fs::file_size(path, error);
    if (error)
        return state;
    state["exists"] = true;
    state["bytes"] = size;
    unsigned char header[22] = {};
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(header), sizeof header);
    auto word = [&](int at) {
        return static_cast<std::uint32_t>(header[at]) | static_cast<std::uint32_t>(header[at + 1]) << 8 |
               static_cast<std::uint32_t>(header[at + 2]) << 16 | static_cast<std::uint32_t>(header[at + 3]) << 24;
    };
    const bool valid = in.gcount() == sizeof header && word(0) == 0x4C323037u;
    state["valid"] = valid;
    if (valid) {
        state["items"] = word(10);
        state["since"] = TimeText(static_cast<std::int32_t>(word(4)));
    }
    return state;
}

}  // namespace

int ScriptsStats(Output& out, const std::string& project)
{
    Session session(out, project);
    if (!OpenEnumerated(session))
        return ExitProblems;
    LM::LibrarySet& set = session.Set();
    const std::string folder = session.Settings().scriptCodeCache;
    if (folder.empty()) {
        out.Error("no script code cache folder is set: set one with `libman cache set --scripts DIR`");
        return ExitProblems;
    }
    json state = CacheFileState(folder + "/" + ScriptCacheBaseName + ".dat");
    // The parts of this project's libraries with a compiled code, by type.
    json byType = json::object();
    std::int32_t total = 0;
    for (std::int16_t type = 1; type <= 6; ++type) {
        std::int32_t count = 0;
        for (std::int32_t i = 0; i < set.GetSymbolNumber(); ++i) {
            char** code = nullptr;
            if (set.GetSymbolPscBinCode(i, type, &code) == 0 && code != nullptr) {
                ++count;
                KR::bmManager.KillHandle(code);
            }
        }
        if (count > 0)
            byType[std::to_string(type)] = count;
        total += count;
    }
    state["projectParts"] = byType;
    out.Result()["scripts"] = state;
    out.Line("cache file   " + state["file"].get<std::string>());
    if (!state["exists"].get<bool>())
        out.Line("             (not written yet)");
    else if (!state["valid"].get<bool>())
        out.Line("             not a cache file of this machine; it is replaced when the cache is next written");
    else
        out.Line("items        " + std::to_string(state["items"].get<std::uint32_t>()) + " (" +
                 std::to_string(state["bytes"].get<std::uintmax_t>()) + " bytes, purged " +
                 state["since"].get<std::string>() + ")");
    std::string types;
    for (const auto& [type, count] : byType.items())
        types += " type " + type + ": " + std::to_string(count.get<std::int32_t>());
    out.Line("this project " + std::to_string(total) + " compiled codes" +
             (types.empty() ? "" : " (" + types.substr(1) + ")"));
    return ExitOk;
}

int ScriptsClear(Output& out, const std::string& project)
{
    Session session(out, project);
    if (!session.Open(false))
        return ExitProblems;
    if (session.Settings().scriptCodeCache.empty()) {
        out.Error("no script code cache folder is set: there is nothing to clear");
        return ExitProblems;
    }
    if (const std::int32_t error = session.Set().ClearAllPscBinCodes(); error != 0) {
        out.Error("the script code cache in " + session.Settings().scriptCodeCache + " could not be cleared (error " +
                  std::to_string(error) + ")");
        return ExitProblems;
    }
    out.Result()["cleared"] = session.Settings().scriptCodeCache;
    out.Line("cleared the compiled script codes in " + session.Settings().scriptCodeCache +
             " (for every project that shares the folder)");
    return ExitOk;
}

}  // namespace Libman
