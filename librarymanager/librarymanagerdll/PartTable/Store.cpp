// Storing library parts and placeholders in the part table.
//
// While the set is being enumerated every call appends a record and leaves
// the indexes and the hierarchy alone: the end of the enumeration builds
// them once. Once the set is enumerated a call first looks for the record it
// replaces, and afterwards keeps the indexes current (an insertion into each
// sorted index, no re-sort) and rebuilds the type hierarchy.
#include "AncestryHierarchy.hpp"
#include "AncestryInfo.hpp"
#include "IO/Location.hpp"
#include "KR/DebugChannel.hpp"
#include "KR/Exceptions.hpp"
#include "LPF/PartFile.hpp"
#include "LibrarySet/ActiveLibraryList.hpp"
#include "LibrarySet/Guard.hpp"
#include "LibrarySet/ModuleState.hpp"
#include "LibrarySet/OtherObjectList.hpp"
#include "PartTable/PartTable.hpp"
#include "PartTable/PscBinCodesContainer.hpp"
#include "SectionTypes.hpp"
#include "TypeHierarchy/PathBatch.hpp"

#include <algorithm>
#include <cstring>

namespace LM {

namespace {

// The longest file name that fits a document name.
constexpr std::size_t MaxDocumentNameLength = DocumentNameSize - 1;

// The ancestry section of record `i` of `table`; false when it has none.
bool LoadAncestrySection(PartTable& table, std::int32_t i, AncestryInfo* ancestry)
{
    // The bytes that came with filling the record from its file, or else the
    // section as its part file object hands it out.
    const char* bytes = nullptr;
    std::size_t size = 0;
    switch (table.TakeAncestryBytes(i, &bytes, &size)) {
    case PartTable::AncestryBytes::None:
        return false;
    case PartTable::AncestryBytes::Bytes:
        (void)ancestry->SetAncestryBytes(bytes, size);
        return true;
    case PartTable::AncestryBytes::Unknown:
        break;
    }
    LPF::SymbolFile* file = table.GetPartFile(i);
    char** section = nullptr;
    if (file == nullptr || file->GetSectionDataRef(AncestrySectionType, 0, &section) != 0 || section == nullptr)
        return false;
    (void)ancestry->SetAncestrySection(section);
    return true;
}

}  // namespace

std::int32_t LibrarySet::StoreSymbol(const IO::Location& location, std::int32_t folderIndex, std::int32_t knownIndex)
{
    // The index reached so far is the result, also when an exception ends
    // the operation half way.
    std::int32_t stored = -1;
    Guard(0, [&] {
        IO::Name lastName;
        if (location.GetLastLocalName(&lastName) != 0)
            lastName = IO::Name();
        if (!lastName.IsEmpty() && IsMetadataFileName(lastName.ToCStr()))
            return 0;

        std::int32_t i = -1;
        if (enumerated_) {
            if (knownIndex == -1) {
                i = partTable_->FindByLocation(location);
            } else {
                // A hint that does not name the record of this location is
                // refused rather than used to address the table.
                const LibElement* known = partTable_->Get(knownIndex);
                if (known == nullptr || known->location != location)
                    return 0;
                i = knownIndex;
            }
        }
        const bool reStored = i != -1;
        const ModuleState& state = GetModuleState();

        if (!reStored) {
            FTM::GeneralID type = FTM::UnknownType;
            if (!IsLocationStorableFileType(location, &type))
                return 0;
            if (folderIndex == -1)
                folderIndex = FindFolderForStoring(location);
            if (lastName.GetLength() > MaxDocumentNameLength && errorHandler_.AskNameTooLong(lastName) == 1)
                return 0;
            i = partTable_->AppendFromFile(location, folderIndex, type, 0);
            stored = i;
            if (IsLibraryPartFileType(type))
                partTable_->SetCodeIndices(i, SymbolData::CodeNotLookedUp);
        } else {
            stored = i;
            LibElement* record = partTable_->Get(i);
            if (IsLibraryPartFileType(record->fileType)) {
                // A record without a path makes the path tree refuse id 0; the
                // record is then left as it is.
                typeHierarchy_->DeletePath(GetSymbolAncestryId(i));
                SetSymbolAncestryId(i, 0);
                DiscardCompiledCodes(i);
            }
            record->location = location;
            partTable_->Refresh(i);
        }

        LibElement* record = partTable_->Get(i);
        SymbolData* data = record->GetSymbolData();
        if (record->fileType == state.firstPartFileType && data != nullptr && data->HasFileObject())
            ReadAncestry(i);

        if (enumerated_) {
            partTable_->UpdateIndexes(i, reStored);
            RebuildTypeHierarchy(false);
        }
        return 0;
    });
    return stored;
}

std::int32_t LibrarySet::StoreDummySymbol(const char* name, const KR::UnID& id, const FTM::GeneralID& type,
                                          const AncestryInfo& ancestry)
{
    return Guard(std::int32_t{-1}, [&]() -> std::int32_t {
        // The name as the record will hold it: searching with the same cut
        // name finds this placeholder again however long the given name was.
        char docName[DocumentNameSize] = {};
        if (name != nullptr)
            std::strncpy(docName, name, MaxDocumentNameLength);
        const std::int32_t folder = folderSet_->GetCount() - 1;

        const char* key = name != nullptr ? docName : nullptr;  // no name: any name matches
        std::int32_t i = enumerated_ ? partTable_->FindPlaceholder(id, key) : -1;
        const bool reStored = i != -1;
        if (std::find(storableFileTypes_.begin(), storableFileTypes_.end(), type) == storableFileTypes_.end())
            return -1;

        if (!reStored) {
            i = partTable_->AppendPlaceholder(docName, id, folder, type, 0);
        } else {
            // A placeholder without a path makes the path tree refuse id 0.
            typeHierarchy_->DeletePath(GetSymbolAncestryId(i));
            SetSymbolAncestryId(i, 0);
            partTable_->InitPlaceholder(i, docName, id, folder, type, 0);
        }

        if (type == GetModuleState().firstPartFileType) {
            std::uint32_t pathId = 0;
            try {
                pathId = AddPartPath(i, ancestry.GetAncestorsRef(), ancestry.GetAncestorsCount(), id);
            } catch (const KR::KRException& e) {
                e.Print(KR::dbChannel);
            }
            if (SymbolData* data = partTable_->Get(i)->GetSymbolData()) {
                data->ancestryId = pathId;
                data->isTemplate = ancestry.IsTemplate();
            }
        }

        if (enumerated_) {
            partTable_->UpdateIndexes(i, reStored);
            RebuildTypeHierarchy(false);
        }
        return i;
    });
}

std::int32_t LibrarySet::FindFolderForStoring(const IO::Location& location)
{
    const std::int32_t folder = folderSet_->FindFolderOfFile(location);
    IO::Location parent = location;
    const FolderItem* item = folderSet_->GetItem(folder);
    if (parent.DeleteLastLocalName() == 0 && !parent.IsEmpty() && item != nullptr && item->location == parent)
        return folder;  // a folder of the set holds the file

    // A file outside every known folder is one of the set's other objects,
    // unless it lies in a library whose content comes from the LAN cache.
    bool inCachedLibrary = false;
    if (useLanCache_) {
        for (std::int32_t a = 0; a < activeLibraries_->GetCount() && !inCachedLibrary; ++a) {
            const ActiveLibrary* library = activeLibraries_->Get(a);
            inCachedLibrary = !library->permanent && library->location.IsAncestorOf(location);
        }
    }
    if (!inCachedLibrary)
        otherObjects_->Add(location);
    return folder;
}

void LibrarySet::DiscardCompiledCodes(std::int32_t i)
{
    SymbolData* data = partTable_->Get(i)->GetSymbolData();
    if (data == nullptr)
        return;
    for (std::int32_t& code : data->codeIndices) {
        if (scriptCodeContainer_ != nullptr && scriptCodeContainer_->IsValidIndex(code))
            scriptCodeContainer_->Remove(code, *this);
        code = SymbolData::NoCode;
    }
}

void LibrarySet::ReadAncestry(std::int32_t i)
{
    LibElement* record = partTable_->Get(i);
    SymbolData* data = record->GetSymbolData();
    std::uint32_t pathId = 0;
    bool isTemplate = false;
    try {
        AncestryInfo ancestry;
        if (LoadAncestrySection(*partTable_, i, &ancestry)) {
            const KR::UnID own = data->GetOwnUnID();
            ancestry.CheckAndFix(own);
            isTemplate = ancestry.IsTemplate();
            pathId = AddPartPath(i, ancestry.GetAncestorsRef(), ancestry.GetAncestorsCount(), own);
        }
    } catch (const KR::KRException& e) {
        // A damaged section: what was read before the damage is kept.
        e.Print(KR::dbChannel);
    }
    data->ancestryId = pathId;
    data->isTemplate = isTemplate;
}

std::uint32_t LibrarySet::AddPartPath(std::int32_t i, const KR::UnID* ancestors, std::uint32_t n, const KR::UnID& own)
{
    if (pathBatch_ == nullptr)
        return typeHierarchy_->AddPath(ancestors, n, own);
    (void)pathBatch_->Add(i, ancestors, n, own);
    return 0;
}

}  // namespace LM
