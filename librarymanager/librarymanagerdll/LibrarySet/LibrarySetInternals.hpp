// Access to the private parts of a LibrarySet for the module's own helpers
// and for tests.
// Internal.
#pragma once

#include "LibrarySet.hpp"

namespace LM {

class LibrarySetInternals {
public:
    static PartTable* GetPartTable(LibrarySet& set) noexcept { return set.partTable_; }
    static const PartTable* GetPartTable(const LibrarySet& set) noexcept { return set.partTable_; }
    static ActiveLibraryList* GetActiveLibraries(LibrarySet& set) noexcept { return set.activeLibraries_; }
    static OtherObjectList* GetOtherObjects(LibrarySet& set) noexcept { return set.otherObjects_; }
    static AncestryHierarchy* GetTypeHierarchy(LibrarySet& set) noexcept { return set.typeHierarchy_; }
    static PscBinCodesContainer* GetScriptCodeContainer(LibrarySet& set) noexcept { return set.scriptCodeContainer_; }
    static const std::vector<FTM::GeneralID>& GetStorableFileTypes(const LibrarySet& set) noexcept
    {
        return set.storableFileTypes_;
    }
    static ILibraryErrorHandler& GetErrorHandler(LibrarySet& set) noexcept { return set.errorHandler_; }
    static void NotifyObservers(LibrarySet& set) { set.NotifyObservers(); }

    static std::uint32_t GetSymbolAncestryId(const LibrarySet& set, std::int32_t i)
    {
        return set.GetSymbolAncestryId(i);
    }
    static void SetSymbolAncestryId(LibrarySet& set, std::int32_t i, std::uint32_t id)
    {
        set.SetSymbolAncestryId(i, id);
    }
    static void DetermineProxy(LibrarySet& set, std::int32_t i) { set.DetermineProxy(i); }
    static KR::ErrorCode UpdateSymbolParameters(LibrarySet& set, std::int32_t i, std::int32_t parent, bool mergeMode)
    {
        return set.UpdateSymbolParameters(i, parent, mergeMode);
    }
};

}  // namespace LM
