// The library set: the application's set of active libraries, the part table
// that enumeration fills, the folder set, the other objects and the type
// hierarchy.
//
// Results follow one convention: error codes (0 for success), indices (-1 for
// none), counts or bools. Every public operation runs under a guard: a
// foundation exception raised inside is printed on KR::dbChannel and the
// operation returns the value its documentation gives for that case; no
// exception leaves the module through a guarded operation.
//
// A set whose construction failed (it caught an exception while creating its
// parts) is unusable: IsUsable() is false and every operation refuses to
// work, returning ErrSetUnusable where it returns an error code and its
// fallback value (-1, 0, false or null) otherwise.
#pragma once

#include "FTM/FileTypes.hpp"
#include "ILibraryErrorHandler.hpp"
#include "IO/Location.hpp"
#include "KR/Containers.hpp"
#include "KR/Events.hpp"
#include "KR/GUID.hpp"
#include "KR/Iterator.hpp"
#include "KR/String.hpp"
#include "LMExport.hpp"
#include "LibraryManagerModule.hpp"
#include "LibrarySet/FolderSet.hpp"
#include "LibrarySetObserver.hpp"
#include "PscBinCodes.hpp"

#include <vector>

namespace KR {
class OChannel;
}  // namespace KR

namespace LPF {
class SymbolFile;
class ScriptFile;
}  // namespace LPF

namespace LM {

class ActiveLibraryList;
class OtherObjectList;
class PartTable;
class AncestryHierarchy;
class AncestryInfo;
class TypeHierarchyExporter;
class PscBinCodesContainer;
class PathBatch;
struct FileCountRecord;

// How a library is added: only Permanent (0) is told apart from every other
// value. A permanent library is never replaced by a cache copy and is not
// synchronised.
enum PermanentMode : std::int32_t {
    Permanent = 0,
    NotPermanent = 1,
};

class LM_API LibrarySet : public KR::EventSource, public PscBinCodesContainerObserver {
public:
    // ----- Construction ---------------------------------------------------
    LibrarySet(ILibraryErrorHandler& errorHandler, KR::ConstForwardIterator<FTM::GeneralID> storableFileTypes);
    LibrarySet(const LibrarySet&) = delete;
    LibrarySet& operator=(const LibrarySet&) = delete;
    ~LibrarySet() override;

    // False when the constructor could not create the set's parts.
    bool IsUsable() const noexcept;

    // The script code container this set observes is being destroyed (when
    // the module is unloaded before the set): the set forgets it.
    void SourceDestroyed(KR::EventSource* source) override;

    bool IsEnumerated() const noexcept;
    void SetEnumerated(bool enumerated) noexcept;

    // ----- Active libraries ----------------------------------------------
    // Adds a folder library, or a library that is a container file (mounted at
    // its location when `mount` is true). Returns its index, the index of the
    // library that has this location already, or -1 for an empty location.
    std::int32_t AddActiveLibrary(const IO::Location& location, PermanentMode mode, bool vital, bool mount);
    // Adds a URL library; its index, the index of the library with this URL,
    // or -1 for an empty URL.
    std::int32_t AddActiveLibrary(const KR::String& url, PermanentMode mode, bool vital);
    // 0, or ErrBadIndex.
    std::int32_t RemoveActiveLibrary(std::int32_t index);
    // Index and location of the first library whose folder can be written;
    // -1 when there is none or `location` is null.
    std::int32_t GetFirstWrittableActiveLibrary(IO::Location* location);
    std::int32_t GetActiveLibraryNum() const;
    // Index of the library with this location; -1 when none.
    std::int32_t GetActiveLibraryIndex(const IO::Location& location);
    // 0 with the field copied out, or ErrBadIndex (output unchanged).
    std::int32_t GetActiveLibraryLocation(std::int32_t index, IO::Location* location) const;
    std::int32_t GetActiveLibraryName(std::int32_t index, KR::String* name) const;
    std::int32_t GetActiveLibraryUrl(std::int32_t index, KR::String* url) const;
    // The flag; false for a bad index.
    bool IsExistActiveLibrary(std::int32_t index);
    bool IsVitalActiveLibrary(std::int32_t index);
    bool IsUrlActiveLibrary(std::int32_t index) const;
    bool IsPermanentActiveLibrary(std::int32_t index) const;

    // ----- Observers ----------------------------------------------------
    void Attach(LibrarySetObserver& observer);
    void Detach(LibrarySetObserver& observer);

