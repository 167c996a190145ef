// The library set's searches of the part table. Each runs under the guard
// and returns a library part index, or -1 when nothing is found or an
// exception was caught.
#include "LibrarySet/Guard.hpp"
#include "PartTable/PartTable.hpp"

namespace LM {

std::int32_t LibrarySet::SearchSymbol(const IO::Location& location)
{
    return Guard(std::int32_t{-1}, [&] { return partTable_->FindByLocation(location); });
}

std::int32_t LibrarySet::SearchSymbolFileName(const char* name)
{
    return Guard(std::int32_t{-1}, [&] { return partTable_->FindByFileName(name, nullptr); });
}

std::int32_t LibrarySet::SearchSymbolFileName(const char* name, const FTM::GeneralID& type)
{
    return Guard(std::int32_t{-1}, [&] { return partTable_->FindByFileName(name, &type); });
}

std::int32_t LibrarySet::SearchSymbolDocuName(const char* name)
{
    return Guard(std::int32_t{-1}, [&] { return partTable_->FindByDocumentName(name); });
}

std::int32_t LibrarySet::SearchSymbolDocuName(const char* name, const FTM::GeneralID& type)
{
    return Guard(std::int32_t{-1}, [&] {
        // Only the record the name search finds is looked at.
        const std::int32_t found = partTable_->FindByDocumentName(name);
        const LibElement* record = partTable_->Get(found);
        return record != nullptr && record->fileType == type ? found : std::int32_t{-1};
    });
}

std::int32_t LibrarySet::SearchSymbolByUnID(const KR::UnID& id, const char* name) const
{
    return Guard(std::int32_t{-1}, [&] { return partTable_->FindByUnID(id, name); });
}

std::int32_t LibrarySet::SearchSymbolByMainUnID(const KR::UnID& id, KR::VAArray<std::int32_t>* hits)
{
    return Guard(std::int32_t{-1}, [&] {
        if (hits == nullptr)
            return std::int32_t{-1};
        return partTable_->FindByMainGuid(id, hits);
    });
}

std::int32_t LibrarySet::SearchSymbolAnyhow(const KR::UnID& id, const char* name, bool* ambiguous)
{
    return Guard(std::int32_t{-1}, [&] {
        std::int32_t found = SearchSymbolByUnID(id, name);
        if (ambiguous != nullptr)
            *ambiguous = false;
        if (IsSymbolValid(found))
            return found;

        if (id != NULLUnID) {
            KR::VAArray<std::int32_t> hits(50);
            const std::int32_t count = SearchSymbolByMainUnID(id, &hits);
            if (count == 1) {
                found = hits[1];
            } else if (count > 1) {
                if (ambiguous != nullptr)
                    *ambiguous = true;
                found = hits[1];
                if (name != nullptr) {
                    for (std::int32_t hit : hits) {
                        const LibElement* record = partTable_->Get(hit);
                        if (record != nullptr && CompareDocumentNames(record->documentName, name) == 0) {
                            found = hit;
                            break;
                        }
                    }
                }
            }
            if (IsSymbolValid(found))
                return found;
        }

        found = SearchSymbolDocuName(name);
        if (IsSymbolValid(found))
            return found;
        return SearchSymbolFileName(name);
    });
}

std::int32_t LibrarySet::SearchDummySymbol(const KR::UnID& id, const char* name) const
{
    return Guard(std::int32_t{-1}, [&] { return partTable_->FindPlaceholder(id, name); });
}

std::int32_t LibrarySet::GetSortedSymbolIndexByName(std::int32_t k)
{
    return Guard(std::int32_t{-1}, [&] { return partTable_->GetSortedIndexByName(k); });
}

}  // namespace LM
