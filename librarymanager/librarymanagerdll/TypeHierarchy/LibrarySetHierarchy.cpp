// The library set's operations on the type hierarchy: ancestry of a part by
// index, type tests, refreshing a declared ancestry, rebuilding, export and
// the diagnostic print. Each runs under the set's guard.
#include "AncestryHierarchy.hpp"
#include "AncestryInfo.hpp"
#include "KR/Channel.hpp"
#include "KRUtils/KRUtils.hpp"
#include "LibrarySet/ActiveLibraryList.hpp"
#include "LibrarySet/Guard.hpp"
#include "LibrarySet/ModuleState.hpp"
#include "PartTable/PartTable.hpp"

namespace LM {

std::int32_t LibrarySet::GetSymbolAncestryInfo(std::int32_t i, AncestryInfo* info) const
{
    return GuardError([&]() -> KR::ErrorCode {
        if (info == nullptr)
            return KR::ErrParam;
        const LibElement* record = partTable_->Get(i);
        if (record == nullptr) {
            info->Clear();
            return ErrBadIndex;
        }
        const std::uint32_t pathId = GetSymbolAncestryId(i);
        if (pathId == 0)
            return ErrBadIndex;
        if (const KR::ErrorCode err = typeHierarchy_->GetAncestryInfo(pathId, info); err != KR::NoError)
            return err;
        if (IsSymbolTemplate(i))
            info->MarkAsTemplate();
        return KR::NoError;
    });
}

std::int32_t LibrarySet::GetSymbolParentUnID(std::int32_t i, KR::UnID* parent) const
{
    return GuardError([&]() -> KR::ErrorCode {
        if (!partTable_->IsValidIndex(i))
            return ErrBadIndex;
        if (parent == nullptr)
            return KR::ErrParam;
        typeHierarchy_->GetPathNodeFromBack(GetSymbolAncestryId(i), 1, parent);
        return KR::NoError;
    });
}

bool LibrarySet::IsSymbolTypeOf(std::int32_t i, const KR::UnID& ancestor) const
{
    return Guard(false, [&] {
        return partTable_->IsValidIndex(i) && typeHierarchy_->IsNodeOnPath(GetSymbolAncestryId(i), ancestor);
    });
}

std::int32_t LibrarySet::SearchDocuNameByAncestor(const char* docName, const KR::UnID& ancestor) const
{
    return Guard(std::int32_t{-1}, [&] {
        std::size_t first = 0;
        std::size_t last = 0;
        partTable_->GetNameRange(docName, &first, &last);
        const std::vector<std::uint32_t>& names = partTable_->GetNameIndex();
        for (std::size_t k = first; k < last; ++k) {
            const auto i = static_cast<std::int32_t>(names[k]);
            if (partTable_->Get(i)->valid && IsSymbolTypeOf(i, ancestor))
                return i;
        }
        return std::int32_t{-1};
    });
}

std::int32_t LibrarySet::SetSymbolAncestor(std::int32_t i, std::int32_t ancestor)
{
    return GuardError([&]() -> KR::ErrorCode {
        const LibElement* record = partTable_->Get(i);
        const LibElement* parent = partTable_->Get(ancestor);
        if (record == nullptr || record->GetSymbolData() == nullptr || !IsLibraryPartFileType(record->fileType))
            return ErrBadIndex;
        if (parent == nullptr || parent->GetSymbolData() == nullptr || !IsLibraryPartFileType(parent->fileType) ||
            parent->GetSymbolData()->ancestryId == 0)
            return ErrBadIndex;
        const std::uint32_t pathId =
            typeHierarchy_->AppendPathNode(parent->GetSymbolData()->ancestryId, record->GetSymbolData()->GetOwnUnID());
        SetSymbolAncestryId(i, pathId);
        return KR::NoError;
    });
}

std::int32_t LibrarySet::RefreshAncestryInfo(const KR::UnID& ownID, AncestryInfo* info, std::int32_t* found) const
{
    return GuardError([&]() -> KR::ErrorCode {
        if (info == nullptr)
            return KR::ErrParam;
        const std::uint32_t count = info->GetAncestorsCount();
        std::uint32_t k = ownID == NULLUnID ? count : count + 1;
        std::int32_t present = -1;
        // Non-const only for the search by main GUID, which changes nothing.
        auto* self = const_cast<LibrarySet*>(this);
        KR::VAArray<std::int32_t> similar(50);
        while (k > 0 && !partTable_->IsValidIndex(present)) {
            const KR::UnID id = k <= count ? info->GetAncestorRef(k) : ownID;
            present = SearchSymbolByUnID(id, nullptr);
            if (!partTable_->IsValidIndex(present) && self->SearchSymbolByMainUnID(id, &similar) == 1)
                present = similar[1];
            --k;
        }
        if (partTable_->IsValidIndex(present)) {
            const std::uint32_t position = k + 1;
            const AncestryInfo declared(*info);
            (void)GetSymbolAncestryInfo(present, info);
            KR::UnID presentId{};
            (void)GetSymbolOwnUnID(present, &presentId);
            info->Append(presentId);
            for (std::uint32_t a = position + 1; a <= count; ++a)
                info->Append(declared.GetAncestorRef(a));
            if (declared.IsTemplate())
                info->MarkAsTemplate();
            else
                info->MarkAsNonTemplate();
        }
        info->CheckAndFix(ownID);
        if (found != nullptr)
            *found = present;
        return KR::NoError;
    });
}

void LibrarySet::RebuildTypeHierarchy(bool conformAll)
{
    Guard(0, [&] {
        typeHierarchy_->Build(conformAll);
        const std::int32_t n = partTable_->GetCount();
        for (std::int32_t i = 0; i < n; ++i)
            DetermineProxy(i);
        return 0;
    });
}

std::int32_t LibrarySet::GetPreorderAncestryTreeWalk(KR::VAArray<std::int32_t>* list) const
{
    return Guard(std::int32_t{-1}, [&] {
        if (list == nullptr)
            return std::int32_t{-1};
        return typeHierarchy_->GetPreorderAncestryTreeWalk(list);
    });
}

std::int32_t LibrarySet::ExportTypeHierarchy(TypeHierarchyExporter* exporter) const
{
    return GuardError([&] { return typeHierarchy_->ExportTypeHierarchy(exporter); });
}

void LibrarySet::PrintTypeHierarchy(KR::OChannel& channel)
{
    Guard(0, [&] {
        typeHierarchy_->PrintTypeHierarchy(channel);
        channel << "LibraryManager enumeration status : " << enumerated_ << "\n";
        const std::int32_t libraries = GetActiveLibraryNum();
        channel << "ActiveLibCount: " << libraries << "\n";
        for (std::int32_t a = 0; a < libraries; ++a) {
            KR::String name;
            (void)GetActiveLibraryName(a, &name);
            channel << name.Std() << "\n";
        }
        const std::int32_t n = partTable_->GetCount();
        channel << "symbolCount: " << n << "\n";
        for (std::int32_t i = 0; i < n; ++i) {
            const LibElement* record = partTable_->Get(i);
            channel << i << " : " << static_cast<const char*>(record->documentName) << " ("
                    << record->location.GetText() << "), isValid : " << record->valid << "\n";
        }
        return 0;
    });
}

}  // namespace LM
