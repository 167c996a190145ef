// The part table of a library set: one record per enumerated or stored file,
// with the two sorted indexes. Internal.
//
// Records live in fixed-size pages, so a record never moves while the table
// grows; its library part index is its position, from 0. Records are only
// appended, never removed or reordered, until the table is replaced.
//
// The name index and the UnID index hold 32-bit record indices. They are
// empty until BuildIndexes sorts them at the end of an enumeration; after
// that UpdateIndexes keeps them current for records stored one at a time.
//
// Besides the two indexes the table keeps, for every record that has part
// data, a chain of the records sharing the main GUID of its own UnID, in
// ascending record order. The searches by main GUID and for placeholders
// walk that chain instead of the whole table; it is kept in step with every
// change of a record's part data or own UnID, which is why both are only
// changed through the table.
#pragma once

#include "FTM/FileTypes.hpp"
#include "ILibraryErrorHandler.hpp"
#include "IO/Location.hpp"
#include "KR/Containers.hpp"
#include "KR/GUID.hpp"
#include "KR/ProbingTable.hpp"
#include "KR/String.hpp"
#include "KRUtils/KRUtils.hpp"

#include <cstddef>
#include <memory>
#include <vector>

namespace LPF {
class SymbolFile;
class ScriptFile;
struct PartFileHead;
}  // namespace LPF

namespace LM {

// Whether the file name `name` (zero-terminated) has the form of the
// resource forks and metadata that some file systems leave beside a file
// ("._" first): such files are never library parts and are not stored.
inline bool IsMetadataFileName(const char* name) noexcept
{
    return name[0] == '.' && name[1] == '_';
}

// Size of a document name field, terminator included.
inline constexpr std::size_t DocumentNameSize = 32;
// The one flag bit the module sets itself: the parent's parameters have been
// merged into the part's parameter section.
inline constexpr std::uint32_t ParametersMergedFlag = 0x20;

// What the application caches per library part. Present only in records of
// the two library part file types.
struct SymbolData {
    static constexpr int CommandWordCount = 5;
    static constexpr int GlobalsBlockCount = 12;
    static constexpr int GlobalsWordCount = 12;
    static constexpr int CodeIndexCount = 6;
    static constexpr std::int32_t NoCode = -1;
    static constexpr std::int32_t CodeNotLookedUp = -2;

    SymbolData() noexcept;
    SymbolData(const SymbolData&) = delete;
    SymbolData& operator=(const SymbolData&) = delete;
    ~SymbolData();

    // Slot of a script type's command word (script types 8, 7, 9, 11, 12 in
    // this order); -1 for any other script type.
    static int CommandSlot(std::int16_t scriptType) noexcept;
    // Block of a script type's globals bits (script types 10, 1 .. 9, 11, 12
    // in this order); -1 outside 1 .. 12.
    static int GlobalsSlot(std::int16_t scriptType) noexcept;
    // Slot of a script type's compiled code index (1 .. 6); -1 otherwise.
    static int CodeSlot(std::int16_t scriptType) noexcept;

    const KR::UnID& GetOwnUnID() const noexcept { return ownUnID_; }

    // True when the record has a part file object (of the first library
    // part file type) or script file object (of the second), made already
    // or to be made from its file on first use (PartTable::GetPartFile,
    // GetScriptFile).
    bool HasFileObject() const noexcept { return fileDeferred_ || partFile_ != nullptr || scriptFile_ != nullptr; }
    // The part file object if it has been made; null otherwise.
    LPF::SymbolFile* GetMadePartFile() const noexcept { return partFile_.get(); }