    // ----- Folders and other objects ----------------------------------------
    // Valid until the next enumeration.
    FolderSet* GetFolderSet();
    std::int32_t GetFolderNumber() const;
    std::int32_t GetFolderParent(std::int32_t folder) const;          // -1 for a bad index
    std::int32_t GetFolderActLibIndex(std::int32_t folder) const;     // -1 for a bad index
    std::int32_t GetFolderTreeItemId(std::int32_t folder) const;      // -1 for a bad index
    bool GetFolderExpandState(std::int32_t folder) const;             // false for a bad index
    std::int32_t GetFolderName(std::int32_t folder, KR::String* name) const;  // 0 or ErrBadIndex
    std::int32_t SetFolderTreeItemId(std::int32_t folder, std::int32_t id);   // 0 or ErrBadIndex
    std::int32_t SetFolderExpandState(std::int32_t folder, bool expanded);    // 0 or ErrBadIndex

    // Index of the new or already present object; -1 for an empty argument.
    // Both clear the enumerated flag and notify the observers.
    std::int32_t AddOtherObject(const IO::Location& location);
    std::int32_t AddOtherObject(const KR::String& url);
    std::int32_t GetOtherObjectNum() const;
    bool IsUrlOtherObject(std::int32_t index) const;
    std::int32_t GetOtherObjectLocation(std::int32_t index, IO::Location* location) const;  // 0 or ErrBadIndex
    std::int32_t GetOtherObjectUrl(std::int32_t index, KR::String* url) const;
    std::int32_t GetOtherObjectName(std::int32_t index, KR::String* name) const;
    std::int32_t SetOtherObjectLocation(std::int32_t index, const IO::Location& location);
    std::int32_t SetOtherObjectUrl(std::int32_t index, const KR::String& url);

    // ----- Part records -------------------------------------------------------
    std::int32_t GetSymbolNumber() const;
    bool IsValidIndex(std::int32_t i) const;
    bool IsSymbolValid(std::int32_t i) const;
    std::int32_t SetSymbolValid(std::int32_t i, bool valid);
    bool IsLibElementSymbol(std::int32_t i) const;
    std::int32_t GetSymbolLocation(std::int32_t i, IO::Location* location) const;
    std::int32_t GetSymbolGeneralFileType(std::int32_t i, FTM::GeneralID* type) const;
    std::int32_t GetSymbolFolderIndex(std::int32_t i) const;
    // Copies the document name (at most 32 bytes with the terminator).
    std::int32_t GetSymbolDocumentName(std::int32_t i, char* name) const;
    // Owned by the record; valid until it is re-initialised or the table replaced.
    LPF::SymbolFile* GetSymbolFile(std::int32_t i);
    LPF::ScriptFile* GetScriptFile(std::int32_t i);
    std::uint32_t GetSymbolFlags(std::int32_t i) const;  // 1 for a bad index
    std::int32_t SetSymbolFlags(std::int32_t i, std::uint32_t flags);
    std::int16_t GetSymbolWDExprBits(std::int32_t i) const;
    std::int32_t SetSymbolWDExprBits(std::int32_t i, std::int16_t bits);
    std::int32_t GetSymbolPscCommandsBits(std::int32_t i, std::int16_t scriptType) const;
    std::int32_t SetSymbolPscCommandsBits(std::int32_t i, std::int16_t scriptType, std::int32_t bits);
    // `bits` holds 12 words.
    std::int32_t GetSymbolPscGlobalsBits(std::int32_t i, std::int16_t scriptType, std::int32_t* bits) const;
    std::int32_t SetSymbolPscGlobalsBits(std::int32_t i, std::int16_t scriptType, const std::int32_t* bits);
    std::int32_t ResetSymbolPscGlobalsBits(std::int32_t i);
    std::int32_t GetSymbolFileModTime(std::int32_t i, std::int32_t* time) const;
    std::int32_t SetSymbolFileModTime(std::int32_t i, const std::int32_t& time);
    std::int32_t GetSymbolOwnUnID(std::int32_t i, KR::UnID* id) const;
    std::int32_t SetSymbolOwnUnID(std::int32_t i, const KR::UnID& id);
    std::int32_t GetSymbolUrl(std::int32_t i, KR::String* url) const;
    std::int32_t SetSymbolUrl(std::int32_t i, const KR::String& url);
    std::int32_t GetSymbolProxy(std::int32_t i) const;
    bool IsSymbolTemplate(std::int32_t i) const;
    bool IsSymbolPlaceable(std::int32_t i) const;
    bool IsSymbolArchivable(std::int32_t i) const;

