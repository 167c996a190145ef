// Two-way synchronisation of the libraries with their copies in the LAN cache.
//
// Each library is compared through three maps: the library now (the source
// map), its cache copy now (the cache map) and the cache copy as it was after
// the last synchronisation (the stored map, read from the map file). Two
// marking passes decide and count what is to be uploaded and downloaded; two
// copy passes then copy it, asking the error handler about conflicts and
// telling it of failures. When anything was copied, the stored map is taken
// anew from the cache copy and written.
//
// Nothing a user made is lost on the way:
// - a copy over an existing file writes the new content beside it and renames
//   it over the old one only when complete, so a failed or interrupted copy
//   leaves the old file (IO::ReplaceFile);
// - a library or cache copy that cannot be read completely is skipped and
//   reported, never taken as empty;
// - an upload that failed is not recorded as in step in the stored map, so
//   the next run tries it again instead of taking the file as deleted from
//   the library;
// - the scratch files of interrupted copies are not taken for entries.
#include "Cache/LibraryMap.hpp"
#include "IO/File.hpp"
#include "IO/FileSystem.hpp"
#include "IO/Folder.hpp"
#include "IO/Platform.hpp"
#include "IO/RawTreeWalk.hpp"
#include "IO/Replace.hpp"
#include "KR/Time.hpp"
#include "KRUtils/Progress.hpp"
#include "LibrarySet.hpp"
#include "LibrarySet/ActiveLibraryList.hpp"
#include "LibrarySet/Guard.hpp"
#include "LibrarySet/ModuleState.hpp"
#include "LibrarySet/ProgressWindow.hpp"
#include "PartTable/PartTable.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <future>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace LM {

namespace {

constexpr std::int16_t SynchronizationTitle = 121;

// A library map that passes over scratch copies and the entries given to
// Exclude (full paths). The scratch copies that IO writes beside a target
// (".<name>.copy-XXXXXX", ".<name>.sync-XXXXXX") are never a user's
// entries; those that a killed copy left behind are removed after the walk.
class SyncMap : public LibraryMap {
public:
    using LibraryMap::LibraryMap;

    void Exclude(const std::string& path) { excluded_.insert(path); }

