// Enumeration: the active libraries are walked into a fresh part table and
// folder set, then the table is finished (folders renumbered, other objects
// stored, indexes sorted and checked, type hierarchy rebuilt) and the
// observers are told.
#include "AncestryHierarchy.hpp"
#include "IO/File.hpp"
#include "IO/Folder.hpp"
#include "KR/DebugChannel.hpp"
#include "KR/Exceptions.hpp"
#include "KR/Time.hpp"
#include "KRUtils/Progress.hpp"
#include "LibrarySet.hpp"
#include "LibrarySet/ActiveLibraryList.hpp"
#include "LibrarySet/FileCount.hpp"
#include "LibrarySet/Guard.hpp"
#include "LibrarySet/LibraryEnumerator.hpp"
#include "LibrarySet/ModuleState.hpp"
#include "LibrarySet/ProgressWindow.hpp"
#include "LibrarySet/OtherObjectList.hpp"
#include "PartTable/PartTable.hpp"
#include "TypeHierarchy/PathBatch.hpp"

#include <limits>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace LM {

namespace {

// Title of the progress window of an enumeration.
constexpr std::int16_t EnumerationTitle = 84;
// Text table entries that name the two closing folders: the parts outside
// every folder of the set, and the placeholders of missing parts.
constexpr std::size_t OtherObjectsFolderEntry = 7;
constexpr std::size_t PlaceholderFolderEntry = 8;

}  // namespace

std::int32_t LibrarySet::Enumerate()
{
    return GuardError([&]() -> KR::ErrorCode {
        enumerated_ = false;

        // Fresh folder set and part table; the new ones are made before the
        // old ones go, so that a failure here leaves the set usable.
        auto table = std::make_unique<PartTable>(errorHandler_);
        auto folders = std::make_unique<FolderSet>(GetModuleString(ModuleString::FolderSetRoot));
        delete std::exchange(partTable_, table.release());
        delete std::exchange(folderSet_, folders.release());
        typeHierarchy_->Clear();
        // The parts' paths are collected during the walk and added to the
        // hierarchy in one pass when it ends (also when an exception ends it).
        PathBatch batch;
        pathBatch_ = &batch;
        struct BatchEnd {
            LibrarySet& set;
            ~BatchEnd() { set.FlushPartPaths(); }
        } batchEnd{*this};

        const std::int32_t n = activeLibraries_->GetCount();
        ProgressWindow window(EnumerationTitle, n + 1);

        bool cancelled = false;
        for (std::int32_t i = 0; i < n; ++i) {
            ActiveLibrary* library = activeLibraries_->Get(i);
            if (!library->exists || (cancelled && !library->vital))
                continue;

            IO::Location root;
            activeLibraries_->GetContentLocation(i, useLanCache_, lanCacheLocation_, urlCacheLocation_, &root);
            if (library->url.IsEmpty() && useLanCache_)
                activeLibraries_->MountCacheCopy(i, lanCacheLocation_);

            IO::Folder folder(root);
            if (folder.GetStatus() != KR::NoError)
                continue;

            // The record is held by the set while the library is walked and
            // deleted (which writes the file when needed) at the end of the
            // library or when an exception leaves the loop.
            std::unique_ptr<FileCountRecord> record;
            try {
                const char* fileName = GetModuleString(ModuleString::FileCountFile);
                if (fileName[0] != '\0')
                    record = std::make_unique<FileCountRecord>(root, fileName);
            } catch (...) {
                record.reset();
            }
            struct Holder {
                FileCountRecord*& held;
                ~Holder() { held = nullptr; }
            } holder{fileCountRecord_};
            fileCountRecord_ = record.get();

            // Without a count from the file, a counting walk lists the
            // library first; the walk that stores the parts then uses its
            // listings instead of reading every folder again.
            IO::TreeEnumerator::Listings listings;
            std::int32_t total = record != nullptr ? record->count : -1;
            if (total == -1) {
                FileCountEnumerator counter(folder);
                counter.ShareListings(&listings);
                total = counter.Do() == KR::NoError ? static_cast<std::int32_t>(counter.GetFileCounter()) : 0;
            }

            TTSetProcessPhaseString(library->name.ToCStr());
            TTSetNextProcessPhase(0, total);

            LibraryEnumerator walk(folder, this, i);
            walk.ShareListings(&listings);
            walk.Do();
            if (walk.IsStoppedByUser())
                cancelled = true;

            if (record != nullptr) {
                record->SetCount(walk.GetFileCounter());
                record.reset();
            }
        }

        FinishEnumerate();
        partTable_->ReleaseUnmergedParameterSections();
        NotifyObservers();
        window.Close();
        enumerated_ = true;
        return KR::NoError;
    });
}

void LibrarySet::FinishEnumerate()
{
    // Folders: ordered (root, then by library, by the parent's old index, by
    // name), closed by the two closing items, and every part's folder index
    // moved to its folder's new place.
    std::vector<std::int32_t> oldToNew;
    const LibraryManagerStrings& strings = GetModuleState().strings;
    folderSet_->OrderAndClose(strings.Get(OtherObjectsFolderEntry), strings.Get(PlaceholderFolderEntry), &oldToNew);
    partTable_->RenumberFolders(oldToNew);

    // Other objects whose file exists and is not in the table yet become
    // parts of the first closing folder.
    const std::int32_t otherFolder = folderSet_->GetCount() - 2;
    for (std::int32_t k = 0; k < otherObjects_->GetCount(); ++k) {
        const OtherObject* object = otherObjects_->Get(k);
        IO::Location location;
        if (!object->urlFlag)
            location = object->location;
        else if (!urlCacheLocation_.IsEmpty())
            location = IO::Location(urlCacheLocation_, IO::Name(object->name.Std()));
        if (IO::File(location).GetStatus() != KR::NoError || SearchSymbol(location) != -1)
            continue;
        const std::int32_t stored = StoreSymbol(location, otherFolder, -1);
        if (stored != -1)
            SetSymbolUrl(stored, object->url);
    }

    FlushPartPaths();
    partTable_->BuildIndexes();
    RebuildTypeHierarchy(false);
}

void LibrarySet::FlushPartPaths() noexcept
{
    PathBatch* batch = std::exchange(pathBatch_, nullptr);
    if (batch == nullptr)
        return;
    try {
        batch->Flush(*typeHierarchy_, [this](std::int32_t i, std::uint32_t pathId) {
            if (LibElement* record = partTable_->Get(i); record != nullptr && record->GetSymbolData() != nullptr)
                record->GetSymbolData()->ancestryId = pathId;
        });
    } catch (const KR::KRException& e) {
        e.Print(KR::dbChannel);
    } catch (const std::bad_alloc&) {
        // The parts keep no path, as when the tree cannot grow.
    }
}

}  // namespace LM
