// The folder set.
#include "LibrarySet/FolderSet.hpp"

#include "KR/Exceptions.hpp"
#include "KR/Text.hpp"

#include <algorithm>
#include <numeric>

namespace LM {

FolderSet::FolderSet(const char* rootName)
{
    FolderItem root;
    root.name = rootName;
    items_.push_back(std::move(root));
}

std::int32_t FolderSet::GetCount() const noexcept
{
    return static_cast<std::int32_t>(items_.size());
}

const FolderItem* FolderSet::GetItem(std::int32_t index) const noexcept
{
    return index >= 0 && index < GetCount() ? &items_[static_cast<std::size_t>(index)] : nullptr;
}

FolderItem* FolderSet::GetItem(std::int32_t index) noexcept
{
    if (index < 0 || index >= GetCount())
        return nullptr;
    locationIndexValid_ = false;
    return &items_[static_cast<std::size_t>(index)];
}

std::int32_t FolderSet::AddFolder(const IO::Location& location, const KR::String& name, std::int32_t parent,
                                  std::int32_t activeLibraryIndex)
{
    if (parent < 0 || parent >= GetCount())
        throw KR::IllegalArgumentException("The parent is no item of the folder set.", "FolderSet::AddFolder");
    FolderItem item;
    item.parent = parent;
    item.activeLibraryIndex = activeLibraryIndex;
    item.location = location;
    item.name = name;
    auto index = GetCount();
    if (locationIndexValid_) {
        // Keep the index only when it can follow; a failure here must not
        // leave it claiming an item that was never appended.
        locationIndexValid_ = false;
        locationIndex_.emplace(item.location, index);
        items_.push_back(std::move(item));
        locationIndexValid_ = true;
    } else {
        items_.push_back(std::move(item));
    }
    return index;
}

void FolderSet::RebuildLocationIndex() const
{
    locationIndex_.clear();
    locationIndex_.reserve(items_.size());
    for (std::size_t i = 0; i < items_.size(); ++i)
        locationIndex_.emplace(items_[i].location, static_cast<std::int32_t>(i));  // keeps the first
    locationIndexValid_ = true;
}

std::int32_t FolderSet::FindFolderOfFile(const IO::Location& fileLocation) const
{
    const std::int32_t none = GetCount() - 2;
    IO::Location folder(fileLocation);
    if (folder.IsEmpty() || folder.DeleteLastLocalName() != KR::NoError)
        return none;
    if (!locationIndexValid_) {
        try {
            RebuildLocationIndex();
        } catch (...) {
            locationIndex_.clear();
            locationIndexValid_ = false;
        }
    }
    if (locationIndexValid_) {
        auto found = locationIndex_.find(folder);
        return found != locationIndex_.end() ? found->second : none;
    }
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i].location == folder)
            return static_cast<std::int32_t>(i);
    return none;
}

void FolderSet::OrderAndClose(const char* firstClosingName, const char* secondClosingName,
                              std::vector<std::int32_t>* oldToNew)
{
    const std::size_t n = items_.size();

    // Everything that can fail is made before the items are touched.
    FolderItem firstClosing;
    firstClosing.parent = 0;
    firstClosing.name = firstClosingName;
    FolderItem secondClosing;
    secondClosing.parent = 0;
    secondClosing.name = secondClosingName;
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::vector<std::int32_t> map(n, -1);
    std::vector<FolderItem> ordered;
    ordered.reserve(n + 2);

    // Root first, then by library, by the parent's index as it is before the
    // ordering, by name. Items whose keys tie keep their present order.
    std::stable_sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) {
        const FolderItem& x = items_[a];
        const FolderItem& y = items_[b];
        bool xRoot = x.parent < 0;
        bool yRoot = y.parent < 0;
        if (xRoot != yRoot)
            return xRoot;
        if (x.activeLibraryIndex != y.activeLibraryIndex)
            return x.activeLibraryIndex < y.activeLibraryIndex;
        if (x.parent != y.parent)
            return x.parent < y.parent;
        return KR::ch04Manager.Compare(x.name.ToCStr(), -1, y.name.ToCStr(), -1, 1, 0) < 0;
    });

    for (std::size_t k = 0; k < n; ++k) {
        map[order[k]] = static_cast<std::int32_t>(k);
        ordered.push_back(std::move(items_[order[k]]));
    }
    // The parents were compared by their old indices; now every link is
    // made to name the parent's new place.
    for (FolderItem& item : ordered) {
        if (item.parent >= 0 && static_cast<std::size_t>(item.parent) < n)
            item.parent = map[static_cast<std::size_t>(item.parent)];
        item.treeItemId = 0;
    }
    ordered.push_back(std::move(firstClosing));
    ordered.push_back(std::move(secondClosing));

    items_.swap(ordered);
    locationIndexValid_ = false;
    locationIndex_.clear();
    if (oldToNew != nullptr)
        oldToNew->swap(map);
}

}  // namespace LM