    // ----- Searches (an index, or -1 when nothing is found) -----------------------
    std::int32_t SearchSymbol(const IO::Location& location);
    std::int32_t SearchSymbolFileName(const char* name);
    std::int32_t SearchSymbolFileName(const char* name, const FTM::GeneralID& type);
    std::int32_t SearchSymbolDocuName(const char* name);
    std::int32_t SearchSymbolDocuName(const char* name, const FTM::GeneralID& type);
    std::int32_t SearchSymbolByUnID(const KR::UnID& id, const char* name) const;
    // Appends the hits to `hits` (emptied first) and returns their number.
    std::int32_t SearchSymbolByMainUnID(const KR::UnID& id, KR::VAArray<std::int32_t>* hits);
    std::int32_t SearchSymbolAnyhow(const KR::UnID& id, const char* name, bool* ambiguous);
    std::int32_t SearchDummySymbol(const KR::UnID& id, const char* name) const;
    std::int32_t GetSortedSymbolIndexByName(std::int32_t k);

    // ----- Storing parts and placeholders ---------------------------------------
    // Stores the file at `location` as a new record, or, once the set is
    // enumerated, refreshes the record that holds this location (its
    // compiled codes are dropped and its ancestry path is read again). The
    // index of the record, or -1 when the file is not stored: a name of the
    // form ._name, a type that is not storable, an over-long name that the
    // error handler refuses. `folderIndex` -1 finds the folder from the
    // location; a file in no known folder becomes an other object (unless
    // it lies in a library read from the LAN cache). `knownIndex` -1 finds
    // the record by location; any other value must be the record of this
    // location, else -1 and nothing changes. After an exception the index
    // reached so far.
    std::int32_t StoreSymbol(const IO::Location& location, std::int32_t folderIndex, std::int32_t knownIndex);
    // Stores a placeholder of a missing part in the last folder, or, once
    // the set is enumerated, re-initialises the placeholder with this UnID
    // and name. The name is cut to 31 characters. The index of the record;
    // -1 when `type` is not storable, when the present placeholder has no
    // ancestry path, or after an exception.
    std::int32_t StoreDummySymbol(const char* name, const KR::UnID& id, const FTM::GeneralID& type,
                                  const AncestryInfo& ancestry);

    // ----- Ancestry and type hierarchy ---------------------------------------
    // The part's ancestors (and its template flag) as the hierarchy holds
    // them. KR::ErrParam without `info`; ErrBadIndex for an index outside the
    // table (`info` cleared) or a record without a path (`info` unchanged).
    std::int32_t GetSymbolAncestryInfo(std::int32_t i, AncestryInfo* info) const;
    // The part's immediate parent in the hierarchy, the null UnID for a part
    // directly below the root. 0, or ErrBadIndex.
    std::int32_t GetSymbolParentUnID(std::int32_t i, KR::UnID* parent) const;
    // True when `ancestor` is on the part's path, the part itself included
    // (the null UnID is on every path); false for a bad index or no path.
    bool IsSymbolTypeOf(std::int32_t i, const KR::UnID& ancestor) const;
    // The first valid record named `docName` (name index order) that is of
    // type `ancestor`; -1 when none.
    std::int32_t SearchDocuNameByAncestor(const char* docName, const KR::UnID& ancestor) const;
    // Gives part `i` a new path: the path of part `ancestor` followed by i's
    // own UnID. The path i held before is not released. ErrBadIndex when i
    // is not a library part record, or `ancestor` is not one with a path.
    std::int32_t SetSymbolAncestor(std::int32_t i, std::int32_t ancestor);
    // Replaces the beginning of a declared ancestry by what the hierarchy
    // knows of the nearest ancestor that is present (the part itself is
    // tried first, then its parent, and so on; a match by main GUID counts
    // only when it is unique), then cuts cycles. `*found` (when given): the
    // record found, or -1. 0, or KR::ErrParam without `info`.
    std::int32_t RefreshAncestryInfo(const KR::UnID& ownID, AncestryInfo* info, std::int32_t* found) const;
    // Builds the hierarchy and determines every part's proxy.
    void RebuildTypeHierarchy(bool conformAll);
    // The hierarchy's walk and export (AncestryHierarchy).
    std::int32_t GetPreorderAncestryTreeWalk(KR::VAArray<std::int32_t>* list) const;
    std::int32_t ExportTypeHierarchy(TypeHierarchyExporter* exporter) const;
    // The hierarchy's print followed by the set's state and every record.
    void PrintTypeHierarchy(KR::OChannel& channel);

