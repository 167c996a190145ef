#include "Session.hpp"

#include "IO/ZipVFS.hpp"
#include "KR/Memory.hpp"

#include <cstring>

namespace Libman {

void WarningHandler::DuplicateFilesFound(const LM::DuplicateNameReport* report)
{
    out_.Warning(std::string("duplicate files: ") + report->name);
}

void WarningHandler::DuplicateUnIDFound(const LM::DuplicateUnIDReport* report)
{
    out_.Warning(std::string("duplicate identifier: ") + report->name);
}

void WarningHandler::DuplicateNameFound(const LM::DuplicateNameReport* report)
{
    out_.Warning(std::string("duplicate name: ") + report->name);
}

void WarningHandler::ApplicationReport(KR::ErrorCode code, const IO::Location& location)
{
    out_.Warning(location.GetText() + ": error " + std::to_string(code));
}

void WarningHandler::CacheEqualsLibrary(const IO::Location& cache, const IO::Location& library)
{
    out_.Warning("the cache folder " + cache.GetText() + " is the library " + library.GetText() +
                 ": choose another cache folder");
}

void WarningHandler::CacheNestedWithLibrary(const IO::Location& cache, const IO::Location& library)
{
    out_.Warning("the cache folder " + cache.GetText() + " and the library " + library.GetText() +
                 " lie inside one another: choose another cache folder");
}

void WarningHandler::DownloadFailed(const IO::Location& library, const IO::Location& cache)
{
    out_.Warning("could not copy " + library.GetText() + " to " + cache.GetText());
}

void WarningHandler::UploadFailed(const IO::Location& library, const IO::Location& cache)
{
    out_.Warning("could not copy " + cache.GetText() + " back to " + library.GetText());
}

Session::Session(Output& out, std::string path) : out_(out), path_(std::move(path)), handler_(out) {}

Session::~Session()
{
    set_.reset();
    if (initialised_)
        LM::FreeLibraryManager();
}

bool Session::Open(bool mayCreate)
{
    std::string problem;
    switch (LoadProject(path_, &project_, &problem)) {
    case LoadStatus::Damaged:
        out_.Error("the project file " + path_ + " is damaged: " + problem +
                   ". libman leaves it as it is: repair it, or move it away and start a new one");
        return false;
    case LoadStatus::Missing:
        if (!mayCreate) {
            out_.Error("there is no project file " + path_ +
                       ": run `libman add FOLDER` to start one, or name another with --project FILE");
            return false;
        }
        break;
    case LoadStatus::Loaded:
        break;
    }

    LM::LibraryManagerCallBacks callBacks;
    callBacks.createFixedVFS = &IO::CreateZipVFS;
    LM::LibraryManagerStrings strings;
    strings.Set(5, "Libraries");
    strings.Set(6, "ScriptCodeCache");
    strings.Set(7, "Other Objects");
    strings.Set(8, "Missing Parts");
    LM::InitLibraryManager(callBacks, strings, 1, 2, IO::Location(project_.scriptCodeCache));
    initialised_ = true;
    set_ = std::make_unique<LM::LibrarySet>(handler_, KR::ConstForwardIterator<FTM::GeneralID>());
    if (!set_->IsUsable()) {
        out_.Error("the library set could not be created (out of memory?)");
        return false;
    }
    // The set keeps its own cache folders when it reads a block, so they
    // come from the settings first.
    if (!project_.lanCache.empty() && set_->SetLanCacheLocation(IO::Location(project_.lanCache)) != 0)
        out_.Warning("the LAN cache folder " + project_.lanCache + " in " + path_ +
                     " is not usable: set another with `libman cache set --lan DIR`");
    if (!project_.urlCache.empty() && set_->SetFtpCacheLocation(IO::Location(project_.urlCache)) != 0)
        out_.Warning("the URL cache folder " + project_.urlCache + " in " + path_ +
                     " is not usable: set another with `libman cache set --url DIR`");
    if (!project_.infoBlock.empty()) {
        char** block = MakeHandle(project_.infoBlock);
        const std::int32_t error = set_->SetActiveLibrariesFromInfo(block, false);
        KR::bmManager.KillHandle(block);
        if (error != 0) {
            out_.Error("the project file " + path_ + " is damaged: its configuration block cannot be read (error " +
                       std::to_string(error) + "). libman leaves it as it is: repair it, or move it away and start "
                       "a new one");
            return false;
        }
    }
    return true;
}

bool Session::Save()
{
    std::string bytes;
    if (!GetInfoBytes(*set_, true, LM::LibrarySet::InfoCurrentVersion, &bytes)) {
        out_.Error("the configuration could not be taken from the library set; " + path_ + " is unchanged");
        return false;
    }
    project_.infoBlock = bytes;
    project_.useLanCache = set_->IsUseLanCache();
    if (std::string problem = SaveProject(path_, project_); !problem.empty()) {
        out_.Error(problem + "; the project file " + path_ + " is unchanged");
        return false;
    }
    return true;
}

bool GetInfoBytes(LM::LibrarySet& set, bool withPermanent, std::int32_t version, std::string* bytes)
{
    char** block = nullptr;
    if (set.GetActiveLibrariesInfo(&block, withPermanent, version) != 0 || block == nullptr) {
        if (block != nullptr)
            KR::bmManager.KillHandle(block);
        return false;
    }
    const std::size_t size = KR::bmManager.GetHandleSize(block);
    bytes->assign(size > 0 ? *block : "", size);
    KR::bmManager.KillHandle(block);
    return true;
}

char** MakeHandle(const std::string& bytes)
{
    char** handle = KR::bmManager.NewHandle(bytes.size());
    if (handle != nullptr && !bytes.empty())
        std::memcpy(*handle, bytes.data(), bytes.size());
    return handle;
}

}  // namespace Libman
