#include "Commands.hpp"

#include "Project.hpp"
#include "Session.hpp"

#include "KR/Memory.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace Libman {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

bool IsUrl(const std::string& text)
{
    const std::size_t scheme = text.find("://");
    return scheme != std::string::npos && scheme > 0 && text.compare(0, 7, "file://") != 0;
}

// An absolute, normalised path for a local argument.
std::string AbsolutePath(const std::string& text)
{
    std::error_code ignored;
    std::string path = fs::absolute(fs::path(text), ignored).lexically_normal().string();
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

bool HasZipExtension(const std::string& path)
{
    std::string ext = fs::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".zip";
}

// What list and diff print of a library: its location, or its URL.
std::string LibraryWhere(LM::LibrarySet& set, std::int32_t i)
{
    if (set.IsUrlActiveLibrary(i)) {
        KR::String url;
        set.GetActiveLibraryUrl(i, &url);
        return url.ToCStr();
    }
    IO::Location location;
    set.GetActiveLibraryLocation(i, &location);
    return location.GetText();
}

std::string ObjectWhere(LM::LibrarySet& set, std::int32_t i)
{
    if (set.IsUrlOtherObject(i)) {
        KR::String url;
        set.GetOtherObjectUrl(i, &url);
        return url.ToCStr();
    }
    IO::Location location;
    set.GetOtherObjectLocation(i, &location);
    return location.GetText();
}

json LibraryEntry(LM::LibrarySet& set, std::int32_t i)
{
    KR::String name;
    set.GetActiveLibraryName(i, &name);
    const bool url = set.IsUrlActiveLibrary(i);
    return {{"index", i},
            {"name", name.ToCStr()},
            {url ? "url" : "location", LibraryWhere(set, i)},
            {"vital", set.IsVitalActiveLibrary(i)},
            {"permanent", set.IsPermanentActiveLibrary(i)},
            {"exists", set.IsExistActiveLibrary(i)}};
}

std::string Flags(const json& entry)
{
    std::string flags;
    if (entry["vital"].get<bool>())
        flags += " vital";
    if (entry["permanent"].get<bool>())
        flags += " permanent";
    if (!entry["exists"].get<bool>())
        flags += " MISSING";
    return flags.empty() ? "" : " [" + flags.substr(1) + "]";
}

bool ReadWholeFile(Output& out, const std::string& path, std::string* bytes)
{
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
        out.Error("cannot read " + path + ": there is no such file; name a configuration file written by "
                  "`libman config export` or by the application");
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in.good() && !in.eof()) {
        out.Error("cannot read " + path + ": check its permissions");
        return false;
    }
    *bytes = text.str();
    if (bytes->empty()) {
        out.Error(path + " is empty: it holds no configuration block");
        return false;
    }
    return true;
}


}  // namespace

namespace {

// Adds what an add argument names through `addUrl` (a URL as it is) or
// `addPath` (a local path made absolute, which must exist) and saves the
// project when the set grew. The index the set gives, or -1 after an error
// was reported.
template <typename AddUrl, typename AddPath>
std::int32_t AddTarget(Output& out, Session& session, const std::string& target,
                       std::int32_t (LM::LibrarySet::*count)() const, AddUrl&& addUrl, AddPath&& addPath,
                       bool* added)
{
    LM::LibrarySet& set = session.Set();
    const std::int32_t before = (set.*count)();
    std::int32_t index = -1;
    if (IsUrl(target)) {
        index = addUrl(KR::String(target));
    } else {
        const std::string path = AbsolutePath(target);
        std::error_code error;
        if (!fs::exists(path, error)) {
            out.Error("cannot add " + path + ": there is nothing there; check the path");
            return -1;
        }
        index = addPath(path);
    }
    if (index == -2)
        return -1;  // refused by addPath, which said why
    if (index < 0) {
        out.Error("cannot add " + target + ": the module refused it (an empty or invalid location)");
        return -1;
    }
    *added = (set.*count)() > before;
    if (*added && !session.Save())
        return -1;
    out.Result()["added"] = *added;
    return index;
}

std::string AddedText(bool added)
{
    return added ? "added " : "already in the project: ";
}

}  // namespace

