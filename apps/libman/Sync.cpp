// libman sync: the set's two-way synchronisation of the libraries with their
// LAN cache copies.
//
// The module tells the application of questions and failures but not of the
// copies that succeeded, so the command looks at the files themselves: it
// takes the size, time and inode of every file of each library and of its
// cache copy before and after the run, and a file that appeared or changed
// was uploaded (library side) or downloaded (cache side).
//
// A dry run copies the libraries and the LAN cache (times kept) into a
// temporary folder, synchronises a second set made on those copies, reports
// what happened there under the real paths, and deletes the copies.
#include "Commands.hpp"
#include "Session.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>

namespace Libman {

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

// A library and its copy in the LAN cache; `shown*` are the paths reported
// (the real ones when a dry run works on copies).
struct Pair {
    std::string library, copy;
    std::string shownLibrary, shownCopy;
};

struct Stamp {
    std::int64_t time = 0;
    std::int64_t size = 0;
    std::uint64_t inode = 0;
    bool operator==(const Stamp&) const = default;
};
using Snapshot = std::map<std::string, Stamp>;

void AddFile(const std::string& path, Snapshot* snapshot)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        (*snapshot)[path] = {st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec, st.st_size, st.st_ino};
}

// Every file below `root`, or `root` itself when it is a file.
void Walk(const std::string& root, Snapshot* snapshot)
{
    std::error_code error;
    if (!fs::is_directory(root, error)) {
        AddFile(root, snapshot);
        return;
    }
    for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error), end;
         !error && it != end; it.increment(error))
        AddFile(it->path().string(), snapshot);
}

Snapshot Take(const std::vector<Pair>& pairs, bool library)
{
    Snapshot snapshot;
    for (const Pair& pair : pairs)
        Walk(library ? pair.library : pair.copy, &snapshot);
    return snapshot;
}

// `path` with the prefix `from` replaced by `to`.
std::string Rebase(const std::string& path, const std::string& from, const std::string& to)
{
    if (path.size() >= from.size() && path.compare(0, from.size(), from) == 0 &&
        (path.size() == from.size() || path[from.size()] == '/'))
        return to + path.substr(from.size());
    return path;
}

std::string Shown(const std::vector<Pair>& pairs, const std::string& path)
{
    for (const Pair& pair : pairs) {
        if (std::string p = Rebase(path, pair.library, pair.shownLibrary); p != path)
            return p;
        if (std::string p = Rebase(path, pair.copy, pair.shownCopy); p != path)
            return p;
    }
    return path;
}

// The files that appeared or changed between the snapshots, as shown.
json Changed(const Snapshot& before, const Snapshot& after, const std::vector<Pair>& pairs)
{
    json paths = json::array();
    for (const auto& [path, stamp] : after)
        if (auto it = before.find(path); it == before.end() || !(it->second == stamp))
            paths.push_back(Shown(pairs, path));
    return paths;
}

