// Walks a folder tree.
//
// Do() visits the entries of the root folder and of every folder entered,
// depth first, each folder's entries in sorted name order (byte order), so
// every walk of the same tree is the same. For each entry:
//   1. EntryFound(name, isFolder); false passes the entry over.
//   2. A symbolic link: LinkFound(name); true follows it (it is then handled
//      as the entry it points to), false passes it over. Links are not
//      followed by default. A followed link that leads back into a folder
//      being walked is not entered again, so a link loop never hangs a walk.
//   3. A file: FileFound(name); true stops the walk (as Stop() does).
//   4. A folder: FolderFound(name); true enters it: FolderEntered(name,
//      folder), its entries, FolderExited(name, folder). The root itself is
//      not reported by FolderEntered/FolderExited.
// A location where a FixedVFS is mounted is a folder to the walk (its mounted
// content), whatever is stored there. While a callback runs, GetParent()
// gives the folder whose entry it is. Stop() ends the walk: no callback
// follows. Folders nested deeper than MaxDepth below the root are not entered.
// Do() returns 0, or the error of reading the root folder; a subfolder that
// cannot be read is passed over (GetSkippedCount tells how many).
#pragma once

#include "IO/Folder.hpp"

#include <memory>
#include <vector>

namespace IO {

class TreeEnumerator {
public:
    static constexpr std::uint32_t MaxDepth = 256;

    explicit TreeEnumerator(const Folder& root);
    TreeEnumerator(const TreeEnumerator&) = delete;
    TreeEnumerator& operator=(const TreeEnumerator&) = delete;
    virtual ~TreeEnumerator();

    // Folder listings that one walk keeps for a later walk of the same tree
    // (a counting walk, then the walk that uses what it counted), so that
    // each folder is read from the disk once. The later walk takes a
    // listing only when the folder is still the one listed and its entries
    // have not changed since; otherwise, and
    // for a folder not listed before, it lists the folder itself.
    class Listings;
    // Walks fill and take listings from `listings` (null: none); it must
    // outlive the walks that use it.
    void ShareListings(Listings* listings) noexcept { listings_ = listings; }

    KR::ErrorCode Do();
    void Stop() noexcept { stopped_ = true; }
    bool IsStopped() const noexcept { return stopped_; }

    const Folder& GetRoot() const noexcept { return root_; }
    // The folder being walked; the root outside the walk.
    Folder& GetParent() noexcept;
    std::uint32_t GetSkippedCount() const noexcept { return skipped_; }

protected:
    virtual bool EntryFound(const Name& name, bool isFolder);  // default: true
    virtual bool FileFound(const Name& name);                  // default: false
    virtual bool FolderFound(const Name& name);                // default: true
    virtual bool LinkFound(const Name& name);                  // default: false
    virtual void FolderEntered(const Name& name, Folder& folder);
    virtual void FolderExited(const Name& name, Folder& folder);
    // Around the visit of every folder's entries, the root's included:
    // FilesListed gives the names of its files (entries that are files, not
    // links), in the order in which they will be met, and the descriptor of
    // the real folder that the walk holds (-1: none, such as a folder of a
    // mounted file system), valid until FilesWalked. FilesWalked follows
    // the visit, also when it was stopped. Default: nothing.
    virtual void FilesListed(int folderFd, const std::vector<const Name*>& files);
    virtual void FilesWalked();

    // The modification time of the file `name` of the folder being walked,
    // as File::GetModificationTime gives it. Read relative to the folder
    // that the walk holds open where it holds one, so a large walk spends no
    // path lookup and no location per file.
    KR::ErrorCode GetFileTime(const Name& name, std::int32_t* time);

private:
    struct Walk;
    Folder root_;
    Folder* current_ = nullptr;
    Listings* listings_ = nullptr;
    bool stopped_ = false;
    std::uint32_t skipped_ = 0;
    int heldFd_ = -1;  // descriptor of the real folder being walked; -1: none
};

// Owner of the listings shared by walks (see TreeEnumerator::ShareListings).
class TreeEnumerator::Listings {
public:
    Listings();
    Listings(const Listings&) = delete;
    Listings& operator=(const Listings&) = delete;
    ~Listings();

    struct Store;
    std::unique_ptr<Store> store;
};

}  // namespace IO
