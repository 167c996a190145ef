// Folders.
//
// A Folder names a folder at a location; it holds no system resource. On a
// location served by a mounted FixedVFS it reads the mounted content, and
// every change is refused with ErrReadOnly.
#pragma once

#include "IO/Errors.hpp"
#include "IO/Location.hpp"

#include <vector>

namespace IO {

enum class OnNotFound : std::int32_t {
    Report = 0,  // a missing folder or file gives ErrNotFound in GetStatus
    Create = 1,  // a missing folder is created with its missing parents; a missing file is created empty
};

// What Delete does with the entry:
enum class DataSafety : std::int32_t {
    DeleteNow = 0,    // removes it (a folder with everything below it) at once
    MoveToTrash = 1,  // moves it into the user's trash folder, from where it can be restored
};

struct FolderEntry {
    Location location;
    Name name;
    bool isFolder = false;
};

class Folder {
public:
    Folder() = default;  // refers to nothing: GetStatus gives ErrBadLocation
    explicit Folder(const Location& location, OnNotFound onNotFound = OnNotFound::Report);

    // 0 when a folder is at the location (or was created); ErrNotFound,
    // ErrNotAFolder, ErrBadLocation, ErrNotLocal, ErrAccessDenied otherwise
    // (ErrReadOnly when a missing folder would have to be created inside a
    // mounted file system).
    KR::ErrorCode GetStatus() const noexcept { return status_; }
    const Location& GetLocation() const noexcept { return location_; }

    // True when entries can be created in the folder: it exists, is not
    // served by a mounted file system and the system grants write access.
    bool IsWriteable() const;

    // Creates the subfolder `name`. ErrAlreadyExists when a folder of that
    // name is there already (`*entry` is filled all the same);
    // ErrNotAFolder when a file of that name is there.
    KR::ErrorCode CreateFolder(const Name& name, FolderEntry* entry = nullptr);

    // Copies the entry `name` (a file, or a folder with everything below it)
    // into `target` under `targetName`; see FileSystem::Copy.
    KR::ErrorCode Copy(const Name& name, Folder& target, const Name& targetName);

    // Deletes the entry `name`; see FileSystem::Delete.
    KR::ErrorCode Delete(const Name& name, DataSafety safety);

    // Whether an entry `name` is there and whether it is a folder.
    bool Contains(const Name& name, bool* isFolder = nullptr) const;

    // The entries of the folder sorted by name (byte order).
    KR::ErrorCode List(std::vector<FolderEntry>* entries) const;

private:
    Location location_;
    KR::ErrorCode status_ = ErrBadLocation;
};

}  // namespace IO