    std::int32_t commandBits[CommandWordCount] = {};
    std::int16_t wdExprBits = 0;

private:
    friend class PartTable;
    KR::UnID ownUnID_ = NULLUnID;  // changed through PartTable::SetOwnUnID only
    std::unique_ptr<LPF::SymbolFile> partFile_;    // first library part file type
    std::unique_ptr<LPF::ScriptFile> scriptFile_;  // second library part file type
    // The file read as a part file when the record was filled from it: the
    // object is made from the record's location when first asked for.
    bool fileDeferred_ = false;

public:
    std::int32_t proxy = -1;
    std::uint32_t ancestryId = 0;  // path id in the type hierarchy; 0: none
    bool isTemplate = false;
    bool placeable = false;
    bool archivable = false;
    // The globals bits of block `slot` (0 .. GlobalsBlockCount - 1): all
    // zero until a block is written. The blocks are allocated on the first
    // write only, since few parts ever get any and a table holds many parts.
    const std::int32_t* GetGlobalsBits(int slot) const noexcept;
    std::int32_t* GetWritableGlobalsBits(int slot);
    bool HasGlobalsBits() const noexcept { return globalsBits_ != nullptr; }
    std::int32_t codeIndices[CodeIndexCount] = {NoCode, NoCode, NoCode, NoCode, NoCode, NoCode};

private:
    using GlobalsBlock = std::int32_t[GlobalsWordCount];
    std::unique_ptr<GlobalsBlock[]> globalsBits_;
};

// One file of the active libraries.
struct LibElement {
    LibElement() noexcept;
    LibElement(const LibElement&) = delete;
    LibElement& operator=(const LibElement&) = delete;
    ~LibElement();

    char documentName[DocumentNameSize] = {};
    IO::Location location;
    KR::String url;
    std::int32_t folderIndex = -1;
    FTM::GeneralID fileType = FTM::UnknownType;
    std::uint32_t flags = 0;
    bool valid = false;
    std::int32_t modificationTime = 0;

    // Null unless the file type is one of the two library part file types.
    SymbolData* GetSymbolData() noexcept { return symbolData_.get(); }
    const SymbolData* GetSymbolData() const noexcept { return symbolData_.get(); }

private:
    friend class PartTable;
    std::unique_ptr<SymbolData> symbolData_;  // replaced through the table only
};

// The identifier a record is sorted and checked by: its own UnID when it is
// of a library part file type and has part data, NULLUnID otherwise.
const KR::UnID& GetKeyUnID(const LibElement& record) noexcept;

// The module's three-way order of document names: -1, 0 or 1.
int CompareDocumentNames(const char* a, const char* b) noexcept;

class PartTable {
public:
    // Records per page.
    static constexpr std::size_t PageSize = 1024;

    explicit PartTable(ILibraryErrorHandler& errorHandler);
    PartTable(const PartTable&) = delete;
    PartTable& operator=(const PartTable&) = delete;
    ~PartTable();

    // Number of records.
    std::int32_t GetCount() const noexcept;
    bool IsValidIndex(std::int32_t i) const noexcept;
    // Record `i`, or null for an index outside 0 .. count - 1.
    LibElement* Get(std::int32_t i) noexcept;
    const LibElement* Get(std::int32_t i) const noexcept;

    // ----- Records --------------------------------------------------------
    // Appends a record initialised from the file at `location` and returns
    // its index.
    std::int32_t AppendFromFile(const IO::Location& location, std::int32_t folderIndex, FTM::GeneralID type,
                                std::uint32_t flags);
    // The first bytes of the file of the next record filled from its file,
    // read ahead of it (null: none); the record takes them instead of
    // reading them itself, once. The caller withdraws them (null) when the
    // record is made or not.
    void OfferHead(const LPF::PartFileHead* head) noexcept { offeredHead_ = head; }
    // Appends a placeholder of a missing part and returns its index.
    std::int32_t AppendPlaceholder(const char* name, const KR::UnID& id, std::int32_t folderIndex,
                                   FTM::GeneralID type, std::uint32_t flags);
    // Re-initialises record `i` as a placeholder (nothing for a bad index).
    void InitPlaceholder(std::int32_t i, const char* name, const KR::UnID& id, std::int32_t folderIndex,
                         FTM::GeneralID type, std::uint32_t flags);
    // Refreshes record `i` from its file when the file is newer than the
    // stored modification time; nothing otherwise or for a bad index.
    void Refresh(std::int32_t i);
    // The part file object (first library part file type) or script file
    // object (second type) of record `i`; null for a bad index, a record
    // without one, or when it cannot be made. A record filled from its file
    // makes it here, from the file as it is now, on the first call; when
    // that fails (the file went or became unreadable since) the record has
    // none from then on and keeps the values it was filled with.
    LPF::SymbolFile* GetPartFile(std::int32_t i);
    LPF::ScriptFile* GetScriptFile(std::int32_t i);
    // What record `i` was filled with of its file's ancestry section, when
    // it was the last record filled from a file and nothing read that file
    // since: None when the file has no such section, Bytes (`*bytes` and
    // `*size` set, valid until the next record is filled) when the section's
    // bytes came with the read and need no conversion, Unknown otherwise (the
    // part file object has to read it). The answer is given once.
    enum class AncestryBytes : std::uint8_t { Unknown, None, Bytes };
    AncestryBytes TakeAncestryBytes(std::int32_t i, const char** bytes, std::size_t* size);
    // Gives record `i` a new own UnID (nothing without part data or for a bad
    // index).
    void SetOwnUnID(std::int32_t i, const KR::UnID& id);
    // Sets every code index of record `i` to `value` (nothing without part
    // data or for a bad index).
    void SetCodeIndices(std::int32_t i, std::int32_t value);