    // ----- Compiled scripts ------------------------------------------------
    // Script types 1 .. 6; any other gives ErrBadIndex. ErrNoCodeContainer
    // when the set has no script code container.
    //
    // A new handle, owned by the caller, with a copy of the compiled code of
    // record `i` (null when there is none). 0; ErrBadIndex for a bad index
    // or when the part has no compiled code; KR::ErrParam without `code`.
    // A code stored while the part had another ancestry is dropped
    // (0 with a null handle).
    std::int32_t GetSymbolPscBinCode(std::int32_t i, std::int16_t scriptType, char*** code);
    // Stores a copy of `code` (the caller keeps its handle) with the part's
    // current ancestry. 0 or ErrBadIndex.
    std::int32_t SetSymbolPscBinCode(std::int32_t i, std::int16_t scriptType, char** code);
    // Deletes every compiled code of the container, for all sets sharing it. 0.
    std::int32_t ClearAllPscBinCodes();

    // ----- Caches ----------------------------------------------------------
    std::int32_t GetLanCacheLocation(IO::Location* location);
    std::int32_t GetFtpCacheLocation(IO::Location* location);
    // 0, or ErrBadIndex for a location that is not valid, empty or not local.
    std::int32_t SetLanCacheLocation(const IO::Location& location);
    std::int32_t SetFtpCacheLocation(const IO::Location& location);
    bool IsUseLanCache();
    std::int32_t SetUseLanCache(bool use);
    // Re-examines libraries that are not mounted and mounts cache copies of
    // library files. Not guarded: exceptions reach the caller.
    void RefreshMounted();

    // ----- Cache synchronisation ----------------------------------------------
    // Brings the LAN cache copies in step with their libraries: files that
    // changed or appeared in a library since the last synchronisation are
    // downloaded into its copy (`download`), and those that changed or
    // appeared in a copy are uploaded into the library (`upload`). The
    // error handler is asked about conflicts and told of failures; a
    // library or copy that cannot be read completely is skipped and
    // reported through ApplicationReport. True when anything was
    // downloaded; false when the LAN cache is not in use or a cache copy
    // lies in (or is) its library, which stops the run.
    bool SynchronizeCachedSymbols(bool upload, bool download);
    // The same for the file of one library part only. Always false.
    bool SynchronizeCachedSymbol(std::int32_t partIndex, bool upload, bool download);

    // ----- Storable file types and the stored configuration ----------------
    // The file types that StoreSymbol accepts, in order. Adding a type that
    // is present already does nothing; removing takes out its first entry.
    void AddStorableFileType(FTM::GeneralID type);
    void RemoveStorableFileType(FTM::GeneralID type);
    void ClearStorableFileTypes();
    // Valid until the array changes.
    KR::ConstForwardIterator<FTM::GeneralID> EnumerateStorableFileTypes() const;

    // Versions of the active libraries info block: 0 or 201 (the current,
    // binary form) and 105 (the old text form).
    static constexpr std::int32_t InfoCurrentVersion = 201;
    static constexpr std::int32_t InfoOldTextVersion = 105;
    // Builds a new block (the caller owns it) of the configuration: active
    // libraries (without the permanent folder libraries unless
    // `withPermanent`), other objects and cache settings. An unknown version
    // gives 0 and a null handle; KR::ErrParam when `info` is null.
    std::int32_t GetActiveLibrariesInfo(char*** info, bool withPermanent, std::int32_t version);
    // Replaces the active libraries and other objects by those of a block of
    // either version; `swapBytes` says that a binary block was written on a
    // platform of the other byte order. ErrBadIndex, with the set unchanged,
    // for a block of neither version (or of the other byte order without
    // `swapBytes`); a block damaged further on leaves what was read before
    // the damage and gives the reading error. Not enumerated afterwards;
    // observers are not told.
    std::int32_t SetActiveLibrariesFromInfo(char** info, bool swapBytes);
    // True when the block describes the set's libraries (in any order, flags
    // not compared) and its other objects (in order); with `compareCaches`
    // also the cache settings. False for a block that cannot be read.
    bool IsEqualActiveLibraries(char** info, bool withPermanent, bool compareCaches) const;
    // Adds the libraries and other objects of a binary block of this byte
    // order to those of the set; 0 without a change for any other block.
    std::int32_t MergeActiveLibraries(char** info);
    // Drops every library and other object and stops using the LAN cache.
    std::int32_t ResetActiveLibraries();

