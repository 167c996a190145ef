// The part table's records: appending, initialising from files and as
// placeholders, refreshing, and the chains of records by main GUID.
#include "PartTable/PartTable.hpp"

#include "IO/File.hpp"
#include "KR/DebugChannel.hpp"
#include "KR/Text.hpp"
#include "LPF/PartFile.hpp"
#include "LibrarySet/ModuleState.hpp"
#include "PSC/Parameters.hpp"
#include "SectionTypes.hpp"
#include "TypeHierarchy/AncestrySectionHandler.hpp"

#include <cstring>
#include <limits>
#include <utility>

namespace LM {

// ----- SymbolData and LibElement ------------------------------------------

SymbolData::SymbolData() noexcept = default;
SymbolData::~SymbolData() = default;

const std::int32_t* SymbolData::GetGlobalsBits(int slot) const noexcept
{
    static constexpr std::int32_t zeros[GlobalsWordCount] = {};
    return globalsBits_ != nullptr ? globalsBits_[slot] : zeros;
}

std::int32_t* SymbolData::GetWritableGlobalsBits(int slot)
{
    if (globalsBits_ == nullptr)
        globalsBits_ = std::make_unique<GlobalsBlock[]>(GlobalsBlockCount);  // zeroed
    return globalsBits_[slot];
}

int SymbolData::CommandSlot(std::int16_t scriptType) noexcept
{
    switch (scriptType) {
    case 8: return 0;
    case 7: return 1;
    case 9: return 2;
    case 11: return 3;
    case 12: return 4;
    default: return -1;
    }
}

int SymbolData::GlobalsSlot(std::int16_t scriptType) noexcept
{
    if (scriptType == 10)
        return 0;
    if (scriptType >= 1 && scriptType <= 9)
        return scriptType;
    if (scriptType == 11 || scriptType == 12)
        return scriptType - 1;
    return -1;
}

int SymbolData::CodeSlot(std::int16_t scriptType) noexcept
{
    return scriptType >= 1 && scriptType <= CodeIndexCount ? scriptType - 1 : -1;
}

LibElement::LibElement() noexcept = default;
LibElement::~LibElement() = default;

const KR::UnID& GetKeyUnID(const LibElement& record) noexcept
{
    const SymbolData* data = record.GetSymbolData();
    if (data != nullptr && IsLibraryPartFileType(record.fileType))
        return data->GetOwnUnID();
    return NULLUnID;
}

int CompareDocumentNames(const char* a, const char* b) noexcept
{
    return KR::ch04Manager.Compare(a, -1, b, -1, 0, 0);
}

namespace {

// Copies at most DocumentNameSize - 1 characters of `text` (null: none) and
// a terminator into the document name.
void SetDocumentName(LibElement& record, const char* text, std::size_t length)
{
    if (text == nullptr)
        length = 0;
    if (length > DocumentNameSize - 1)
        length = DocumentNameSize - 1;
    if (length > 0)
        std::memcpy(record.documentName, text, length);
    std::memset(record.documentName + length, 0, DocumentNameSize - length);
}

bool IsLocationValid(const IO::Location& location) noexcept
{
    return location.GetStatus() == 0 && !location.IsEmpty();
}

}  // namespace

// ----- The table ------------------------------------------------------------

PartTable::PartTable(ILibraryErrorHandler& errorHandler) : errorHandler_(errorHandler) {}

PartTable::~PartTable() = default;

std::int32_t PartTable::GetCount() const noexcept
{
    return static_cast<std::int32_t>(count_);
}

bool PartTable::IsValidIndex(std::int32_t i) const noexcept
{
    return i >= 0 && static_cast<std::size_t>(i) < count_;
}

LibElement* PartTable::Get(std::int32_t i) noexcept
{
    return IsValidIndex(i) ? &At(static_cast<std::size_t>(i)) : nullptr;
}

const LibElement* PartTable::Get(std::int32_t i) const noexcept
{
    return IsValidIndex(i) ? &At(static_cast<std::size_t>(i)) : nullptr;
}

LibElement& PartTable::Append()
{
    // Record indices are signed 32-bit at the interface.
    if (count_ >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        KR::ThrowOutOfMemory("LM::PartTable");
    try {
        if (count_ == pages_.size() * PageSize)
            pages_.push_back(std::make_unique<LibElement[]>(PageSize));
        chainNext_.push_back(NoRecord);
        chainPrev_.push_back(NoRecord);
    } catch (const std::bad_alloc&) {
        chainNext_.resize(count_);
        chainPrev_.resize(count_);
        throw KR::OutOfMemoryException(KR::ErrMemFull, "LM::PartTable");
    }
    return At(count_++);
}

std::int32_t PartTable::AppendFromFile(const IO::Location& location, std::int32_t folderIndex,
                                       FTM::GeneralID type, std::uint32_t flags)
{
    Append();
    const auto i = static_cast<std::int32_t>(count_ - 1);
    InitFromFile(i, location, folderIndex, type, flags);
    return i;
}

std::int32_t PartTable::AppendPlaceholder(const char* name, const KR::UnID& id, std::int32_t folderIndex,
                                          FTM::GeneralID type, std::uint32_t flags)
{
    Append();
    const auto i = static_cast<std::int32_t>(count_ - 1);
    InitPlaceholder(i, name, id, folderIndex, type, flags);
    return i;
}

void PartTable::InitFromFile(std::int32_t i, const IO::Location& location, std::int32_t folderIndex,
                             FTM::GeneralID type, std::uint32_t flags)
{
    LibElement& record = At(static_cast<std::size_t>(i));
    record.location = location;
    record.folderIndex = folderIndex;
    record.fileType = type;
    record.flags = flags;
    record.valid = IsLocationValid(location);
    SetDocumentName(record, nullptr, 0);

    if (!IsLibraryPartFileType(type)) {
        IO::File file(location, IO::OnNotFound::Report);
        if (file.GetStatus() != 0)
            return;  // no name, not even the fallback one
        std::int32_t time = 0;
        if (file.GetModificationTime(&time) == 0)
            record.modificationTime = time;
    } else {
        // The part data join the chain of their main GUID once the file has
        // told their own UnID, rather than the chain of the null UnID first
        // and then moving.
        const auto index = static_cast<std::uint32_t>(i);
        auto data = std::make_unique<SymbolData>();
        if (record.symbolData_ != nullptr)
            Unlink(index);
        record.symbolData_ = std::move(data);
        try {
            ReadPartFileSummary(i);
        } catch (...) {
            Link(index);
            throw;
        }
        Link(index);
    }
    if (record.documentName[0] == '\0')
        MakeFallbackName(record);
}

void PartTable::ReadPartFileSummary(std::int32_t i)
{
    LibElement& record = At(static_cast<std::size_t>(i));
    SymbolData* data = record.GetSymbolData();
    const bool symbol = record.fileType == GetModuleState().firstPartFileType;
    ancestryOf_ = i;
    ancestry_ = AncestryBytes::Unknown;

    LPF::PartFileSummary summary;
    const LPF::PartFileHead* head = std::exchange(offeredHead_, nullptr);
    if (LPF::ReadPartFileSummary(record.location, symbol ? LPF::PartKind::Symbol : LPF::PartKind::Script,
                                 AncestrySectionType, 0, &summary, head) != KR::NoError)
        return;  // as a part file object that cannot be made: none, and nothing read
    data->fileDeferred_ = true;
    if (summary.modificationTimeError == KR::NoError)
        record.modificationTime = summary.modificationTime;
    if (symbol) {
        data->ownUnID_ = summary.ownUnID;
        data->placeable = summary.placeable;
        data->archivable = summary.archivable;
        // The bytes stand for the section as the object would hand it out
        // only when no handler has to convert them and the installed handler
        // accepts every section, as the module's own does.
        if (!summary.hasSection) {
            ancestry_ = AncestryBytes::None;
        } else if (summary.sectionBytes != nullptr && summary.sectionDescriptor.platform == LPF::NativePlatform &&
                   dynamic_cast<AncestrySectionHandler*>(LPF::GetSectionHandler(AncestrySectionType)) != nullptr) {
            ancestryBytes_.assign(summary.sectionBytes, summary.sectionBytes + summary.sectionSize);
            ancestry_ = AncestryBytes::Bytes;
        }
    }
    if (summary.documentNameError == KR::NoError)
        SetDocumentName(record, summary.documentName, std::strlen(summary.documentName));
}

PartTable::AncestryBytes PartTable::TakeAncestryBytes(std::int32_t i, const char** bytes, std::size_t* size)
{
    if (i != ancestryOf_ || i < 0)
        return AncestryBytes::Unknown;
    ancestryOf_ = -1;
    *bytes = ancestryBytes_.data();
    *size = ancestryBytes_.size();
    return ancestry_;
}

LPF::SymbolFile* PartTable::GetPartFile(std::int32_t i)
{
    LibElement* record = Get(i);
    SymbolData* data = record != nullptr ? record->GetSymbolData() : nullptr;
    if (data == nullptr)
        return nullptr;
    if (data->fileDeferred_ && record->fileType == GetModuleState().firstPartFileType) {
        if (i == ancestryOf_)
            ancestryOf_ = -1;  // the object reads the file as it is now
        try {
            data->partFile_ = std::make_unique<LPF::SymbolFile>(record->location);
        } catch (const KR::KRException&) {
            // No object from this file: as a record whose file could not be read.
        }
        data->fileDeferred_ = false;  // not on running out of memory: a later call tries again
    }
    return data->partFile_.get();
}

LPF::ScriptFile* PartTable::GetScriptFile(std::int32_t i)
{
    LibElement* record = Get(i);
    SymbolData* data = record != nullptr ? record->GetSymbolData() : nullptr;
    if (data == nullptr)
        return nullptr;
    if (data->fileDeferred_ && record->fileType != GetModuleState().firstPartFileType) {
        try {
            data->scriptFile_ = std::make_unique<LPF::ScriptFile>(record->location);
        } catch (const KR::KRException&) {
        }
        data->fileDeferred_ = false;
    }
    return data->scriptFile_.get();
}

KR::ErrorCode PartTable::ReadPartFile(std::int32_t i)
{
    LibElement& record = At(static_cast<std::size_t>(i));
    SymbolData* data = record.GetSymbolData();
    const ModuleState& state = GetModuleState();
    KR::ErrorCode nameError = 0;
    data->fileDeferred_ = false;
    if (i == ancestryOf_)
        ancestryOf_ = -1;

    if (record.fileType == state.firstPartFileType) {
        try {
            data->partFile_ = std::make_unique<LPF::SymbolFile>(record.location);
        } catch (const KR::KRException&) {
            data->partFile_.reset();
        }
        LPF::SymbolFile* file = data->partFile_.get();
        if (file == nullptr)
            return 0;
        KR::UnID id = NULLUnID;
        if (file->GetOwnUnID(&id) == 0)
            SetOwnUnID(i, id);
        bool flag = false;
        if (file->IsPlaceable(&flag) == 0)
            data->placeable = flag;
        flag = false;
        if (file->IsArchivable(&flag) == 0)
            data->archivable = flag;
        char name[DocumentNameSize] = {};
        nameError = file->GetDocumentName(name);
        if (nameError == 0)
            SetDocumentName(record, name, std::strlen(name));
    } else {
        try {
            data->scriptFile_ = std::make_unique<LPF::ScriptFile>(record.location);
        } catch (const KR::KRException&) {
            data->scriptFile_.reset();
        }
        LPF::ScriptFile* file = data->scriptFile_.get();
        if (file == nullptr)
            return 0;
        char name[DocumentNameSize] = {};
        nameError = file->GetDocumentName(name);
        if (nameError == 0)
            SetDocumentName(record, name, std::strlen(name));
    }
    return nameError;
}

void PartTable::InitPlaceholder(std::int32_t i, const char* name, const KR::UnID& id, std::int32_t folderIndex,
                                FTM::GeneralID type, std::uint32_t flags)
{
    LibElement* record = Get(i);
    if (record == nullptr)
        return;
    record->folderIndex = folderIndex;
    record->fileType = type;
    record->flags = flags;
    record->valid = false;
    SetDocumentName(*record, name, name != nullptr ? std::strlen(name) : 0);
    if (IsLibraryPartFileType(type)) {
        ReplaceSymbolData(i, std::make_unique<SymbolData>());
        SetOwnUnID(i, id);
    } else {
        ReplaceSymbolData(i, nullptr);
    }
}

void PartTable::Refresh(std::int32_t i)
{
    LibElement* record = Get(i);
    if (record == nullptr)
        return;
    std::int32_t time = 0;
    {
        IO::File file(record->location, IO::OnNotFound::Report);
        if (file.GetStatus() != 0 || file.GetModificationTime(&time) != 0)
            return;
    }
    if (time <= record->modificationTime)
        return;

    record->valid = IsLocationValid(record->location);
    SetDocumentName(*record, nullptr, 0);
    if (IsLibraryPartFileType(record->fileType)) {
        ReplaceSymbolData(i, std::make_unique<SymbolData>());
        if (ReadPartFile(i) == LPF::ErrNoName)
            MakeFallbackName(*record);
    }
    if (record->documentName[0] == '\0')
        MakeFallbackName(*record);
}

void PartTable::SetOwnUnID(std::int32_t i, const KR::UnID& id)
{
    LibElement* record = Get(i);
    if (record == nullptr || record->GetSymbolData() == nullptr)
        return;
    SymbolData* data = record->GetSymbolData();
    if (KR::guidManager.IsEqual(data->ownUnID_.mainGuid, id.mainGuid)) {
        data->ownUnID_ = id;  // same chain
        return;
    }
    Unlink(static_cast<std::uint32_t>(i));
    data->ownUnID_ = id;
    Link(static_cast<std::uint32_t>(i));
}

void PartTable::SetCodeIndices(std::int32_t i, std::int32_t value)
{
    LibElement* record = Get(i);
    if (record == nullptr || record->GetSymbolData() == nullptr)
        return;
    for (std::int32_t& code : record->GetSymbolData()->codeIndices)
        code = value;
}

void PartTable::ReplaceSymbolData(std::int32_t i, std::unique_ptr<SymbolData> data)
{
    LibElement& record = At(static_cast<std::size_t>(i));
    const auto index = static_cast<std::uint32_t>(i);
    if (record.symbolData_ != nullptr)
        Unlink(index);
    record.symbolData_ = std::move(data);
    if (i == ancestryOf_)
        ancestryOf_ = -1;
    if (record.symbolData_ != nullptr)
        Link(index);
}

void PartTable::MakeFallbackName(LibElement& record) const
{
    IO::Name last;
    if (record.location.GetLastLocalName(&last) != 0) {
        SetDocumentName(record, nullptr, 0);
        return;
    }
    const char* text = last.ToCStr();
    std::size_t length = last.GetLength();
    if (const char* extension = last.FindExtension(); extension != nullptr) {
        bool drop = false;
        if (FTM::IsGroup(record.fileType)) {
            FTM::FileType pattern;
            if (pattern.AddExtension(extension) == 0)
                drop = FTM::FileTypeManager::SearchForType(pattern, record.fileType) != FTM::UnknownType;
        } else {
            FTM::FileType type;
            if (FTM::FileTypeManager::GetType(record.fileType, &type) == 0)
                drop = type.IsExtensionIncluded(extension);
        }
        if (drop)
            length = static_cast<std::size_t>(extension - text) - 1;  // without the dot
    }
    SetDocumentName(record, text, length);
}

// ----- End of enumeration ----------------------------------------------------

void PartTable::RenumberFolders(const std::vector<std::int32_t>& oldToNew)
{
    for (std::size_t i = 0; i < count_; ++i) {
        LibElement& record = At(i);
        if (record.folderIndex >= 0 && static_cast<std::size_t>(record.folderIndex) < oldToNew.size())
            record.folderIndex = oldToNew[static_cast<std::size_t>(record.folderIndex)];
    }
}

void PartTable::ReleaseUnmergedParameterSections()
{
    for (std::size_t i = 0; i < count_; ++i) {
        LibElement& record = At(i);
        SymbolData* data = record.GetSymbolData();
        if (!record.valid || data == nullptr || !IsLibraryPartFileType(record.fileType) ||
            data->partFile_ == nullptr || (record.flags & ParametersMergedFlag) != 0)
            continue;  // an object not made yet holds no section data
        data->partFile_->SetSectionDataRef(PSC::ParameterSectionType, 0, nullptr);
    }
}

// ----- Chains by main GUID ------------------------------------------------------

std::size_t PartTable::MainGuidHash::operator()(const KR::GUID& guid) const noexcept
{
    std::uint64_t low = 0;
    std::memcpy(&low, guid.data4, sizeof low);
    std::uint64_t high = (static_cast<std::uint64_t>(guid.data1) << 32) |
                         (static_cast<std::uint64_t>(guid.data2) << 16) | guid.data3;
    std::uint64_t h = high * 0x9E3779B97F4A7C15ull ^ (low + 0x632BE59BD9B4E019ull + (high << 6) + (high >> 2));
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 29;
    return static_cast<std::size_t>(h);
}

bool PartTable::MainGuidEqual::operator()(const KR::GUID& a, const KR::GUID& b) const noexcept
{
    return KR::guidManager.IsEqual(a, b);
}

std::size_t PartTable::ChainMap::Find(const KR::GUID& guid) const noexcept
{
    return table_.Find(MainGuidHash()(guid), [&guid](const Slot& slot) { return MainGuidEqual()(slot.guid, guid); });
}

PartTable::Chain& PartTable::ChainMap::Get(const KR::GUID& guid)
{
    const auto [k, added] =
        table_.FindOrClaim(MainGuidHash()(guid), [&guid](const Slot& slot) { return MainGuidEqual()(slot.guid, guid); });
    if (added)
        table_.At(k).guid = guid;
    return table_.At(k).chain;
}

void PartTable::Link(std::uint32_t i)
{
    const SymbolData* data = At(i).GetSymbolData();
    Chain& chain = chains_.Get(data->GetOwnUnID().mainGuid);
    if (chain.head == NoRecord) {
        chain.head = chain.tail = i;
        chainPrev_[i] = chainNext_[i] = NoRecord;
        return;
    }
    if (i > chain.tail) {  // the usual case: a record just appended
        chainPrev_[i] = chain.tail;
        chainNext_[i] = NoRecord;
        chainNext_[chain.tail] = i;
        chain.tail = i;
        return;
    }
    // A record re-initialised in place: before the first greater record,
    // looked for from the back.
    std::uint32_t after = chain.tail;
    while (after != NoRecord && after > i)
        after = chainPrev_[after];
    const std::uint32_t before = after == NoRecord ? chain.head : chainNext_[after];
    chainPrev_[i] = after;
    chainNext_[i] = before;
    chainPrev_[before] = i;
    if (after == NoRecord)
        chain.head = i;
    else
        chainNext_[after] = i;
}

void PartTable::Unlink(std::uint32_t i)
{
    const SymbolData* data = At(i).GetSymbolData();
    const std::size_t slot = chains_.Find(data->GetOwnUnID().mainGuid);
    if (slot == ChainMap::None)
        return;
    Chain& chain = chains_.At(slot);
    const std::uint32_t prev = chainPrev_[i];
    const std::uint32_t next = chainNext_[i];
    if (prev == NoRecord)
        chain.head = next;
    else
        chainNext_[prev] = next;
    if (next == NoRecord)
        chain.tail = prev;
    else
        chainPrev_[next] = prev;
    chainPrev_[i] = chainNext_[i] = NoRecord;
    if (chain.head == NoRecord)
        chains_.EraseAt(slot);
}

}  // namespace LM