    // ----- End of enumeration ---------------------------------------------
    // Gives every record the new index of its folder: oldToNew[old]. Folder
    // indices outside the map stay as they are.
    void RenumberFolders(const std::vector<std::int32_t>& oldToNew);
    // Releases the parameter section data held in memory by the open part
    // files of valid records whose parameters were not merged.
    void ReleaseUnmergedParameterSections();

    // ----- Indexes --------------------------------------------------------
    // Fills both indexes with every record, sorts them and runs the
    // duplicate check, which reports to the error handler.
    void BuildIndexes();
    // The same without the duplicate check.
    void SortIndexes();
    // Keeps the indexes current for record `i`, just appended or, when
    // `reStored`, re-initialised: its old entries are removed and it is
    // inserted before all entries of equal key.
    void UpdateIndexes(std::int32_t i, bool reStored);
    const std::vector<std::uint32_t>& GetNameIndex() const noexcept { return nameIndex_; }
    const std::vector<std::uint32_t>& GetUnIDIndex() const noexcept { return unIDIndex_; }

    // ----- Searches (an index, or -1) ---------------------------------------
    // The first valid record at `location`, in table order.
    std::int32_t FindByLocation(const IO::Location& location) const;
    // The first valid record whose file name equals `name` (file name order)
    // and, when `type` is given, whose file type is exactly `*type`.
    std::int32_t FindByFileName(const char* name, const FTM::GeneralID* type) const;
    // Positions [*first, *last) of the run of `name` in the name index.
    void GetNameRange(const char* name, std::size_t* first, std::size_t* last) const;
    // The first record of the run of `name` in the name index if it is valid.
    std::int32_t FindByDocumentName(const char* name) const;
    // The valid record with this UnID (the first of its run in the UnID
    // index); for NULLUnID the first valid record named `name` whose key UnID
    // is NULLUnID.
    std::int32_t FindByUnID(const KR::UnID& id, const char* name) const;
    // Empties `hits`, then appends the valid records of a library part file
    // type whose own UnID has the main GUID of `id`, in table order, and
    // returns their number. An exception while appending ends the search; it
    // is printed and the hits found so far are counted.
    std::int32_t FindByMainGuid(const KR::UnID& id, KR::VAArray<std::int32_t>* hits) const;
    // The first invalid record whose own UnID is `id` and, when `name` is not
    // null, whose document name is `name`; -1 for NULLUnID without a name.
    std::int32_t FindPlaceholder(const KR::UnID& id, const char* name) const;
    // The first record (in table order), valid or not, that has part data
    // and whose own UnID is `id`; -1 when none.
    std::int32_t FindFirstWithOwnUnID(const KR::UnID& id) const;
    // The record at place `k` of the name index.
    std::int32_t GetSortedIndexByName(std::int32_t k) const noexcept;

private:
    static constexpr std::uint32_t NoRecord = 0xFFFFFFFFu;

