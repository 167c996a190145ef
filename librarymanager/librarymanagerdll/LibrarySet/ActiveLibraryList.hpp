// The set's list of active libraries, ordered by name. Internal.
#pragma once

#include "Cache/LibraryMap.hpp"
#include "IO/FixedVFS.hpp"
#include "IO/Location.hpp"
#include "KR/String.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace LM {

// Deletes a file system made for a library after unmounting it (a file system
// that is not mounted is just deleted). One that may still be in the mount
// table is left alive rather than leaving the table pointing at freed memory.
struct UnmountAndDelete {
    void operator()(IO::FixedVFS* fileSystem) const noexcept;
};
using LibraryFileSystem = std::unique_ptr<IO::FixedVFS, UnmountAndDelete>;

// One library: a folder, a container file shown as a folder by a virtual
// file system, or a URL reached through a cache copy.
struct ActiveLibrary {
    IO::Location location;   // the folder or file; empty for a URL library
    KR::String url;          // empty for a folder or file library
    KR::String name;         // display name, sort key and folder name of the cache copy
    bool exists = false;     // found when added or refreshed; always true for a URL library
    bool vital = false;      // enumerated even after the user cancelled
    bool permanent = false;  // added as PermanentMode Permanent
    // Declared in this order so that the library's end releases the file
    // system before the cache file system, as ReleaseFileSystems does.
    LibraryFileSystem cacheFileSystem;  // made from the cache copy of the library file
    LibraryFileSystem fileSystem;       // made from the library file
    // What the library holds now, while the library is synchronised with
    // its cache copy; null otherwise.
    std::unique_ptr<LibraryMap> sourceMap;

    // Unmounts and deletes the file system, then the cache file system.
    void ReleaseFileSystems() noexcept
    {
        fileSystem.reset();
        cacheFileSystem.reset();
    }
};

class ActiveLibraryList {
public:
    static constexpr std::size_t GrowthStep = 50;

    ActiveLibraryList() = default;
    ActiveLibraryList(const ActiveLibraryList&) = delete;
    ActiveLibraryList& operator=(const ActiveLibraryList&) = delete;
    // Unmounts and deletes the file systems of every library.
    ~ActiveLibraryList();

    std::int32_t GetCount() const noexcept { return static_cast<std::int32_t>(libraries_.size()); }
    bool IsValidIndex(std::int32_t index) const noexcept { return index >= 0 && index < GetCount(); }
    // The library at `index`, or null for a bad index.
    ActiveLibrary* Get(std::int32_t index) noexcept;
    const ActiveLibrary* Get(std::int32_t index) const noexcept;
    // Libraries that a stored configuration without permanent libraries
    // keeps: URL libraries and libraries that are not permanent.
    std::int32_t GetUrlOrNotPermanentCount() const noexcept;

    // Adds a folder or file library (mounting the file system of a file at
    // its location when `mount` is true) and returns its index; the index of
    // the library that has this location already; -1 for an empty location.
    std::int32_t Add(const IO::Location& location, bool permanent, bool vital, bool mount);
    // Adds a URL library; its index, the index of the library with this URL,
    // or -1 for an empty URL.
    std::int32_t Add(const KR::String& url, bool permanent, bool vital);
    // False for a bad index.
    bool Remove(std::int32_t index);
    // Removes every library.
    void Clear() noexcept;

    // Index of the library with this location, or -1 (also for the empty
    // location).
    std::int32_t Find(const IO::Location& location) const noexcept;
    // Index of the first library that exists, is no URL library, is no file
    // and whose folder can be written, with its location; -1 when none.
    std::int32_t FindFirstWriteable(IO::Location* location) const;

    // The name of a library at `location`: the last name of the location, or
    // of the location a resource file system mount point shows.
    static KR::String MakeLocationName(const IO::Location& location);
    // The name of a URL library: the text between the last two '/' of the
    // URL (its last character, normally the closing '/', left out); empty
    // when that text has no '/'.
    static KR::String MakeUrlName(const KR::String& url);
    // The file system of the container file at `location`, from the
    // application's createFixedVFS, mounted at the location when `mount` is
    // true. Null when there is no file, no callback, the callback gives none
    // or mounting fails (the file system is then deleted).
    static LibraryFileSystem MakeFileSystem(const IO::Location& location, bool mount);

    // Where the copy of library `index` lies under `cacheRoot`: the library's
    // own location when it is permanent, else the cache root joined with the
    // library's name. False for a bad index.
    bool GetCacheCopyLocation(std::int32_t index, const IO::Location& cacheRoot, IO::Location* location) const;
    // The location that stands for the content of library `index`: for a URL
    // library its copy under the URL cache; otherwise, when the LAN cache is
    // in use, its copy under the LAN cache; otherwise its own location.
    bool GetContentLocation(std::int32_t index, bool useLanCache, const IO::Location& lanCache,
                            const IO::Location& urlCache, IO::Location* location) const;
    // For a library file that has a file system and no cache file system yet:
    // mounts the file system of its copy under the LAN cache. When that
    // fails the library loses both file systems and no longer exists.
    void MountCacheCopy(std::int32_t index, const IO::Location& lanCache);

    // A new record for a folder or file library (its exists flag, name and
    // file system determined as for Add), and for a URL library.
    static ActiveLibrary MakeLibrary(const IO::Location& location, bool permanent, bool vital, bool mount);
    static ActiveLibrary MakeLibrary(const KR::String& url, bool permanent, bool vital);

    // One library of a stored configuration: a URL library when `isUrl`,
    // else a folder or file library.
    struct Record {
        bool vital = false;
        bool permanent = false;
        bool isUrl = false;
        KR::String url;
        IO::Location location;
    };
    // Adds the libraries of `records` with the result of calling Add for
    // each, in order: empty and present locations and URLs add nothing, the
    // first of two equal ones wins, and each new library takes its place by
    // name. Runs in O((n + k) log k) for k records instead of O(n k). When
    // making a library throws, those made before it are added and the
    // exception passed on.
    void AddAll(const std::vector<Record>& records, bool mount);

private:
    std::int32_t Insert(ActiveLibrary&& library);

    std::vector<ActiveLibrary> libraries_;
};

}  // namespace LM