int Add(Output& out, const std::string& project, const AddOptions& options)
{
    return WithProject(out, project, true, [&](Session& session) {
        LM::LibrarySet& set = session.Set();
        const LM::PermanentMode mode = options.permanent ? LM::Permanent : LM::NotPermanent;
        bool added = false;
        const std::int32_t index = AddTarget(
            out, session, options.target, &LM::LibrarySet::GetActiveLibraryNum,
            [&](const KR::String& url) { return set.AddActiveLibrary(url, mode, options.vital); },
            [&](const std::string& path) {
                std::error_code error;
                const bool folder = fs::is_directory(path, error);
                if (!folder && !fs::is_regular_file(path, error)) {
                    out.Error("cannot add " + path + ": it is neither a folder nor a file");
                    return -2;
                }
                if (!folder && !HasZipExtension(path))
                    out.Warning(path + " is a file without the .zip extension; it is added as a container file");
                return set.AddActiveLibrary(IO::Location(path), mode, options.vital, !options.noMount);
            },
            &added);
        if (index < 0)
            return ExitProblems;
        // The index of the entry may move when the list is re-sorted; it is
        // reported as the set gives it now.
        json entry = LibraryEntry(set, index);
        out.Result()["library"] = entry;
        out.Line(AddedText(added) + out.Bold(entry["name"].get<std::string>()) + " (" + LibraryWhere(set, index) +
                 ")" + Flags(entry));
        return ExitOk;
    });
}