    struct MainGuidHash {
        std::size_t operator()(const KR::GUID& guid) const noexcept;
    };
    struct MainGuidEqual {
        bool operator()(const KR::GUID& a, const KR::GUID& b) const noexcept;
    };
    // Ascending chain of the records whose own UnID has one main GUID.
    struct Chain {
        std::uint32_t head = NoRecord;
        std::uint32_t tail = NoRecord;
    };
    // The chains by main GUID in one open-addressed array, so that a table
    // of many parts costs one block to grow and to free rather than one node
    // per GUID.
    class ChainMap {
    public:
        static constexpr std::size_t None = std::size_t(-1);

        // The slot of the chain of `guid`, or None.
        std::size_t Find(const KR::GUID& guid) const noexcept;
        Chain& At(std::size_t slot) noexcept { return table_.At(slot).chain; }
        const Chain& At(std::size_t slot) const noexcept { return table_.At(slot).chain; }
        // The chain of `guid`, added empty when missing; the caller links a
        // record into a new one at once (an empty head marks a free slot).
        Chain& Get(const KR::GUID& guid);
        // Frees the slot of a chain that has become empty.
        void EraseAt(std::size_t slot) noexcept { table_.EraseAt(slot); }

    private:
        struct Slot {
            KR::GUID guid;
            Chain chain;  // head NoRecord: the slot is free
        };
        struct Traits {
            static bool IsFree(const Slot& slot) noexcept { return slot.chain.head == NoRecord; }
            static std::size_t Hash(const Slot& slot) noexcept { return MainGuidHash()(slot.guid); }
            static constexpr std::size_t InitialSize = 64;
            static constexpr std::size_t MaxLoadPercent = 75;
        };

        KR::ProbingTable<Slot, Traits> table_;
    };

    LibElement& Append();
    LibElement& At(std::size_t i) noexcept { return pages_[i / PageSize][i % PageSize]; }
    const LibElement& At(std::size_t i) const noexcept { return pages_[i / PageSize][i % PageSize]; }

    // Building the indexes and the duplicate check on what it sorted.
    struct SortedKeys;
    void Sort(SortedKeys& sorted);
    auto LocationsFrom(const std::vector<std::uint32_t>& index, std::size_t start) const;
    void ReportSharedUnIDs(const SortedKeys& sorted);
    void ReportSharedNames(const SortedKeys& sorted);
    void InitFromFile(std::int32_t i, const IO::Location& location, std::int32_t folderIndex,
                      FTM::GeneralID type, std::uint32_t flags);
    // Opens the record's file as the part file of its type now and reads what
    // it tells, but not its modification time (the caller has it). Returns
    // the error of GetDocumentName (0 when no file was opened).
    KR::ErrorCode ReadPartFile(std::int32_t i);
    // Fills record `i` from one read of its file's first bytes, with the
    // values its part file object would give, and defers the object. Part
    // data not linked into a chain yet take the own UnID without relinking.
    void ReadPartFileSummary(std::int32_t i);
    // Gives record `i` new part data (null: none), keeping the chains current.
    void ReplaceSymbolData(std::int32_t i, std::unique_ptr<SymbolData> data);
    void MakeFallbackName(LibElement& record) const;

    void Link(std::uint32_t i);
    void Unlink(std::uint32_t i);

    // Pages of PageSize records each; the records past count_ are unused.
    std::vector<std::unique_ptr<LibElement[]>> pages_;
    std::size_t count_ = 0;
    std::vector<std::uint32_t> nameIndex_;
    std::vector<std::uint32_t> unIDIndex_;
    ILibraryErrorHandler& errorHandler_;

    const LPF::PartFileHead* offeredHead_ = nullptr;
    // The ancestry section of the record filled last from its file.
    std::int32_t ancestryOf_ = -1;
    AncestryBytes ancestry_ = AncestryBytes::Unknown;
    std::vector<char> ancestryBytes_;

    ChainMap chains_;
    std::vector<std::uint32_t> chainNext_;
    std::vector<std::uint32_t> chainPrev_;
};

}  // namespace LM
