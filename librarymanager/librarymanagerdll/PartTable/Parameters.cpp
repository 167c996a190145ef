// Merging a parent part's parameters into a part, for the type hierarchy.
#include "KR/Memory.hpp"
#include "LPF/PartFile.hpp"
#include "LibrarySet/Guard.hpp"
#include "PSC/Parameters.hpp"
#include "PartTable/PartTable.hpp"

namespace LM {

namespace {

// The open part file of a valid record, or null.
LPF::SymbolFile* GetValidPartFile(PartTable& table, std::int32_t i)
{
    LibElement* record = table.Get(i);
    if (record == nullptr || !record->valid || record->GetSymbolData() == nullptr)
        return nullptr;
    return table.GetPartFile(i);
}

}  // namespace

KR::ErrorCode LibrarySet::UpdateSymbolParameters(std::int32_t i, std::int32_t parent, bool mergeMode)
{
    return GuardError([&] {
        LPF::SymbolFile* own = GetValidPartFile(*partTable_, i);
        LPF::SymbolFile* parentFile = GetValidPartFile(*partTable_, parent);
        if (own == nullptr || parentFile == nullptr || !parentFile->HasSection(PSC::ParameterSectionType, 0))
            return KR::ErrParam;

        char** parentSection = nullptr;
        if (const KR::ErrorCode error = parentFile->GetSectionDataRef(PSC::ParameterSectionType, 0, &parentSection);
            error != 0)
            return error;
        char** ownSection = nullptr;
        if (own->GetSectionDataRef(PSC::ParameterSectionType, 0, &ownSection) != 0)
            ownSection = nullptr;  // the part has no parameters of its own

        const PSC::ParHdlMergeType mergeType = mergeMode ? PSC::AddMissingParameters : PSC::KeepOwnValues;
        char** merged = NewSyParHdlFromRef(parentSection, ownSection, nullptr, mergeType);
        if (merged == nullptr)
            return KR::ErrMemFull;  // a damaged section or no memory: the part keeps its parameters
        if (const KR::ErrorCode error = own->SetSectionDataRef(PSC::ParameterSectionType, 0, merged); error != 0) {
            KR::bmManager.KillHandle(merged);  // not taken over by the part file
            return error;
        }
        partTable_->Get(i)->flags |= ParametersMergedFlag;
        return KR::NoError;
    });
}

}  // namespace LM
