// The library set's accessors of single part attributes by library part
// index. Each runs under the guard; a bad index gives ErrBadIndex (or the
// operation's fallback value) and changes nothing.
#include "LibrarySet/Guard.hpp"
#include "PartTable/PartTable.hpp"

#include <cstring>

namespace LM {

namespace {

// Runs `body` on record `i` of `table`, or returns ErrBadIndex.
template <typename Table, typename Body>
KR::ErrorCode WithRecord(Table* table, std::int32_t i, Body&& body)
{
    auto* record = table->Get(i);
    if (record == nullptr)
        return ErrBadIndex;
    return body(*record);
}

}  // namespace

std::int32_t LibrarySet::GetSymbolNumber() const
{
    return Guard(std::int32_t{0}, [&] { return partTable_->GetCount(); });
}

bool LibrarySet::IsValidIndex(std::int32_t i) const
{
    return Guard(false, [&] { return partTable_->IsValidIndex(i); });
}

bool LibrarySet::IsSymbolValid(std::int32_t i) const
{
    return Guard(false, [&] {
        const LibElement* record = partTable_->Get(i);
        return record != nullptr && record->valid;
    });
}

std::int32_t LibrarySet::SetSymbolValid(std::int32_t i, bool valid)
{
    return GuardError([&] {
        return WithRecord(partTable_, i, [&](LibElement& record) {
            record.valid = valid;
            return KR::NoError;
        });
    });
}

bool LibrarySet::IsLibElementSymbol(std::int32_t i) const
{
    return Guard(false, [&] {
        const LibElement* record = partTable_->Get(i);
        return record != nullptr && record->GetSymbolData() != nullptr;
    });
}

std::int32_t LibrarySet::GetSymbolLocation(std::int32_t i, IO::Location* location) const
{
    return GuardError([&] {
        return CopyField(partTable_->Get(i), &LibElement::location, location);
    });
}

std::int32_t LibrarySet::GetSymbolGeneralFileType(std::int32_t i, FTM::GeneralID* type) const
{
    return GuardError([&] {
        return CopyField(partTable_->Get(i), &LibElement::fileType, type);
    });
}

std::int32_t LibrarySet::GetSymbolFolderIndex(std::int32_t i) const
{
    return Guard(std::int32_t{-1}, [&] {
        const LibElement* record = partTable_->Get(i);
        return record != nullptr ? record->folderIndex : std::int32_t{-1};
    });
}

std::int32_t LibrarySet::GetSymbolDocumentName(std::int32_t i, char* name) const
{
    return GuardError([&] {
        return WithRecord(partTable_, i, [&](const LibElement& record) {
            if (name == nullptr)
                return KR::ErrParam;
            std::memcpy(name, record.documentName, DocumentNameSize);
            return KR::NoError;
        });
    });
}

LPF::SymbolFile* LibrarySet::GetSymbolFile(std::int32_t i)
{
    return Guard(static_cast<LPF::SymbolFile*>(nullptr), [&]() -> LPF::SymbolFile* {
        return partTable_->GetPartFile(i);
    });
}

LPF::ScriptFile* LibrarySet::GetScriptFile(std::int32_t i)
{
    return Guard(static_cast<LPF::ScriptFile*>(nullptr), [&]() -> LPF::ScriptFile* {
        return partTable_->GetScriptFile(i);
    });
}

std::uint32_t LibrarySet::GetSymbolFlags(std::int32_t i) const
{
    return Guard(std::uint32_t{1}, [&] {
        const LibElement* record = partTable_->Get(i);
        return record != nullptr ? record->flags : std::uint32_t{1};
    });
}

std::int32_t LibrarySet::SetSymbolFlags(std::int32_t i, std::uint32_t flags)
{
    return GuardError([&] {
        return WithRecord(partTable_, i, [&](LibElement& record) {
            record.flags = flags;
            return KR::NoError;
        });
    });
}

std::int16_t LibrarySet::GetSymbolWDExprBits(std::int32_t i) const
{
    return Guard(std::int16_t{0}, [&] {
        const LibElement* record = partTable_->Get(i);
        if (record == nullptr || record->GetSymbolData() == nullptr)
            return std::int16_t{0};
        return record->GetSymbolData()->wdExprBits;
    });
}

std::int32_t LibrarySet::SetSymbolWDExprBits(std::int32_t i, std::int16_t bits)
{
    return GuardError([&] {
        return WithRecord(partTable_, i, [&](LibElement& record) {
            if (SymbolData* data = record.GetSymbolData(); data != nullptr)
                data->wdExprBits = bits;
            return KR::NoError;
        });
    });
}

std::int32_t LibrarySet::GetSymbolPscCommandsBits(std::int32_t i, std::int16_t scriptType) const
{
    return Guard(std::int32_t{0}, [&] {
        const LibElement* record = partTable_->Get(i);
        const int slot = SymbolData::CommandSlot(scriptType);
        if (record == nullptr || record->GetSymbolData() == nullptr || slot < 0)
            return std::int32_t{0};
        return record->GetSymbolData()->commandBits[slot];
    });
}

std::int32_t LibrarySet::SetSymbolPscCommandsBits(std::int32_t i, std::int16_t scriptType, std::int32_t bits)
{
    return GuardError([&] {
        return WithRecord(partTable_, i, [&](LibElement& record) {
            const int slot = SymbolData::CommandSlot(scriptType);
            if (SymbolData* data = record.GetSymbolData(); data != nullptr && slot >= 0)
                data->commandBits[slot] = bits;
            return KR::NoError;
        });
    });
}

std::int32_t LibrarySet::GetSymbolPscGlobalsBits(std::int32_t i, std::int16_t scriptType, std::int32_t* bits) const
{
    return GuardError([&] {
        return WithRecord(partTable_, i, [&](const LibElement& record) {
            if (bits == nullptr)
                return KR::ErrParam;
            const SymbolData* data = record.GetSymbolData();
            if (data == nullptr) {
                bits[0] = 0;
                return KR::NoError;
            }
            const int slot = SymbolData::GlobalsSlot(scriptType);
            if (slot >= 0)
                std::memcpy(bits, data->GetGlobalsBits(slot), SymbolData::GlobalsWordCount * sizeof bits[0]);
            return KR::NoError;
        });
    });
}

std::int32_t LibrarySet::SetSymbolPscGlobalsBits(std::int32_t i, std::int16_t scriptType, const std::int32_t* bits)
{
    return GuardError([&] {
        return WithRecord(partTable_, i, [&](LibElement& record) {
            if (bits == nullptr)
                return KR::ErrParam;
            const int slot = SymbolData::GlobalsSlot(scriptType);
            if (SymbolData* data = record.GetSymbolData(); data != nullptr && slot >= 0)
                std::memcpy(data->GetWritableGlobalsBits(slot), bits, SymbolData::GlobalsWordCount * sizeof bits[0]);
            return KR::NoError;
        });
    });
}

std::int32_t LibrarySet::ResetSymbolPscGlobalsBits(std::int32_t i)
{
    return GuardError([&] {
        return WithRecord(partTable_, i, [&](LibElement& record) {
            SymbolData* data = record.GetSymbolData();
            if (data == nullptr)
                return KR::NoError;
            for (std::int32_t& word : data->commandBits)
                word = 0;
            // Script types 1 to 10; the blocks of 11 and 12 keep their values.
            for (std::int16_t scriptType = 1; scriptType <= 10 && data->HasGlobalsBits(); ++scriptType) {
                std::int32_t* block = data->GetWritableGlobalsBits(SymbolData::GlobalsSlot(scriptType));
                std::memset(block, 0, SymbolData::GlobalsWordCount * sizeof block[0]);
            }
            return KR::NoError;
        });
    });
}

std::int32_t LibrarySet::GetSymbolFileModTime(std::int32_t i, std::int32_t* time) const
{
    return GuardError([&] {
        return CopyField(partTable_->Get(i), &LibElement::modificationTime, time);
    });
}

std::int32_t LibrarySet::SetSymbolFileModTime(std::int32_t i, const std::int32_t& time)
{
    return GuardError([&] {
        return WithRecord(partTable_, i, [&](LibElement& record) {
            record.modificationTime = time;
            return KR::NoError;
        });
    });
}

std::int32_t LibrarySet::GetSymbolOwnUnID(std::int32_t i, KR::UnID* id) const
{
    return GuardError([&] {
        return WithRecord(partTable_, i, [&](const LibElement& record) {
            if (id == nullptr)
                return KR::ErrParam;
            const SymbolData* data = record.GetSymbolData();
            *id = data != nullptr ? data->GetOwnUnID() : NULLUnID;
            return KR::NoError;
        });
    });
}

std::int32_t LibrarySet::SetSymbolOwnUnID(std::int32_t i, const KR::UnID& id)
{
    return GuardError([&] {
        if (!partTable_->IsValidIndex(i))
            return ErrBadIndex;
        partTable_->SetOwnUnID(i, id);
        return KR::NoError;
    });
}

std::int32_t LibrarySet::GetSymbolUrl(std::int32_t i, KR::String* url) const
{
    return GuardError([&] {
        return CopyField(partTable_->Get(i), &LibElement::url, url);
    });
}

std::int32_t LibrarySet::SetSymbolUrl(std::int32_t i, const KR::String& url)
{
    return GuardError([&] {
        return WithRecord(partTable_, i, [&](LibElement& record) {
            record.url = url;
            return KR::NoError;
        });
    });
}

std::int32_t LibrarySet::GetSymbolProxy(std::int32_t i) const
{
    return Guard(std::int32_t{-1}, [&] {
        const LibElement* record = partTable_->Get(i);
        if (record == nullptr || record->GetSymbolData() == nullptr)
            return std::int32_t{-1};
        return record->GetSymbolData()->proxy;
    });
}

bool LibrarySet::IsSymbolTemplate(std::int32_t i) const
{
    return Guard(false, [&] {
        const LibElement* record = partTable_->Get(i);
        return record != nullptr && record->GetSymbolData() != nullptr && record->GetSymbolData()->isTemplate;
    });
}

bool LibrarySet::IsSymbolPlaceable(std::int32_t i) const
{
    return Guard(false, [&] {
        const LibElement* record = partTable_->Get(i);
        return record != nullptr && record->GetSymbolData() != nullptr && record->GetSymbolData()->placeable;
    });
}

bool LibrarySet::IsSymbolArchivable(std::int32_t i) const
{
    return Guard(false, [&] {
        const LibElement* record = partTable_->Get(i);
        if (record == nullptr)
            return false;
        const std::int32_t folders = GetFolderNumber();
        const std::int32_t folder = record->folderIndex;
        if (folder == folders - 2)  // parts that lie in no known folder
            return true;
        if (folder == folders - 1)  // placeholders
            return false;
        if (!IsPermanentActiveLibrary(GetFolderActLibIndex(folder)))
            return true;
        return record->GetSymbolData() != nullptr && record->GetSymbolData()->archivable;
    });
}

std::uint32_t LibrarySet::GetSymbolAncestryId(std::int32_t i) const
{
    return Guard(std::uint32_t{0}, [&] {
        const LibElement* record = partTable_->Get(i);
        if (record == nullptr || record->GetSymbolData() == nullptr)
            return std::uint32_t{0};
        return record->GetSymbolData()->ancestryId;
    });
}

void LibrarySet::SetSymbolAncestryId(std::int32_t i, std::uint32_t id)
{
    Guard(0, [&] {
        LibElement* record = partTable_->Get(i);
        if (record != nullptr && record->GetSymbolData() != nullptr)
            record->GetSymbolData()->ancestryId = id;
        return 0;
    });
}

}  // namespace LM