int Remove(Output& out, const std::string& project, const std::string& which)
{
    return WithProject(out, project, false, [&](Session& session) {
        LM::LibrarySet& set = session.Set();
        const std::int32_t count = set.GetActiveLibraryNum();
        std::int32_t index = -1;
        const bool numeric =
            !which.empty() && std::all_of(which.begin(), which.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (numeric && which.size() < 10) {
            index = std::stoi(which);
            if (index >= count) {
                out.Error("there is no library " + which + " in " + project + " (it has " + std::to_string(count) +
                          "); run `libman list` to see the indices");
                return ExitProblems;
            }
        } else {
            std::vector<std::int32_t> hits;
            const std::string asPath = IsUrl(which) ? which : AbsolutePath(which);
            for (std::int32_t i = 0; i < count; ++i) {
                KR::String name;
                set.GetActiveLibraryName(i, &name);
                const std::string where = LibraryWhere(set, i);
                if (which == name.ToCStr() || where == which || where == asPath)
                    hits.push_back(i);
            }
            if (hits.empty()) {
                out.Error("there is no library named " + which + " in " + project + "; run `libman list` to see them");
                return ExitProblems;
            }
            if (hits.size() > 1) {
                out.Error("several libraries are named " + which + " in " + project +
                          "; remove one by its index or location (see `libman list`)");
                return ExitProblems;
            }
            index = hits.front();
        }
        json entry = LibraryEntry(set, index);
        if (set.RemoveActiveLibrary(index) != 0) {
            out.Error("the library " + which + " could not be removed; " + project + " is unchanged");
            return ExitProblems;
        }
        if (!session.Save())
            return ExitProblems;
        out.Result()["removed"] = entry;
        out.Line("removed " + out.Bold(entry["name"].get<std::string>()) + " (" +
                 entry.value(entry.contains("url") ? "url" : "location", "") + ")");
        return ExitOk;
    });
}

int List(Output& out, const std::string& project)
{
    return WithProject(out, project, false, [&](Session& session) {
        LM::LibrarySet& set = session.Set();
        json libraries = json::array();
        int status = ExitOk;
        for (std::int32_t i = 0; i < set.GetActiveLibraryNum(); ++i) {
            json entry = LibraryEntry(set, i);
            const std::string where = LibraryWhere(set, i);
            out.Line(std::to_string(i) + "  " + out.Bold(entry["name"].get<std::string>()) + "  " + where +
                     Flags(entry));
            if (!entry["exists"].get<bool>() && !set.IsUrlActiveLibrary(i)) {
                out.Warning("the library " + where + " is missing: restore it, or take it out with `libman remove " +
                            std::to_string(i) + "`");
                status = ExitProblems;
            }
            libraries.push_back(std::move(entry));
        }
        if (libraries.empty())
            out.Line("no libraries; add one with `libman add FOLDER`");
        out.Result()["libraries"] = libraries;
        return status;
    });
}

int ObjectsAdd(Output& out, const std::string& project, const std::string& target)
{
    return WithProject(out, project, true, [&](Session& session) {
        LM::LibrarySet& set = session.Set();
        bool added = false;
        const std::int32_t index = AddTarget(
            out, session, target, &LM::LibrarySet::GetOtherObjectNum,
            [&](const KR::String& url) { return set.AddOtherObject(url); },
            [&](const std::string& path) { return set.AddOtherObject(IO::Location(path)); }, &added);
        if (index < 0)
            return ExitProblems;
        out.Result()["object"] = {{"index", index}, {"where", ObjectWhere(set, index)}};
        out.Line(AddedText(added) + ObjectWhere(set, index));
        return ExitOk;
    });
}

int ObjectsList(Output& out, const std::string& project)
{
    return WithProject(out, project, false, [&](Session& session) {
        LM::LibrarySet& set = session.Set();
        json objects = json::array();
        for (std::int32_t i = 0; i < set.GetOtherObjectNum(); ++i) {
            KR::String name;
            set.GetOtherObjectName(i, &name);
            objects.push_back({{"index", i}, {"name", name.ToCStr()}, {"where", ObjectWhere(set, i)},
                               {"url", set.IsUrlOtherObject(i)}});
            out.Line(std::to_string(i) + "  " + ObjectWhere(set, i));
        }
        if (objects.empty())
            out.Line("no other objects; add one with `libman objects add FILE`");
        out.Result()["objects"] = objects;
        return ExitOk;
    });
}

namespace {

json CacheState(Session& session)
{
    LM::LibrarySet& set = session.Set();
    IO::Location lan;
    IO::Location url;
    set.GetLanCacheLocation(&lan);
    set.GetFtpCacheLocation(&url);
    return {{"lan", lan.GetText()},
            {"url", url.GetText()},
            {"useLan", set.IsUseLanCache()},
            {"scripts", session.Settings().scriptCodeCache}};
}

void PrintCacheState(Output& out, const json& state)
{
    auto shown = [](const json& v) { return v.get<std::string>().empty() ? std::string("(not set)") : v.get<std::string>(); };
    out.Line("LAN cache:          " + shown(state["lan"]) + (state["useLan"].get<bool>() ? " (in use)" : " (not in use)"));
    out.Line("URL cache:          " + shown(state["url"]));
    out.Line("script code cache:  " + shown(state["scripts"]));
}

}  // namespace

int CacheShow(Output& out, const std::string& project)
{
    return WithProject(out, project, false, [&](Session& session) {
        json state = CacheState(session);
        PrintCacheState(out, state);
        out.Result()["caches"] = state;
        return ExitOk;
    });
}

int CacheSet(Output& out, const std::string& project, const CacheOptions& options)
{
    return WithProject(out, project, true, [&](Session& session) {
        LM::LibrarySet& set = session.Set();
        Project& settings = session.Settings();
        // Every folder is checked before anything changes, so that a refused
        // folder leaves the project as it was.
        auto folder = [&](const std::optional<std::string>& value, const char* what, std::string* path) {
            if (!value)
                return true;
            *path = AbsolutePath(*value);
            std::error_code error;
            if (!fs::is_directory(*path, error)) {
                out.Error(std::string("the ") + what + " folder " + *path + " does not exist; create it first");
                return false;
            }
            return true;
        };
        std::string lan, url, scripts;
        if (!folder(options.lan, "LAN cache", &lan) || !folder(options.url, "URL cache", &url) ||
            !folder(options.scripts, "script code cache", &scripts))
            return ExitProblems;
        if (options.lan) {
            if (set.SetLanCacheLocation(IO::Location(lan)) != 0) {
                out.Error("the module refused " + lan + " as the LAN cache folder; " + project + " is unchanged");
                return ExitProblems;
            }
            settings.lanCache = lan;
        }
        if (options.url) {
            if (set.SetFtpCacheLocation(IO::Location(url)) != 0) {
                out.Error("the module refused " + url + " as the URL cache folder; " + project + " is unchanged");
                return ExitProblems;
            }
            settings.urlCache = url;
        }
        if (options.scripts)
            settings.scriptCodeCache = scripts;
        if (options.useLan) {
            IO::Location current;
            set.GetLanCacheLocation(&current);
            if (*options.useLan && current.IsEmpty()) {
                out.Error("there is no LAN cache folder to use: set one with --lan DIR");
                return ExitProblems;
            }
            set.SetUseLanCache(*options.useLan);
        }
        if (!session.Save())
            return ExitProblems;
        json state = CacheState(session);
        PrintCacheState(out, state);
        out.Result()["caches"] = state;
        return ExitOk;
    });
}

int ConfigExport(Output& out, const std::string& project, std::int32_t version, bool withoutPermanent,
                 const std::string& file)
{
    return WithProject(out, project, false, [&](Session& session) {
        std::string bytes;
        if (!GetInfoBytes(session.Set(), !withoutPermanent, version, &bytes)) {
            out.Error("the configuration could not be taken from the library set; " + file + " was not written");
            return ExitProblems;
        }
        if (std::string problem = ReplaceFileContent(file, bytes); !problem.empty()) {
            out.Error(problem);
            return ExitProblems;
        }
        out.Result()["file"] = file;
        out.Result()["version"] = version;
        out.Result()["bytes"] = bytes.size();
        out.Line("wrote the configuration (version " + std::to_string(version) + ", " + std::to_string(bytes.size()) +
                 " bytes) to " + file);
        return ExitOk;
    });
}

int ConfigImport(Output& out, const std::string& project, const std::string& file, bool swapBytes)
{
    std::string bytes;
    if (!ReadWholeFile(out, file, &bytes))
        return ExitProblems;
    return WithProject(out, project, true, [&](Session& session) {
        char** block = MakeHandle(bytes);
        const std::int32_t error = session.Set().SetActiveLibrariesFromInfo(block, swapBytes);
        KR::bmManager.KillHandle(block);
        if (error != 0) {
            // The set may hold part of the block now; the project is not saved.
            out.Error(file + " is not a configuration block that can be read (error " + std::to_string(error) + ")" +
                      (swapBytes ? "" : "; if it was written on a platform of the other byte order, add --swap-bytes") +
                      ". " + project + " is unchanged");
            return ExitProblems;
        }
        if (!session.Save())
            return ExitProblems;
        out.Result()["libraries"] = session.Set().GetActiveLibraryNum();
        out.Result()["objects"] = session.Set().GetOtherObjectNum();
        out.Line("imported " + std::to_string(session.Set().GetActiveLibraryNum()) + " libraries and " +
                 std::to_string(session.Set().GetOtherObjectNum()) + " other objects from " + file);
        return ExitOk;
    });
}

int ConfigDiff(Output& out, const std::string& project, const std::string& file, bool caches)
{
    std::string bytes;
    if (!ReadWholeFile(out, file, &bytes))
        return ExitProblems;
    return WithProject(out, project, false, [&](Session& session) {
        LM::LibrarySet& set = session.Set();
        char** block = MakeHandle(bytes);
        const bool equal = set.IsEqualActiveLibraries(block, true, caches);

        // The differences, by reading the file into a set of its own.
        LM::LibrarySet other(session.Handler(), KR::ConstForwardIterator<FTM::GeneralID>());
        const std::int32_t error = other.SetActiveLibrariesFromInfo(block, false);
        KR::bmManager.KillHandle(block);
        if (error != 0) {
            out.Error(file + " is not a configuration block that can be read (error " + std::to_string(error) + ")");
            return ExitProblems;
        }
        auto libraries = [](LM::LibrarySet& s) {
            std::set<std::string> all;
            for (std::int32_t i = 0; i < s.GetActiveLibraryNum(); ++i)
                all.insert(LibraryWhere(s, i));
            return all;
        };
        auto objects = [](LM::LibrarySet& s) {
            std::vector<std::string> all;
            for (std::int32_t i = 0; i < s.GetOtherObjectNum(); ++i)
                all.push_back(ObjectWhere(s, i));
            return all;
        };
        const std::set<std::string> mine = libraries(set);
        const std::set<std::string> theirs = libraries(other);
        json onlyProject = json::array();
        json onlyFile = json::array();
        for (const std::string& s : mine)
            if (!theirs.contains(s))
                onlyProject.push_back(s);
        for (const std::string& s : theirs)
            if (!mine.contains(s))
                onlyFile.push_back(s);
        const bool objectsDiffer = objects(set) != objects(other);
        for (const auto& s : onlyProject)
            out.Line("- " + s.get<std::string>() + "   (only in " + project + ")");
        for (const auto& s : onlyFile)
            out.Line("+ " + s.get<std::string>() + "   (only in " + file + ")");
        if (objectsDiffer)
            out.Line("the other objects differ");
        if (!equal && onlyProject.empty() && onlyFile.empty() && !objectsDiffer)
            out.Line(caches ? "the cache settings differ" : "the configurations differ");
        if (equal)
            out.Line("the configurations are equal");
        out.Result()["equal"] = equal;
        out.Result()["onlyInProject"] = onlyProject;
        out.Result()["onlyInFile"] = onlyFile;
        out.Result()["objectsDiffer"] = objectsDiffer;
        // Like diff(1): a difference is what the command found.
        return equal ? ExitOk : ExitProblems;
    });
}

int ConfigMerge(Output& out, const std::string& project, const std::string& file)
{
    std::string bytes;
    if (!ReadWholeFile(out, file, &bytes))
        return ExitProblems;
    return WithProject(out, project, true, [&](Session& session) {
        LM::LibrarySet& set = session.Set();
        const std::int32_t libraries = set.GetActiveLibraryNum();
        const std::int32_t objects = set.GetOtherObjectNum();
        char** block = MakeHandle(bytes);
        const std::int32_t error = set.MergeActiveLibraries(block);
        KR::bmManager.KillHandle(block);
        if (error != 0) {
            out.Error("the configuration in " + file + " could not be merged (error " + std::to_string(error) + "); " +
                      project + " is unchanged");
            return ExitProblems;
        }
        const std::int32_t addedLibraries = set.GetActiveLibraryNum() - libraries;
        const std::int32_t addedObjects = set.GetOtherObjectNum() - objects;
        if (addedLibraries + addedObjects > 0) {
            if (!session.Save())
                return ExitProblems;
        }
        out.Result()["addedLibraries"] = addedLibraries;
        out.Result()["addedObjects"] = addedObjects;
        out.Line("merged " + file + ": " + std::to_string(addedLibraries) + " libraries and " +
                 std::to_string(addedObjects) + " other objects added");
        if (addedLibraries + addedObjects == 0)
            out.Line("(only a version 201 block of this platform's byte order can be merged)");
        return ExitOk;
    });
}

int ConfigReset(Output& out, const std::string& project)
{
    return WithProject(out, project, false, [&](Session& session) {
        const std::int32_t libraries = session.Set().GetActiveLibraryNum();
        const std::int32_t objects = session.Set().GetOtherObjectNum();
        if (session.Set().ResetActiveLibraries() != 0) {
            out.Error("the configuration could not be reset; " + project + " is unchanged");
            return ExitProblems;
        }
        if (!session.Save())
            return ExitProblems;
        out.Result()["removedLibraries"] = libraries;
        out.Result()["removedObjects"] = objects;
        out.Line("removed " + std::to_string(libraries) + " libraries and " + std::to_string(objects) +
                 " other objects; the LAN cache is no longer used");
        return ExitOk;
    });
}

}  // namespace Libman
