// A library set opened on a project file: the module initialised as an
// application initialises it, the set made, the project's settings and
// configuration applied. Saving writes the set's configuration back.
#pragma once

#include "Output.hpp"
#include "Project.hpp"

#include "LibraryManager.hpp"

#include <memory>
#include <string>

namespace Libman {

// Passes the set's reports on as warnings; asks nothing (the commands that
// exist so far never make the set ask).
class WarningHandler : public LM::ILibraryErrorHandler {
public:
    explicit WarningHandler(Output& out) : out_(out) {}
    void DuplicateCheckStarted() override {}
    void DuplicateFilesFound(const LM::DuplicateNameReport* report) override;
    void DuplicateUnIDFound(const LM::DuplicateUnIDReport* report) override;
    void DuplicateNameFound(const LM::DuplicateNameReport* report) override;
    void ApplicationReport(KR::ErrorCode code, const IO::Location& location) override;
    void CacheEqualsLibrary(const IO::Location& cache, const IO::Location& library) override;
    void CacheNestedWithLibrary(const IO::Location& cache, const IO::Location& library) override;
    void DownloadFailed(const IO::Location& library, const IO::Location& cache) override;
    void UploadFailed(const IO::Location& library, const IO::Location& cache) override;
    std::int32_t AskDeletedFromLibrary(const IO::Location&, const IO::Location&) override { return 0; }
    std::int32_t AskChangedInBoth(const IO::Location&, const IO::Location&) override { return 0; }
    std::int32_t AskNameTooLong(const IO::Name&) override { return 0; }

private:
    Output& out_;
};

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

    LM::LibrarySet& Set() { return *set_; }
    Project& Settings() { return project_; }
    const std::string& Path() const { return path_; }
    WarningHandler& Handler() { return handler_; }

private:
    Output& out_;
    std::string path_;
    Project project_;
    WarningHandler handler_;
    std::unique_ptr<LM::LibrarySet> set_;
    bool initialised_ = false;
};

// The configuration block of `set` (the caller's bytes); false when the set
// gives none.
bool GetInfoBytes(LM::LibrarySet& set, bool withPermanent, std::int32_t version, std::string* bytes);

// A new memory handle holding `bytes`; the caller kills it.
char** MakeHandle(const std::string& bytes);

}  // namespace Libman