    // Removes the scratch copies met by the walk that no writer holds any
    // more; those still being written are left to their writers.
    void RemoveAbandonedScratch()
    {
        for (const std::string& path : scratch_)
            IO::RemoveAbandonedScratch(path);
        scratch_.clear();
    }

protected:
    bool KeepEntry(const char* name, std::size_t length, bool isFolder) override
    {
        const std::string_view entry(name, length);
        if (!IO::IsScratchName(entry) && excluded_.empty())
            return LibraryMap::KeepEntry(name, length, isFolder);
        // The folder of the current node, as the walk reached it.
        IO::Location parent;
        GetNodeLocation(GetCurrentNode(), GetRoot().GetLocation(), &parent);
        const std::string& folder = parent.GetText();
        std::string path = folder + (folder == "/" ? "" : "/");
        path.append(entry);
        if (IO::IsScratchName(entry)) {
            scratch_.push_back(std::move(path));
            return false;
        }
        if (excluded_.count(path) != 0)
            return false;
        return LibraryMap::KeepEntry(name, length, isFolder);
    }

private:
    std::unordered_set<std::string> excluded_;
    std::vector<std::string> scratch_;
};

IO::Location ParentOf(const IO::Location& location)
{
    IO::Location parent(location);
    parent.DeleteLastLocalName();
    return parent;
}

// Copies the file `from` to `to`. A regular file at `to` is replaced only
// once the new content is complete beside it; anything else there is
// deleted first (with `safety`) and the copy made then.
KR::ErrorCode CopyOver(const IO::Location& from, const IO::Location& to, IO::DataSafety safety)
{
    bool exists = false;
    if (IO::CheckReplaceable(to.GetText(), &exists) != KR::NoError) {
        IO::fileSystem.Delete(to, safety);  // a failure shows in the copy
        return IO::fileSystem.Copy(from, to);
    }
    if (!exists)
        return IO::fileSystem.Copy(from, to);
    return IO::ReplaceFileWithCopy(from.GetText(), to.GetText(), "sync");
}

// Copies the entry `name` of the folder `from` into the folder `to`, which
// is made when it is missing.
KR::ErrorCode CopyEntry(const IO::Location& from, const IO::Location& to)
{
    IO::Name name;
    from.GetLastLocalName(&name);
    IO::Folder source(ParentOf(from));
    IO::Folder target(ParentOf(to), IO::OnNotFound::Create);
    if (source.GetStatus() != KR::NoError)
        return source.GetStatus();
    if (target.GetStatus() != KR::NoError)
        return target.GetStatus();
    return source.Copy(name, target, name);
}

// Builds `map` by its walk and removes the abandoned scratch copies it met.
KR::ErrorCode Walk(SyncMap& map)
{
    const KR::ErrorCode err = map.Build();
    map.RemoveAbandonedScratch();
    return err;
}

// The walk of a library's cache copy, run on a second thread while the
// library itself is walked, where a second processor is there and where
// that cannot change what either walk sees or does: both trees lie on the
// disk (no mounted file system, whose reader is not shared between
// threads), the cache copy exists already (otherwise it is made only once
// the library's walk succeeded), and the system's own calls are in use (a
// test's platform counts and fails calls in the order a single thread makes
// them). The walk only reads; its abandoned scratch copies are removed after
// it, on the calling thread, as before.
class AsideWalk {
public:
    AsideWalk(const IO::Location& libraryFolder, const IO::Location& cacheFolder)
    {
        struct stat st {};
        if (std::thread::hardware_concurrency() < 2 || !IO::IsSystemPlatformActive() ||
            !IO::RawTreeWalk::CanWalk(libraryFolder) || !IO::RawTreeWalk::CanWalk(cacheFolder) ||
            IO::Sys().Stat(cacheFolder.GetText().c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return;
        map_.emplace(IO::Folder(cacheFolder));
        try {
            result_ = std::async(std::launch::async, [map = &*map_] { return map->Build(); });
        } catch (const std::system_error&) {
            map_.reset();  // no thread to be had: the copy is walked after the library
        }
    }
    AsideWalk(const AsideWalk&) = delete;
    AsideWalk& operator=(const AsideWalk&) = delete;
    // Waits for the walk, whose map it owns.
    ~AsideWalk()
    {
        if (result_.valid())
            result_.wait();
    }

    bool Started() const noexcept { return map_.has_value(); }
    SyncMap& Map() noexcept { return *map_; }
    // The walk's result, as Walk gives it; an exception of the walk is
    // raised here.
    KR::ErrorCode Finish()
    {
        const KR::ErrorCode err = result_.get();
        map_->RemoveAbandonedScratch();
        return err;
    }

private:
    std::optional<SyncMap> map_;
    std::future<KR::ErrorCode> result_;
};

bool IsLibraryFile(const ActiveLibrary& library)
{
    if (library.fileSystem != nullptr)
        return true;
    bool isFolder = false;
    return IO::fileSystem.Exists(library.location, &isFolder) && !isFolder;
}

}  // namespace

// One library's synchronisation: its three maps, where its two sides lie and
// what failed.
struct LibrarySet::SyncRun {
    SyncRun(LibraryMap& cacheMap, LibraryMap& sourceMap, LibraryMap& storedMap)
        : cache(cacheMap), source(sourceMap), stored(storedMap)
    {
    }

