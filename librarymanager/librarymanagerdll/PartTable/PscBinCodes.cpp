// Compiled script codes of the library set's parts, kept in the script code
// container of the cache folder that all sets share, and the observer
// operations through which the sets learn of each other's changes.
#include "PscBinCodes.hpp"

#include "AncestryHierarchy.hpp"
#include "AncestryInfo.hpp"
#include "KR/Memory.hpp"
#include "LibrarySet/Guard.hpp"
#include "PartTable/PartTable.hpp"
#include "PartTable/PscBinCodesContainer.hpp"

#include <vector>

namespace LM {

PscBinCodesContainerObserver::~PscBinCodesContainerObserver() = default;

void PscBinCodesContainerObserver::BinCodeAdded(const LibrarySet&, const PscBinCodesContainerEvent&) {}

void PscBinCodesContainerObserver::BinCodeRemoved(const LibrarySet&, const PscBinCodesContainerEvent&) {}

void PscBinCodesContainerObserver::BinCodesCleared(const LibrarySet&, const PscBinCodesContainerEvent&) {}

namespace {

// The part's own UnID, NULLUnID for a record without part data.
const KR::UnID& OwnUnIDOf(const LibElement& record)
{
    const SymbolData* data = record.GetSymbolData();
    return data != nullptr ? data->GetOwnUnID() : NULLUnID;
}

}  // namespace

std::int32_t LibrarySet::GetSymbolPscBinCode(std::int32_t i, std::int16_t scriptType, char*** code)
{
    return GuardError([&]() -> KR::ErrorCode {
        if (code != nullptr)
            *code = nullptr;
        LibElement* record = partTable_->Get(i);
        const int slot = SymbolData::CodeSlot(scriptType);
        if (record == nullptr || slot < 0)
            return ErrBadIndex;
        if (code == nullptr)
            return KR::ErrParam;
        PscBinCodesContainer* container = scriptCodeContainer_;
        if (container == nullptr)
            return ErrNoCodeContainer;

        SymbolData* data = record->GetSymbolData();
        std::int32_t k = data != nullptr ? data->codeIndices[slot] : SymbolData::NoCode;
        if (k == SymbolData::CodeNotLookedUp) {
            k = container->Find(OwnUnIDOf(*record), record->location, scriptType);
            data->codeIndices[slot] = k;
        }
        // Once per container life an item is checked against the part's
        // current ancestry; a code compiled for another ancestry is dropped,
        // for every set that shares the container.
        if (k != SymbolData::NoCode && !container->IsChecked(k)) {
            if (data != nullptr && data->ancestryId != 0) {
                AncestryInfo current;
                typeHierarchy_->GetAncestryInfo(data->ancestryId, &current);
                char** section = nullptr;
                container->GetCode(k, nullptr, &section);
                if (section != nullptr) {
                    AncestryInfo stored;
                    stored.SetAncestrySection(section);
                    KR::bmManager.KillHandle(section);
                    if (stored != current)
                        container->Remove(k, *this);
                } else {
                    container->Remove(k, *this);
                }
            }
            container->SetChecked(k, true);
        }
        return container->GetCode(k, code, nullptr);
    });
}

std::int32_t LibrarySet::SetSymbolPscBinCode(std::int32_t i, std::int16_t scriptType, char** code)
{
    return GuardError([&]() -> KR::ErrorCode {
        LibElement* record = partTable_->Get(i);
        const int slot = SymbolData::CodeSlot(scriptType);
        if (record == nullptr || slot < 0)
            return ErrBadIndex;
        PscBinCodesContainer* container = scriptCodeContainer_;
        if (container == nullptr)
            return ErrNoCodeContainer;

        SymbolData* data = record->GetSymbolData();
        char** section = nullptr;
        if (data != nullptr && data->ancestryId != 0) {
            AncestryInfo current;
            typeHierarchy_->GetAncestryInfo(data->ancestryId, &current);
            section = current.GetAncestrySection();
        }
        std::int32_t k = data != nullptr ? data->codeIndices[slot] : SymbolData::NoCode;
        // A part keeps one item per script type: an item the container has
        // for it already (one read from the file, or one removed in place)
        // takes the new code, so that every set finds this code first.
        if (!container->IsValidIndex(k))
            k = container->Find(OwnUnIDOf(*record), record->location, scriptType);
        if (container->IsValidIndex(k))
            container->SetCode(k, code, section);
        else
            k = container->Add(OwnUnIDOf(*record), record->location, scriptType, code, section, *this);
        if (data != nullptr)
            data->codeIndices[slot] = k;
        container->SetChecked(k, true);
        if (section != nullptr)
            KR::bmManager.KillHandle(section);
        return KR::NoError;
    });
}

std::int32_t LibrarySet::ClearAllPscBinCodes()
{
    return GuardError([&]() -> KR::ErrorCode {
        for (std::int32_t i = 0; i < partTable_->GetCount(); ++i)
            partTable_->SetCodeIndices(i, SymbolData::NoCode);
        if (scriptCodeContainer_ != nullptr)
            scriptCodeContainer_->ClearAll(*this);
        return KR::NoError;
    });
}

void LibrarySet::BinCodeAdded(const LibrarySet&, const PscBinCodesContainerEvent&) {}

void LibrarySet::BinCodeRemoved(const LibrarySet& sender, const PscBinCodesContainerEvent& event)
{
    if (&sender == this)
        return;
    Guard(false, [&] {
        const int slot = SymbolData::CodeSlot(event.GetScriptType());
        if (slot < 0)
            return false;
        // Records without an own UnID are not found and keep their index.
        LibElement* record = partTable_->Get(partTable_->FindByUnID(event.GetPartId(), nullptr));
        if (record == nullptr || record->GetSymbolData() == nullptr)
            return false;
        record->GetSymbolData()->codeIndices[slot] = SymbolData::NoCode;
        return true;
    });
}

void LibrarySet::BinCodesCleared(const LibrarySet& sender, const PscBinCodesContainerEvent&)
{
    if (&sender == this)
        return;
    Guard(false, [&] {
        for (std::int32_t i = 0; i < partTable_->GetCount(); ++i)
            partTable_->SetCodeIndices(i, SymbolData::NoCode);
        return true;
    });
}

}  // namespace LM
