// A library set opened on a project file: the module initialised as an
// application initialises it, the set made, the project's settings and
// configuration applied. Saving writes the set's configuration back.
#pragma once

#include "Output.hpp"
#include "Progress.hpp"
#include "Project.hpp"

#include "LibraryManager.hpp"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Libman {

// Passes the set's reports on as warnings and counts the duplicate reports.
// A quiet handler only counts the duplicates: the commands that enumerate
// before they search leave the warnings to `libman enumerate`. The
// synchronisation's questions go to the asker (none: "no"), and its failed
// copies and location errors are printed as errors and counted.
class WarningHandler : public LM::ILibraryErrorHandler {
public:
    explicit WarningHandler(Output& out) : out_(out) {}
    struct Duplicates {
        std::int32_t files = 0;        // files that are not parts sharing a name and type
        std::int32_t identifiers = 0;  // parts sharing a UnID
        std::int32_t names = 0;        // parts sharing a name but not a UnID
    };
    const Duplicates& Counted() const { return duplicates_; }
    // Reports that were counted but not printed.
    std::int32_t Unshown() const;
    void SetQuiet(bool quiet) { quiet_ = quiet; }

    // Answers a synchronisation question: `deleted` for an entry deleted
    // from the library, else a file changed on both sides; 1 means yes.
    using Asker = std::function<std::int32_t(bool deleted, const IO::Location& library, const IO::Location& cache)>;
    void SetAsker(Asker asker) { asker_ = std::move(asker); }
    // How paths are shown in messages (a dry run shows the real paths of
    // its throwaway copies); none: as they are.
    void SetPathText(std::function<std::string(const IO::Location&)> text) { pathText_ = std::move(text); }
    std::string PathText(const IO::Location& location) const;
    struct SyncProblems {
        std::int32_t uploadsFailed = 0;
        std::int32_t downloadsFailed = 0;
        std::int32_t skipped = 0;   // libraries or copies that could not be read
        bool locationStop = false;  // a cache copy is or holds its library
        std::vector<std::string> failed;  // library paths of the failed copies
    };
    const SyncProblems& Problems() const { return problems_; }

    void DuplicateCheckStarted() override {}
    void DuplicateFilesFound(const LM::DuplicateNameReport* report) override;
    void DuplicateUnIDFound(const LM::DuplicateUnIDReport* report) override;
    void DuplicateNameFound(const LM::DuplicateNameReport* report) override;
    void ApplicationReport(KR::ErrorCode code, const IO::Location& location) override;
    void CacheEqualsLibrary(const IO::Location& cache, const IO::Location& library) override;
    void CacheNestedWithLibrary(const IO::Location& cache, const IO::Location& library) override;
    void DownloadFailed(const IO::Location& library, const IO::Location& cache) override;
    void UploadFailed(const IO::Location& library, const IO::Location& cache) override;
    std::int32_t AskDeletedFromLibrary(const IO::Location& library, const IO::Location& cache) override
    {
        return asker_ ? asker_(true, library, cache) : 0;
    }
    std::int32_t AskChangedInBoth(const IO::Location& library, const IO::Location& cache) override
    {
        return asker_ ? asker_(false, library, cache) : 0;
    }
    std::int32_t AskNameTooLong(const IO::Name&) override { return 0; }

private:
    static constexpr std::int32_t ShownPerKind = 5;
    void Report(int kind, const std::string& message);

    Output& out_;
    Duplicates duplicates_;
    std::int32_t shown_[3] = {};
    std::string lastUnID_;
    bool quiet_ = false;
    Asker asker_;
    std::function<std::string(const IO::Location&)> pathText_;
    SyncProblems problems_;
};

// Base name of the compiled script code cache file in its folder (the file
// is this name followed by .dat).
inline constexpr const char* ScriptCacheBaseName = "ScriptCodeCache";

class Session {
public:
    Session(Output& out, std::string path);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Loads the project and makes the set. A missing project file is an empty
    // project when `mayCreate`, an error otherwise; a damaged one is always
    // an error (and is left as it is). False after an error was reported.
    bool Open(bool mayCreate);
    // Writes the set's configuration and the settings back. False after an
    // error was reported.
    bool Save();

    // Enumerates the set with the progress shown as `progress` says (see
    // Progress.hpp). False after an error was reported.
    bool Enumerate(ProgressMode progress, EnumerationReport* report);

    LM::LibrarySet& Set() { return *set_; }
    // True for a record of a script file (.lps) rather than a part file.
    bool IsScript(std::int32_t i) const;
    Project& Settings() { return project_; }
    // Another, empty set of this session's module and handler.
    std::unique_ptr<LM::LibrarySet> NewSet();
    const std::string& Path() const { return path_; }
    WarningHandler& Handler() { return handler_; }

private:
    Output& out_;
    std::string path_;
    Project project_;
    WarningHandler handler_;
    std::vector<FTM::GeneralID> storable_;
    std::unique_ptr<LM::LibrarySet> set_;
    bool initialised_ = false;
};

// Opens the project at `project` (see Session::Open) and returns what `body`
// returns for it, or ExitProblems when it cannot be opened.
template <typename Body>
int WithProject(Output& out, const std::string& project, bool mayCreate, Body&& body)
{
    Session session(out, project);
    return session.Open(mayCreate) ? body(session) : ExitProblems;
}

// Opens the project and enumerates it quietly (a bar on a terminal). False
// after an error was reported.
bool OpenEnumerated(Session& session);
// Finds PART by UnID, by path or by document name (then file name). -1
// after an error was reported.
std::int32_t FindPart(Output& out, LM::LibrarySet& set, const std::string& part);

// The configuration block of `set` (the caller's bytes); false when the set
// gives none.
bool GetInfoBytes(LM::LibrarySet& set, bool withPermanent, std::int32_t version, std::string* bytes);

// A new memory handle holding `bytes`; the caller kills it.
char** MakeHandle(const std::string& bytes);

}  // namespace Libman