    LibraryMap& cache;
    LibraryMap& source;
    LibraryMap& stored;
    IO::Location library;    // the library side: destination of uploads
    IO::Location cacheRoot;  // the cache side: destination of downloads
    bool upload = false;
    bool download = false;
    // Per cache node, the stored node of the same entry (0: none).
    std::vector<std::int32_t> storedMatch;
    // Uploads that failed: the cache path, and the time the stored map is
    // to keep for it (absent: the entry is left out of the stored map).
    std::unordered_map<std::string, std::int32_t> keepStoredTime;
    std::vector<std::string> leaveOut;
};

namespace {

// Takes the map of the cache side anew (a walk of `cacheFolder`, or for a
// library file the one file `copyFile`) and writes it as the stored map of
// the cache copy `copy`. The entries whose upload failed are left out, or
// keep the time the stored map had for them, so that the next run tries
// them again rather than taking them as deleted from the library or as in
// step. A walk that could not read everything writes nothing: the old map
// then stays, and the next run decides again from it.
void WriteStoredMap(const IO::Location& cacheFolder, const IO::Location* copyFile, const IO::Location& lanCache,
                    const IO::Location& copy, const std::vector<std::string>& leaveOut,
                    const std::unordered_map<std::string, std::int32_t>& keepTime)
{
    SyncMap fresh{IO::Folder(cacheFolder)};
    for (const std::string& path : leaveOut)
        fresh.Exclude(path);
    if (copyFile != nullptr) {
        if (std::find(leaveOut.begin(), leaveOut.end(), copyFile->GetText()) == leaveOut.end())
            fresh.AddSingleFile(*copyFile);
    } else if (fresh.Build() != KR::NoError) {
        return;
    }
    for (const auto& [path, time] : keepTime) {
        IO::RelativeLocation relative;
        if (cacheFolder.GetDifference(IO::Location(path), &relative) != KR::NoError)
            continue;
        std::int32_t node = LibraryMap::RootNode;
        for (std::uint32_t i = 0; node != 0 && i < relative.GetLength(); ++i) {
            IO::Name name;
            relative.GetName(i, &name);
            node = fresh.FindChild(fresh.GetNode(node).firstChild, name.Std().c_str());
        }
        if (node != 0)
            fresh.SetModificationTime(node, time);
    }
    fresh.WriteMapFile(IO::Name(GetModuleString(ModuleString::SynchronizationMap)), lanCache, copy);
}

}  // namespace

// ----- Marking ---------------------------------------------------------------

void LibrarySet::SynchronizeUploads(std::int32_t cacheNode, std::int32_t sourceNode, std::int32_t storedNode,
                                    SyncRun& run, std::int32_t& count)
{
    LibraryMap& cache = run.cache;
    std::int32_t sourceStart = sourceNode;
    std::int32_t storedStart = storedNode;
    for (std::int32_t n = cacheNode; n != 0; n = cache.GetNode(n).next) {
        const char* name = cache.GetNameText(n);
        const std::int32_t s = run.source.FindChild(sourceStart, name);
        const std::int32_t t = run.stored.FindChild(storedStart, name);
        if (s != 0)
            sourceStart = s;
        if (t != 0)
            storedStart = t;
        run.storedMatch[static_cast<std::size_t>(n)] = t;
        cache.SetState(n, 0);
        const MapNode& node = cache.GetNode(n);
        if (s != 0) {
            if (node.folder) {
                SynchronizeUploads(node.firstChild, run.source.GetNode(s).firstChild,
                                   t != 0 ? run.stored.GetNode(t).firstChild : 0, run, count);
            } else if (t != 0 && node.modificationTime > run.stored.GetNode(t).modificationTime) {
                std::int32_t state = MapState::Replace | MapState::Upload;
                if (run.source.GetNode(s).modificationTime > run.stored.GetNode(t).modificationTime)
                    state |= MapState::Conflict;
                cache.SetState(n, state);
                ++count;
            }
        } else {
            std::int32_t state = MapState::Upload;
            if (t != 0)
                state |= MapState::DeletedFromLibrary | MapState::Conflict;
            cache.SetState(n, state);
            count += cache.CountFiles(n);
        }
    }
}

void LibrarySet::SynchronizeDownloads(std::int32_t cacheNode, std::int32_t sourceNode, std::int32_t storedNode,
                                      SyncRun& run, std::int32_t& count)
{
    LibraryMap& source = run.source;
    std::int32_t cacheStart = cacheNode;
    std::int32_t storedStart = storedNode;
    for (std::int32_t n = sourceNode; n != 0; n = source.GetNode(n).next) {
        const char* name = source.GetNameText(n);
        const std::int32_t k = run.cache.FindChild(cacheStart, name);
        const std::int32_t t = run.stored.FindChild(storedStart, name);
        if (k != 0)
            cacheStart = k;
        if (t != 0)
            storedStart = t;
        source.SetState(n, 0);
        const MapNode& node = source.GetNode(n);
        if (k != 0) {
            if (node.folder) {
                SynchronizeDownloads(run.cache.GetNode(k).firstChild, node.firstChild,
                                     t != 0 ? run.stored.GetNode(t).firstChild : 0, run, count);
            } else if (t == 0 || node.modificationTime > run.stored.GetNode(t).modificationTime) {
                source.SetState(n, MapState::Replace | MapState::Download);
                ++count;
            }
        } else {
            source.SetState(n, MapState::Download);
            count += source.CountFiles(n);
        }
    }
}

// ----- Copying -----------------------------------------------------------------

void LibrarySet::UploadCacheSymbols(std::int32_t node, SyncRun& run, std::int32_t& count)
{
    LibraryMap& cache = run.cache;
    for (std::int32_t n = node; n != 0; n = cache.GetNode(n).next) {
        std::int32_t state = cache.GetNode(n).state;
        const bool folder = cache.GetNode(n).folder;
        if (folder && (state & MapState::Upload) == 0 && (state & MapState::DeletedFromLibrary) == 0) {
            UploadCacheSymbols(cache.GetNode(n).firstChild, run, count);
            continue;
        }
        if (state == 0)
            continue;

        IO::Location libraryPath, cachePath;
        cache.GetNodeLocation(n, run.library, &libraryPath);
        cache.GetNodeLocation(n, run.cacheRoot, &cachePath);

        if ((state & MapState::DeletedFromLibrary) != 0) {
            const std::int32_t answer = errorHandler_.AskDeletedFromLibrary(libraryPath, cachePath);
            if (answer == 1) {
                state = MapState::Upload;
                cache.SetState(n, state);
            } else if (answer == 2) {
                IO::Name name;
                cachePath.GetLastLocalName(&name);
                IO::Folder(ParentOf(cachePath)).Delete(name, IO::DataSafety::MoveToTrash);
                count += cache.CountFiles(n);
                TTSetProcessValue(count);
                continue;
            } else {
                state = 0;
                cache.SetState(n, 0);
                count += cache.CountFiles(n);
                TTSetProcessValue(count);
                if (folder)
                    UploadCacheSymbols(cache.GetNode(n).firstChild, run, count);
                continue;
            }
        }

        if (folder) {
            if (CopyEntry(cachePath, libraryPath) != KR::NoError) {
                errorHandler_.UploadFailed(libraryPath, cachePath);
                run.leaveOut.push_back(cachePath.GetText());
            }
            count += cache.CountFiles(n);
            TTSetProcessValue(count);
            continue;
        }
        if ((state & MapState::Upload) == 0)
            continue;
        if ((state & MapState::Conflict) != 0 && errorHandler_.AskChangedInBoth(libraryPath, cachePath) != 1)
            continue;
        const KR::ErrorCode err = (state & MapState::Replace) != 0
                                      ? CopyOver(cachePath, libraryPath, IO::DataSafety::DeleteNow)
                                      : IO::fileSystem.Copy(cachePath, libraryPath);
        if (err != KR::NoError) {
            errorHandler_.UploadFailed(libraryPath, cachePath);
            // A changed file keeps its time of the last synchronisation, a
            // new one stays out of the stored map: both are uploaded again.
            const std::int32_t t = run.storedMatch[static_cast<std::size_t>(n)];
            if ((state & MapState::Replace) != 0 && t != 0)
                run.keepStoredTime[cachePath.GetText()] = run.stored.GetNode(t).modificationTime;
            else
                run.leaveOut.push_back(cachePath.GetText());
        }
        if (++count % 10 == 0)
            TTSetProcessValue(count);
    }
}

void LibrarySet::DownloadCacheSymbols(std::int32_t node, SyncRun& run, std::int32_t& count)
{
    LibraryMap& source = run.source;
    for (std::int32_t n = node; n != 0; n = source.GetNode(n).next) {
        const std::int32_t state = source.GetNode(n).state;
        const bool folder = source.GetNode(n).folder;
        if (folder && (state & MapState::Download) == 0) {
            DownloadCacheSymbols(source.GetNode(n).firstChild, run, count);
            continue;
        }
        if ((state & MapState::Download) == 0)
            continue;

        IO::Location libraryPath, cachePath;
        source.GetNodeLocation(n, run.library, &libraryPath);
        source.GetNodeLocation(n, run.cacheRoot, &cachePath);
        if (folder) {
            if (CopyEntry(libraryPath, cachePath) != KR::NoError)
                errorHandler_.DownloadFailed(libraryPath, cachePath);
            downloaded_ = true;
            count += source.CountFiles(n);
            TTSetProcessValue(count);
            continue;
        }
        // A failed download leaves the old cache file, and with it the time
        // the next run compares against: it is tried again.
        const KR::ErrorCode err = (state & MapState::Replace) != 0
                                      ? CopyOver(libraryPath, cachePath, IO::DataSafety::MoveToTrash)
                                      : IO::fileSystem.Copy(libraryPath, cachePath);
        if (err != KR::NoError)
            errorHandler_.DownloadFailed(libraryPath, cachePath);
        if (++count % 10 == 0)
            TTSetProcessValue(count);
        downloaded_ = true;
    }
}

// Steps shared by both operations: mark and count, and when anything is to
// be copied, copy it. `phaseName` (when given) names the progress phase.
// The number of entries copied or tried.
std::int32_t LibrarySet::MarkAndCopy(SyncRun& run, const char* phaseName)
{
    run.storedMatch.assign(static_cast<std::size_t>(run.cache.GetNodeCount()) + 1, 0);
    std::int32_t count = 0;
    if (run.upload)
        SynchronizeUploads(run.cache.GetFirstEntry(), run.source.GetFirstEntry(), run.stored.GetFirstEntry(), run,
                           count);
    if (run.download)
        SynchronizeDownloads(run.cache.GetFirstEntry(), run.source.GetFirstEntry(), run.stored.GetFirstEntry(), run,
                             count);
    if (phaseName != nullptr) {
        TTSetProcessPhaseString(phaseName);
        TTSetNextProcessPhase(0, count);
    }
    if (count <= 0)
        return 0;
    count = 0;
    if (run.upload)
        UploadCacheSymbols(run.cache.GetFirstEntry(), run, count);
    if (run.download)
        DownloadCacheSymbols(run.source.GetFirstEntry(), run, count);
    return count;
}

// ----- Whole libraries ---------------------------------------------------------

void LibrarySet::SynchronizeLibrary(std::int32_t index, bool upload, bool download)
{
    ActiveLibrary& library = *activeLibraries_->Get(index);
    const bool isFile = IsLibraryFile(library);
    const IO::Location libraryFolder = isFile ? ParentOf(library.location) : library.location;
    IO::Location copy;
    activeLibraries_->GetCacheCopyLocation(index, lanCacheLocation_, &copy);
    const IO::Location cacheFolder = isFile ? lanCacheLocation_ : copy;

    // The source map is held by the library while it is synchronised.
    struct Holder {
        ActiveLibrary& library;
        ~Holder() { library.sourceMap.reset(); }
    } holder{library};
    // The cache copy's walk runs beside the library's where it can.
    std::optional<AsideWalk> aside;
    if (!isFile)
        aside.emplace(libraryFolder, cacheFolder);
    auto sourceMap = std::make_unique<SyncMap>(IO::Folder(libraryFolder));
    SyncMap& source = *sourceMap;
    library.sourceMap = std::move(sourceMap);
    if (isFile) {
        if (source.AddSingleFile(library.location) == 0)
            return;
    } else if (const KR::ErrorCode err = Walk(source); err != KR::NoError) {
        // A library that is gone is passed over as the walk of the set
        // does; one that could not be read completely is reported.
        if (err != IO::ErrNotFound)
            errorHandler_.ApplicationReport(err, libraryFolder);
        return;
    }

    const IO::Folder cacheRoot(cacheFolder, IO::OnNotFound::Create);
    if (cacheRoot.GetStatus() != KR::NoError) {
        errorHandler_.ApplicationReport(cacheRoot.GetStatus(), cacheFolder);
        return;
    }
    std::optional<SyncMap> ownCache;
    SyncMap& cache = aside && aside->Started() ? aside->Map() : ownCache.emplace(cacheRoot);
    if (isFile) {
        cache.AddSingleFile(copy);
    } else if (const KR::ErrorCode err = aside && aside->Started() ? aside->Finish() : Walk(cache);
               err != KR::NoError) {
        errorHandler_.ApplicationReport(err, cacheFolder);
        return;
    }
    SyncMap stored(cacheRoot);
    const IO::Name mapName(GetModuleString(ModuleString::SynchronizationMap));
    stored.ReadMapFile(mapName, lanCacheLocation_, copy);

    SyncRun run(cache, source, stored);
    run.library = libraryFolder;
    run.cacheRoot = cacheFolder;
    run.upload = upload;
    run.download = download;
    if (MarkAndCopy(run, library.name.ToCStr()) > 0)
        WriteStoredMap(cacheFolder, isFile ? &copy : nullptr, lanCacheLocation_, copy, run.leaveOut,
                       run.keepStoredTime);
}

bool LibrarySet::SynchronizeCachedSymbols(bool upload, bool download)
{
    return Guard(false, [&] {
        if (!useLanCache_)
            return false;
        const std::int32_t n = activeLibraries_->GetCount();
        ProgressWindow window(SynchronizationTitle, n);
        downloaded_ = false;
        for (std::int32_t i = 0; i < n; ++i) {
            const ActiveLibrary& library = *activeLibraries_->Get(i);
            // A URL library's copy lies in the URL cache and is not ours to
            // synchronise.
            if (!library.exists || library.permanent || !library.url.IsEmpty())
                continue;
            const bool isFile = IsLibraryFile(library);
            const IO::Location libraryFolder = isFile ? ParentOf(library.location) : library.location;
            IO::Location copy;
            activeLibraries_->GetCacheCopyLocation(i, lanCacheLocation_, &copy);
            const IO::Location cacheFolder = isFile ? lanCacheLocation_ : copy;
            if (cacheFolder == libraryFolder) {
                errorHandler_.CacheEqualsLibrary(cacheFolder, libraryFolder);
                return false;
            }
            if (cacheFolder.IsAncestorOf(libraryFolder) || libraryFolder.IsAncestorOf(cacheFolder)) {
                errorHandler_.CacheNestedWithLibrary(cacheFolder, libraryFolder);
                return false;
            }
            SynchronizeLibrary(i, upload, download);
        }
        window.Close();
        return downloaded_;
    });
}

bool LibrarySet::SynchronizeCachedSymbol(std::int32_t partIndex, bool upload, bool download)
{
    return Guard(false, [&] {
        LibElement* record = partTable_->Get(partIndex);
        if (!useLanCache_ || record == nullptr || !record->valid)
            return false;

        IO::Location part = record->location;
        const FolderItem* item = folderSet_->GetItem(record->folderIndex);
        std::int32_t index = item != nullptr ? item->activeLibraryIndex : -1;
        bool inLibrary = false;
        if (index == -1) {
            for (std::int32_t i = 0; i < activeLibraries_->GetCount() && index == -1; ++i) {
                const ActiveLibrary& library = *activeLibraries_->Get(i);
                if (!library.permanent && library.location.IsAncestorOf(part))
                    index = i;
            }
            if (index == -1)
                return false;
            inLibrary = true;
        }
        const ActiveLibrary* library = activeLibraries_->Get(index);
        // A permanent library is its own copy, and the parts of a library
        // file lie inside a container: neither has a file of its own to
        // synchronise, and copying over it could only harm the library.
        if (library == nullptr || library->permanent || !library->url.IsEmpty() || IsLibraryFile(*library))
            return false;

        IO::Location copy;
        activeLibraries_->GetCacheCopyLocation(index, lanCacheLocation_, &copy);
        const IO::Location& libraryFolder = library->location;
        if (lanCacheLocation_ == libraryFolder) {
            errorHandler_.CacheEqualsLibrary(lanCacheLocation_, libraryFolder);
            return false;
        }
        if (lanCacheLocation_.IsAncestorOf(libraryFolder) || libraryFolder.IsAncestorOf(lanCacheLocation_)) {
            errorHandler_.CacheNestedWithLibrary(lanCacheLocation_, libraryFolder);
            return false;
        }

        IO::RelativeLocation relative;
        IO::Location sourcePath;
        if (inLibrary) {
            if (libraryFolder.GetDifference(part, &relative) != KR::NoError)
                return false;
            sourcePath = part;
            IO::Location moved(copy);
            moved.AppendToLocal(relative);
            const std::int32_t folder = folderSet_->FindFolderOfFile(moved);
            const FolderItem* target = folderSet_->GetItem(folder);
            if (target == nullptr || target->location != ParentOf(moved))
                return false;
            record->folderIndex = folder;
            record->location = moved;
            part = std::move(moved);
        } else {
            if (copy.GetDifference(part, &relative) != KR::NoError)
                return false;
            sourcePath = libraryFolder;
            sourcePath.AppendToLocal(relative);
        }
        if (relative.IsEmpty())
            return false;

        // Each map holds only the path of the part: the file with its time
        // where it exists, else the folders above it.
        const auto addPath = [&relative](LibraryMap& map, const IO::Location& file) {
            bool isFolder = false;
            if (IO::fileSystem.Exists(file, &isFolder) && !isFolder) {
                const std::int32_t node = map.FindOrAddPath(relative, false);
                std::int32_t time = 0;
                if (IO::File(file).GetModificationTime(&time) != KR::NoError)
                    time = 0;
                map.SetModificationTime(node, time);
            } else if (relative.GetLength() > 1) {
                IO::RelativeLocation folders(relative);
                folders.DeleteLastName();
                map.FindOrAddPath(folders, true);
            }
        };
        SyncMap cache{IO::Folder(copy)};
        addPath(cache, part);
        SyncMap source{IO::Folder(libraryFolder)};
        addPath(source, sourcePath);
        SyncMap stored{IO::Folder(copy)};
        stored.ReadMapFile(IO::Name(GetModuleString(ModuleString::SynchronizationMap)), lanCacheLocation_, copy);

        SyncRun run(cache, source, stored);
        run.library = libraryFolder;
        run.cacheRoot = copy;
        run.upload = upload;
        run.download = download;
        if (MarkAndCopy(run, nullptr) > 0)
            WriteStoredMap(copy, nullptr, lanCacheLocation_, copy, run.leaveOut, run.keepStoredTime);
        return false;
    });
}

}  // namespace LM
