// The library set's operations on its folder set and its other objects.
#include "LibrarySet.hpp"

#include "LibrarySet/Guard.hpp"
#include "LibrarySet/OtherObjectList.hpp"

namespace LM {

FolderSet* LibrarySet::GetFolderSet()
{
    return Guard<FolderSet*>(nullptr, [&] { return folderSet_; });
}

std::int32_t LibrarySet::GetFolderNumber() const
{
    return Guard<std::int32_t>(0, [&] { return folderSet_->GetCount(); });
}

std::int32_t LibrarySet::GetFolderParent(std::int32_t folder) const
{
    return Guard<std::int32_t>(-1, [&] {
        const FolderItem* item = folderSet_->GetItem(folder);
        return item != nullptr ? item->parent : -1;
    });
}

std::int32_t LibrarySet::GetFolderActLibIndex(std::int32_t folder) const
{
    return Guard<std::int32_t>(-1, [&] {
        const FolderItem* item = folderSet_->GetItem(folder);
        return item != nullptr ? item->activeLibraryIndex : -1;
    });
}

std::int32_t LibrarySet::GetFolderTreeItemId(std::int32_t folder) const
{
    return Guard<std::int32_t>(-1, [&] {
        const FolderItem* item = folderSet_->GetItem(folder);
        return item != nullptr ? item->treeItemId : -1;
    });
}

bool LibrarySet::GetFolderExpandState(std::int32_t folder) const
{
    return Guard(false, [&] {
        const FolderItem* item = folderSet_->GetItem(folder);
        return item != nullptr && item->expandState;
    });
}

std::int32_t LibrarySet::GetFolderName(std::int32_t folder, KR::String* name) const
{
    return GuardError([&] { return CopyField(folderSet_->GetItem(folder), &FolderItem::name, name); });
}

std::int32_t LibrarySet::SetFolderTreeItemId(std::int32_t folder, std::int32_t id)
{
    return GuardError([&] {
        FolderItem* item = folderSet_->GetItem(folder);
        if (item == nullptr)
            return ErrBadIndex;
        item->treeItemId = id;
        return KR::NoError;
    });
}

std::int32_t LibrarySet::SetFolderExpandState(std::int32_t folder, bool expanded)
{
    return GuardError([&] {
        FolderItem* item = folderSet_->GetItem(folder);
        if (item == nullptr)
            return ErrBadIndex;
        item->expandState = expanded;
        return KR::NoError;
    });
}

std::int32_t LibrarySet::AddOtherObject(const IO::Location& location)
{
    return Guard<std::int32_t>(-1, [&] {
        enumerated_ = false;
        std::int32_t index = otherObjects_->Add(location);
        NotifyObservers();
        return index;
    });
}

std::int32_t LibrarySet::AddOtherObject(const KR::String& url)
{
    return Guard<std::int32_t>(-1, [&] {
        enumerated_ = false;
        std::int32_t index = otherObjects_->Add(url);
        NotifyObservers();
        return index;
    });
}

std::int32_t LibrarySet::GetOtherObjectNum() const
{
    return Guard<std::int32_t>(0, [&] { return otherObjects_->GetCount(); });
}

bool LibrarySet::IsUrlOtherObject(std::int32_t index) const
{
    return Guard(false, [&] {
        const OtherObject* object = otherObjects_->Get(index);
        return object != nullptr && object->urlFlag;
    });
}

std::int32_t LibrarySet::GetOtherObjectLocation(std::int32_t index, IO::Location* location) const
{
    return GuardError([&] { return CopyField(otherObjects_->Get(index), &OtherObject::location, location); });
}

std::int32_t LibrarySet::GetOtherObjectUrl(std::int32_t index, KR::String* url) const
{
    return GuardError([&] { return CopyField(otherObjects_->Get(index), &OtherObject::url, url); });
}

std::int32_t LibrarySet::GetOtherObjectName(std::int32_t index, KR::String* name) const
{
    return GuardError([&] { return CopyField(otherObjects_->Get(index), &OtherObject::name, name); });
}

std::int32_t LibrarySet::SetOtherObjectLocation(std::int32_t index, const IO::Location& location)
{
    return GuardError([&] { return otherObjects_->SetLocation(index, location) ? KR::NoError : ErrBadIndex; });
}

std::int32_t LibrarySet::SetOtherObjectUrl(std::int32_t index, const KR::String& url)
{
    return GuardError([&] { return otherObjects_->SetUrl(index, url) ? KR::NoError : ErrBadIndex; });
}

}  // namespace LM
