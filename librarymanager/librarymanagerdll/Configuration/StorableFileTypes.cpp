// The set's storable file types: the types of the files that storing a part
// accepts, in the order they are tried.
#include "FTM/FileTypes.hpp"
#include "LibrarySet.hpp"
#include "LibrarySet/Guard.hpp"

#include <algorithm>

namespace LM {

void LibrarySet::AddStorableFileType(FTM::GeneralID type)
{
    Guard(false, [&] {
        if (std::find(storableFileTypes_.begin(), storableFileTypes_.end(), type) != storableFileTypes_.end())
            return false;
        storableFileTypes_.push_back(type);
        return true;
    });
}

void LibrarySet::RemoveStorableFileType(FTM::GeneralID type)
{
    Guard(false, [&] {
        auto first = std::find(storableFileTypes_.begin(), storableFileTypes_.end(), type);
        if (first == storableFileTypes_.end())
            return false;
        storableFileTypes_.erase(first);
        return true;
    });
}

void LibrarySet::ClearStorableFileTypes()
{
    Guard(false, [&] {
        storableFileTypes_.clear();
        return true;
    });
}

KR::ConstForwardIterator<FTM::GeneralID> LibrarySet::EnumerateStorableFileTypes() const
{
    using Iterator = KR::ConstForwardIterator<FTM::GeneralID>;
    return Guard(Iterator(), [&] { return Iterator(storableFileTypes_.begin(), storableFileTypes_.end()); });
}

bool LibrarySet::IsLocationStorableFileType(const IO::Location& location, FTM::GeneralID* type) const
{
    for (FTM::GeneralID candidate : storableFileTypes_) {
        if (FTM::FileTypeManager::Match(location, candidate, FTM::RootGroup)) {
            if (type != nullptr)
                *type = candidate;
            return true;
        }
    }
    if (type != nullptr)
        *type = FTM::UnknownType;
    return false;
}

}  // namespace LM