std::string ModifiedText(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return "missing";
    std::tm local{};
    localtime_r(&st.st_mtim.tv_sec, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// Copies `from` to `to` with the modification times, which the
// synchronisation compares.
bool CopyKeepingTimes(const fs::path& from, const fs::path& to)
{
    std::error_code error;
    if (fs::is_directory(from, error)) {
        fs::create_directories(to, error);
        for (fs::directory_iterator it(from, error), end; !error && it != end; it.increment(error))
            if (!CopyKeepingTimes(it->path(), to / it->path().filename()))
                return false;
    } else if (!fs::copy_file(from, to, fs::copy_options::overwrite_existing, error)) {
        return false;
    }
    const auto time = fs::last_write_time(from, error);
    if (!error)
        fs::last_write_time(to, time, error);
    return !error;
}

class TemporaryFolder {
public:
    TemporaryFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "libman-sync-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
    }
    ~TemporaryFolder()
    {
        std::error_code ignored;
        if (!path_.empty())
            fs::remove_all(path_, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

std::string Text(const IO::Location& location)
{
    return location.GetText();
}

// The libraries that the set synchronises, with their cache copies.
std::vector<Pair> LibraryPairs(LM::LibrarySet& set, const std::string& lan)
{
    std::vector<Pair> pairs;
    for (std::int32_t i = 0; i < set.GetActiveLibraryNum(); ++i) {
        if (set.IsUrlActiveLibrary(i) || set.IsPermanentActiveLibrary(i) || !set.IsExistActiveLibrary(i))
            continue;
        IO::Location location;
        KR::String name;
        set.GetActiveLibraryLocation(i, &location);
        set.GetActiveLibraryName(i, &name);
        const std::string library = Text(location);
        const std::string copy = (fs::path(lan) / name.Std()).string();
        pairs.push_back({library, copy, library, copy});
    }
    return pairs;
}

// The answer to a question: the one given, the user's on a terminal, else
// "no" (said so).
std::int32_t Answer(Output& out, const SyncOptions& options, ProgressSink& sink, const std::string& question,
                    json* asked)
{
    sink.ClearLine();
    std::int32_t answer = 0;
    std::string how;
    if (options.answer) {
        answer = *options.answer ? 1 : 0;
        how = *options.answer ? "yes (--yes)" : "no (--no)";
    } else if (!options.dryRun && ::isatty(STDIN_FILENO) != 0) {
        std::cerr << "libman: " << question << " [y/n] " << std::flush;
        std::string line;
        std::getline(std::cin, line);
        answer = !line.empty() && (line[0] == 'y' || line[0] == 'Y') ? 1 : 0;
        how = answer == 1 ? "yes" : "no";
    } else {
        how = "no (no answer given and not asked on a terminal; give --yes or --no)";
    }
    if (options.answer || options.dryRun || ::isatty(STDIN_FILENO) == 0)
        out.Line("asked: " + question + " -> " + how);
    asked->push_back({{"question", question}, {"answer", answer == 1}});
    return answer;
}

}  // namespace

int Sync(Output& out, const std::string& project, const SyncOptions& options)
{
    Session session(out, project);
    if (!(options.part.empty() ? session.Open(false) : OpenEnumerated(session)))
        return ExitProblems;
    LM::LibrarySet& set = session.Set();
    IO::Location lanLocation;
    set.GetLanCacheLocation(&lanLocation);
    const std::string lan = Text(lanLocation);
    if (lan.empty() || !set.IsUseLanCache()) {
        out.Error("libman sync needs a LAN cache in use: set it with `libman cache set --lan DIR --use-lan on`");
        return ExitUsage;
    }
    if (options.dryRun && !options.part.empty()) {
        out.Error("--dry-run works on the whole set only: run `libman sync --dry-run` without PART");
        return ExitUsage;
    }
    const bool upload = options.upload || !options.download;
    const bool download = options.download || !options.upload;

    std::vector<Pair> pairs = LibraryPairs(set, lan);
    std::int32_t part = -1;
    if (!options.part.empty() && (part = FindPart(out, set, options.part)) < 0)
        return ExitProblems;

    // A dry run works on copies: the libraries under lib/N, the LAN cache
    // under lan, and a set made on them.
    TemporaryFolder scratch;
    std::unique_ptr<LM::LibrarySet> copySet;
    LM::LibrarySet* target = &set;
    if (options.dryRun) {
        if (scratch.Path().empty()) {
            out.Error("no temporary folder could be made for the dry run; check " + fs::temp_directory_path().string());
            return ExitProblems;
        }
        const std::string copyLan = scratch.Path() + "/lan";
        std::error_code error;
        fs::create_directories(copyLan, error);
        if (fs::exists(lan) && !CopyKeepingTimes(lan, copyLan)) {
            out.Error("the LAN cache " + lan + " could not be copied for the dry run; check the free space in " +
                      scratch.Path());
            return ExitProblems;
        }
        copySet = session.NewSet();
        copySet->SetLanCacheLocation(IO::Location(copyLan));
        copySet->SetUseLanCache(true);
        for (std::size_t k = 0; k < pairs.size(); ++k) {
            Pair& pair = pairs[k];
            const fs::path folder = fs::path(scratch.Path()) / "lib" / std::to_string(k);
            fs::create_directories(folder, error);
            const std::string library = (folder / fs::path(pair.library).filename()).string();
            if (!CopyKeepingTimes(pair.library, library)) {
                out.Error("the library " + pair.library + " could not be copied for the dry run; check the free "
                          "space in " + scratch.Path());
                return ExitProblems;
            }
            const std::int32_t index =
                copySet->AddActiveLibrary(IO::Location(library), LM::NotPermanent, false, true);
            KR::String name;
            copySet->GetActiveLibraryName(index, &name);
            pair.library = library;
            pair.copy = (fs::path(copyLan) / name.Std()).string();
            if (fs::path(pair.copy).filename() != fs::path(pair.shownCopy).filename()) {
                out.Error("the dry run could not name the copy of " + pair.shownLibrary + " as the project does; "
                          "run `libman sync` without --dry-run or rename the library");
                return ExitProblems;
            }
        }
        target = copySet.get();
    }

    WarningHandler& handler = session.Handler();
    handler.SetPathText([&pairs](const IO::Location& location) { return Shown(pairs, Text(location)); });
    ProgressSink sink(ChooseProgressMode(false));
    json asked = json::array();
    handler.SetAsker([&](bool deleted, const IO::Location& library, const IO::Location& cache) {
        const std::string lib = Text(library), copy = Text(cache);
        const std::string question =
            deleted ? Shown(pairs, lib) + " was deleted from the library; its cache copy " + Shown(pairs, copy) +
                          " (modified " + ModifiedText(copy) + ") is still there. Upload it again?"
                    : Shown(pairs, lib) + " (modified " + ModifiedText(lib) + ") and its cache copy " +
                          Shown(pairs, copy) + " (modified " + ModifiedText(copy) +
                          ") both changed. Upload the cache's file over the library's?";
        return Answer(out, options, sink, question, &asked);
    });

    const Snapshot libraryBefore = Take(pairs, true), cacheBefore = Take(pairs, false);
    // The module's synchronisation has no break check, so Ctrl-C is left to
    // end libman at once: every copy over a file is complete or not made.
    out.SetBeforeMessage([&sink] { sink.ClearLine(); });
    KRUtils::IProgressSink* previous = KRUtils::SetProgressSink(&sink);
    bool ran = true;
    if (part >= 0)
        target->SynchronizeCachedSymbol(part, upload, download);
    else
        ran = target->SynchronizeCachedSymbols(upload, download) || !handler.Problems().locationStop;
    KRUtils::SetProgressSink(previous);
    out.SetBeforeMessage(nullptr);
    handler.SetAsker(nullptr);

    const json uploaded = Changed(libraryBefore, Take(pairs, true), pairs);
    const json downloaded = Changed(cacheBefore, Take(pairs, false), pairs);
    const WarningHandler::SyncProblems& problems = handler.Problems();
    const std::string would = options.dryRun ? "would be " : "";
    // A first run downloads whole libraries: the text shows the first few
    // paths of each direction, the JSON all of them.
    constexpr std::size_t ShownPerList = 10;
    for (const auto& [list, verb] : {std::pair{&uploaded, "uploaded"}, std::pair{&downloaded, "downloaded"}}) {
        for (std::size_t k = 0; k < list->size() && k < ShownPerList; ++k)
            out.Line(would + verb + ": " + (*list)[k].get<std::string>());
        if (list->size() > ShownPerList)
            out.Line("(" + std::to_string(list->size() - ShownPerList) + " more " + would + verb +
                     ": `libman sync --json` lists them all)");
    }
    json& result = out.Result();
    result["dryRun"] = options.dryRun;
    result["uploaded"] = uploaded;
    result["downloaded"] = downloaded;
    result["asked"] = asked;
    result["failed"] = problems.failed;
    result["skipped"] = problems.skipped;
    result["stopped"] = !ran;
    out.Line(std::string(options.dryRun ? "dry run, nothing copied: " : "") + std::to_string(uploaded.size()) +
             " uploaded, " + std::to_string(downloaded.size()) + " downloaded, " + std::to_string(asked.size()) +
             " asked, " + std::to_string(problems.failed.size()) + " failed" +
             (problems.skipped > 0 ? ", " + std::to_string(problems.skipped) + " skipped" : "") +
             (ran ? "" : "; stopped by a location error"));
    return ran && problems.failed.empty() && problems.skipped == 0 ? ExitOk : ExitProblems;
}

}  // namespace Libman
