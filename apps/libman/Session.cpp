#include "Session.hpp"

#include "IO/ZipVFS.hpp"
#include "KR/Memory.hpp"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace Libman {

void WarningHandler::Report(int kind, const std::string& message)
{
    // A library may hold hundreds of duplicates: the text shows the first
    // few of each kind, the JSON all of them.
    if (quiet_ || (++shown_[kind] > ShownPerKind && !out_.IsJson()))
        return;
    out_.Warning(message);
}

namespace {

std::string Where(const IO::Location& first, const IO::Location& second, std::uint32_t count)
{
    if (count < 2)
        return first.GetText();
    return first.GetText() + ", " + second.GetText() + (count > 2 ? " and " + std::to_string(count - 2) + " more" : "");
}

}  // namespace

void WarningHandler::DuplicateFilesFound(const LM::DuplicateNameReport* report)
{
    ++duplicates_.files;
    Report(0, std::string("files named '") + report->name + "' of one type: " +
                  Where(report->GetLocation(0), report->GetLocation(report->count > 1 ? 1 : 0), report->count) +
                  "; keep one of them");
}

void WarningHandler::DuplicateUnIDFound(const LM::DuplicateUnIDReport* report)
{
    // One report per name among the parts that share the UnID.
    const std::string id = report->unID.ToString();
    if (id != lastUnID_)
        ++duplicates_.identifiers;
    lastUnID_ = id;
    Report(1, std::string("the UnID ") + id + " is shared: '" + report->name + "' in " +
                  Where(report->GetLocation(0), report->GetLocation(report->count > 1 ? 1 : 0), report->count) +
                  "; give each part its own UnID");
}

void WarningHandler::DuplicateNameFound(const LM::DuplicateNameReport* report)
{
    ++duplicates_.names;
    Report(2, std::string("parts named '") + report->name + "' with different UnIDs: " +
                  Where(report->GetLocation(0), report->GetLocation(report->count > 1 ? 1 : 0), report->count) +
                  "; rename all but one");
}

std::int32_t WarningHandler::Unshown() const
{
    std::int32_t unshown = 0;
    for (std::int32_t shown : shown_)
        unshown += std::max(0, shown - ShownPerKind);
    return quiet_ || out_.IsJson() ? 0 : unshown;
}

std::string WarningHandler::PathText(const IO::Location& location) const
{
    return pathText_ ? pathText_(location) : location.GetText();
}

void WarningHandler::ApplicationReport(KR::ErrorCode code, const IO::Location& location)
{
    // The set reports through here only a library or cache copy that the
    // synchronisation could not read completely, and therefore skipped.
    ++problems_.skipped;
    out_.Error(PathText(location) + " could not be read completely (error " + std::to_string(code) +
               "); it was not synchronised: check its permissions and run `libman sync` again");
}

void WarningHandler::CacheEqualsLibrary(const IO::Location& cache, const IO::Location& library)
{
    problems_.locationStop = true;
    out_.Error("the cache folder " + PathText(cache) + " is the library " + PathText(library) +
               ": choose another with `libman cache set --lan DIR`");
}

void WarningHandler::CacheNestedWithLibrary(const IO::Location& cache, const IO::Location& library)
{
    problems_.locationStop = true;
    out_.Error("the cache folder " + PathText(cache) + " and the library " + PathText(library) +
               " lie inside one another: choose another with `libman cache set --lan DIR`");
}

void WarningHandler::DownloadFailed(const IO::Location& library, const IO::Location& cache)
{
    ++problems_.downloadsFailed;
    problems_.failed.push_back(PathText(library));
    out_.Error("could not copy " + PathText(library) + " to " + PathText(cache) +
               "; the cache keeps its old file: check that the cache folder can be written and run `libman sync` "
               "again");
}

void WarningHandler::UploadFailed(const IO::Location& library, const IO::Location& cache)
{
    ++problems_.uploadsFailed;
    problems_.failed.push_back(PathText(library));
    out_.Error("could not copy " + PathText(cache) + " back to " + PathText(library) +
               "; the library keeps its old file: check that the library can be written and run `libman sync` "
               "again");
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

    // Part files end in .lpf and script files in .lps (as `lpf` writes
    // them); other files in a library are not stored. No file count file is
    // named, so that enumerating never writes into a library. The
    // synchronisation keeps its maps of the cache copies in the LAN cache
    // folder under "Synchronisation Maps".
    LM::LibraryManagerCallBacks callBacks;
    callBacks.createFixedVFS = &IO::CreateZipVFS;
    LM::LibraryManagerStrings strings;
    const std::pair<std::size_t, const char*> texts[] = {
        {3, "Synchronisation Maps"}, {5, "Libraries"}, {6, ScriptCacheBaseName}, {7, "Other Objects"}, {8, "Missing Parts"}};
    for (const auto& [entry, text] : texts)
        strings.Set(entry, text);
    const std::pair<const char*, const char*> types[] = {{"Library part", "lpf"}, {"Library script", "lps"}};
    for (const auto& [name, extension] : types) {
        FTM::FileType type(name);
        type.AddExtension(extension);
        storable_.push_back(FTM::FileTypeManager::AddType(type));
    }
    LM::InitLibraryManager(callBacks, strings, storable_[0], storable_[1], IO::Location(project_.scriptCodeCache));
    initialised_ = true;
    set_ = std::make_unique<LM::LibrarySet>(
        handler_, KR::ConstForwardIterator<FTM::GeneralID>(storable_.data(), storable_.data() + storable_.size()));
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

std::unique_ptr<LM::LibrarySet> Session::NewSet()
{
    return std::make_unique<LM::LibrarySet>(
        handler_, KR::ConstForwardIterator<FTM::GeneralID>(storable_.data(), storable_.data() + storable_.size()));
}

bool Session::Enumerate(ProgressMode progress, EnumerationReport* report)
{
    ProgressSink sink(progress);
    InterruptGuard interrupts;
    out_.SetBeforeMessage([&sink] { sink.ClearLine(); });
    KRUtils::IProgressSink* previous = KRUtils::SetProgressSink(&sink);
    const auto start = std::chrono::steady_clock::now();
    report->error = set_->Enumerate();
    report->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    KRUtils::SetProgressSink(previous);
    out_.SetBeforeMessage(nullptr);
    report->cancelled = sink.BreakSeen();
    report->files = sink.FilesCounted();
    report->phases = sink.LibraryPhases();
    if (report->error != 0) {
        out_.Error("the enumeration of " + path_ + " failed (error " + std::to_string(report->error) +
                   "); check that the libraries can be read");
        return false;
    }
    return true;
}

bool Session::IsScript(std::int32_t i) const
{
    FTM::GeneralID type{};
    return set_->GetSymbolGeneralFileType(i, &type) == 0 && storable_.size() > 1 && type == storable_[1];
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
