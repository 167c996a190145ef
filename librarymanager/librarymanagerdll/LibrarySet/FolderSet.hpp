// The folder set: the folders met while enumerating the active libraries,
// flattened into an array so that the application can show the libraries as
// a folder tree and file every library part under its folder.
#pragma once

#include "IO/Location.hpp"
#include "KR/String.hpp"
#include "LMExport.hpp"

#include <unordered_map>
#include <vector>

namespace LM {

struct LM_API FolderItem {
    std::int32_t parent = -1;              // index of the parent item; -1 for the root item
    std::int32_t activeLibraryIndex = -1;  // library whose tree holds the folder; -1 for the root and closing items
    std::int32_t treeItemId = 0;           // stored for the application
    bool expandState = false;              // stored for the application
    IO::Location location;                 // empty for the root and closing items
    KR::String name;                       // as shown
};

// Items are indexed from 0. Item 0 is always the root item. After an
// enumeration the set ends with two closing items: the folder of the parts
// that lie in no folder of the set, then the folder of the placeholder parts.
class LM_API FolderSet {
public:
    // A set holding only the root item, named `rootName`.
    explicit FolderSet(const char* rootName);

    std::int32_t GetCount() const noexcept;
    // Item `index`, or null for an index outside 0 .. count - 1.
    const FolderItem* GetItem(std::int32_t index) const noexcept;
    // The same, for changing the item. FindFolderOfFile keeps an index of
    // the item locations that this call makes it rebuild, so change an
    // item's location right after taking the pointer.
    FolderItem* GetItem(std::int32_t index) noexcept;

    // Appends an item and returns its index. The parent must be an item of
    // the set (0 .. count - 1); KR::IllegalArgumentException otherwise.
    std::int32_t AddFolder(const IO::Location& location, const KR::String& name, std::int32_t parent,
                           std::int32_t activeLibraryIndex);

    // Index of the folder that holds the file at `fileLocation`: the first
    // item whose location equals the file's location without its last name;
    // without one (or for a location that has no last name), the first
    // closing item (count - 2).
    std::int32_t FindFolderOfFile(const IO::Location& fileLocation) const;

    // The end of an enumeration: orders the items (root first, then by active
    // library index, then by the parent's index before ordering, then by
    // name in name order), appends the two closing items (named
    // `firstClosingName` and `secondClosingName`, parent 0), makes every parent
    // link name the parent's new index and sets every tree item id to 0.
    // `*oldToNew` receives, for each index before ordering, the new index.
    void OrderAndClose(const char* firstClosingName, const char* secondClosingName,
                       std::vector<std::int32_t>* oldToNew);

private:
    void RebuildLocationIndex() const;

    std::vector<FolderItem> items_;
    // Location -> index of the first item at that location; valid while
    // locationIndexValid_ is true.
    mutable std::unordered_map<IO::Location, std::int32_t> locationIndex_;
    mutable bool locationIndexValid_ = false;
};

}  // namespace LM
