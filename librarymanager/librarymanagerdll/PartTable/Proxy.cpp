// The proxy of a library part: the part itself when it is present, else its
// nearest present ancestor in the type hierarchy.
#include "AncestryHierarchy.hpp"
#include "KR/DebugChannel.hpp"
#include "LibrarySet/Guard.hpp"
#include "LibrarySet/ModuleState.hpp"
#include "PartTable/PartTable.hpp"

namespace LM {

void LibrarySet::DetermineProxy(std::int32_t i)
{
    Guard(0, [&] {
        LibElement* record = partTable_->Get(i);
        if (record == nullptr || record->GetSymbolData() == nullptr || !IsLibraryPartFileType(record->fileType))
            return 0;
        SymbolData* data = record->GetSymbolData();
        if (record->valid) {
            data->proxy = i;
            return 0;
        }
        // A part without ancestry path (id 0) makes the path tree refuse the
        // id; the refusal is printed and the proxy stays as it was.
        (void)RunGuarded([&] {
            const std::uint32_t pathId = data->ancestryId;
            const std::uint32_t length = typeHierarchy_->GetPathLength(pathId);
            std::int32_t proxy = i;
            for (std::uint32_t k = 1; k < length; ++k) {
                KR::UnID ancestor = NULLUnID;
                typeHierarchy_->GetPathNodeFromBack(pathId, k, &ancestor);
                const std::int32_t found = SearchSymbolByUnID(ancestor, nullptr);
                if (IsSymbolValid(found)) {
                    proxy = found;
                    break;
                }
            }
            data->proxy = proxy;
        });
        return 0;
    });
}

}  // namespace LM
