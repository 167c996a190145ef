// The folder set: the folders met while enumerating the active libraries,
// flattened into an array so that the application can show the libraries as
// a folder tree and file every library part under its folder.
#pragma once

#include "IO/Location.hpp"
#include "KR/String.hpp"
#include "LMExport.hpp"

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
    FolderItem* GetItem(std::int32_t index) noexcept;

    // Appends an item and returns its index.
    std::int32_t AddFolder(const IO::Location& location, const KR::String& name, std::int32_t parent,
                           std::int32_t activeLibraryIndex);

    // Index of the folder that holds the file at `fileLocation`: the first
    // item whose location equals the file's location without its last name;
    // without one, the first closing item (count - 2).
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
    std::vector<FolderItem> items_;
};

}  // namespace LM