    // ----- Enumeration ---------------------------------------------------
    // Walks every existing active library into a fresh part table and folder
    // set (one progress phase per library; the user may cancel the libraries
    // that are not vital), stores the other objects, sorts the indexes and
    // reports duplicates, rebuilds the type hierarchy, tells the observers
    // and sets the enumerated flag. 0, or the id of the exception that ended
    // it (what was stored so far stays; the set is not enumerated).
    std::int32_t Enumerate();

protected:
    // Another set changed the shared script code container: forget the code
    // indices that no longer name a code. Events this set caused are ignored.
    void BinCodeAdded(const LibrarySet& sender, const PscBinCodesContainerEvent& event) override;
    void BinCodeRemoved(const LibrarySet& sender, const PscBinCodesContainerEvent& event) override;
    void BinCodesCleared(const LibrarySet& sender, const PscBinCodesContainerEvent& event) override;

private:
    bool IsLocationStorableFileType(const IO::Location& location, FTM::GeneralID* type) const;
    std::int32_t GetCurrVersActiveLibrariesInfo(char*** info, bool withPermanent);
    std::int32_t ConvertInfoToCurrent(char** info, char*** current, bool swapBytes) const;
    std::int32_t ConvertInfoToOld(char** current, std::int32_t version, char*** old);

    friend class AncestryHierarchy;
    friend class LibrarySetInternals;  // the module's own helpers and tests

    // The guard of the public operations (LibrarySet/Guard.hpp).
    template <typename R, typename Body>
    R Guard(R fallback, Body&& body) const noexcept;
    template <typename Body>
    KR::ErrorCode GuardError(Body&& body) const noexcept;

    void NotifyObservers();

    // Cache synchronisation of one library (Cache/Synchronize.cpp). The
    // marking passes walk one sibling chain of the cache map and of the
    // source map, with the chains of the same folder in the other maps,
    // and count what is to be copied; the copy passes copy what is marked.
    struct SyncRun;
    void SynchronizeUploads(std::int32_t cacheNode, std::int32_t sourceNode, std::int32_t storedNode, SyncRun& run,
                            std::int32_t& count);
    void SynchronizeDownloads(std::int32_t cacheNode, std::int32_t sourceNode, std::int32_t storedNode,
                              SyncRun& run, std::int32_t& count);
    void UploadCacheSymbols(std::int32_t node, SyncRun& run, std::int32_t& count);
    void DownloadCacheSymbols(std::int32_t node, SyncRun& run, std::int32_t& count);
    std::int32_t MarkAndCopy(SyncRun& run, const char* phaseName);
    void SynchronizeLibrary(std::int32_t index, bool upload, bool download);

    // The end of an enumeration: folders ordered and closed, other objects
    // stored, indexes sorted and checked, hierarchy rebuilt.
    void FinishEnumerate();

    // Steps of storing a part (PartTable/Store.cpp).
    std::int32_t FindFolderForStoring(const IO::Location& location);
    void DiscardCompiledCodes(std::int32_t i);
    void ReadAncestry(std::int32_t i);
    // The path of record i: added to the hierarchy (its id returned), or,
    // while an enumeration collects paths, queued (0 returned) for
    // FlushPartPaths, which gives every queued record its id.
    std::uint32_t AddPartPath(std::int32_t i, const KR::UnID* ancestors, std::uint32_t n, const KR::UnID& own);
    void FlushPartPaths() noexcept;

    std::uint32_t GetSymbolAncestryId(std::int32_t i) const;
    void SetSymbolAncestryId(std::int32_t i, std::uint32_t id);
    void DetermineProxy(std::int32_t i);
    KR::ErrorCode UpdateSymbolParameters(std::int32_t i, std::int32_t parent, bool mergeMode);

    PartTable* partTable_ = nullptr;
    FolderSet* folderSet_ = nullptr;
    ActiveLibraryList* activeLibraries_ = nullptr;
    OtherObjectList* otherObjects_ = nullptr;
    std::vector<FTM::GeneralID> storableFileTypes_;
    AncestryHierarchy* typeHierarchy_ = nullptr;
    FileCountRecord* fileCountRecord_ = nullptr;
    PathBatch* pathBatch_ = nullptr;  // only while an enumeration runs
    PscBinCodesContainer* scriptCodeContainer_ = nullptr;
    bool enumerated_ = false;
    bool useLanCache_ = false;
    bool downloaded_ = false;  // a synchronisation attempted a download
    IO::Location lanCacheLocation_;
    IO::Location urlCacheLocation_;
    ILibraryErrorHandler& errorHandler_;
};

}  // namespace LM
