// The LAN and URL cache locations, the locations that stand for a library's
// content, and the mounting of library files and their cache copies.
#include "IO/Folder.hpp"
#include "LibrarySet.hpp"
#include "LibrarySet/ActiveLibraryList.hpp"
#include "LibrarySet/Guard.hpp"

#include <utility>

namespace LM {

namespace {

// A cache root must be a well-formed local location.
bool IsValidCacheRoot(const IO::Location& location) noexcept
{
    return location.GetStatus() == KR::NoError && !location.IsEmpty() && location.IsLocal();
}

}  // namespace

// ----- Locations of a library ---------------------------------------------------

bool ActiveLibraryList::GetCacheCopyLocation(std::int32_t index, const IO::Location& cacheRoot,
                                             IO::Location* location) const
{
    const ActiveLibrary* library = Get(index);
    if (library == nullptr || location == nullptr)
        return false;
    if (library->permanent)
        *location = library->location;
    else
        *location = IO::Location(cacheRoot, IO::Name(library->name.Std()));
    return true;
}

bool ActiveLibraryList::GetContentLocation(std::int32_t index, bool useLanCache, const IO::Location& lanCache,
                                           const IO::Location& urlCache, IO::Location* location) const
{
    const ActiveLibrary* library = Get(index);
    if (library == nullptr || location == nullptr)
        return false;
    if (!library->url.IsEmpty())
        return GetCacheCopyLocation(index, urlCache, location);
    if (useLanCache)
        return GetCacheCopyLocation(index, lanCache, location);
    *location = library->location;
    return true;
}

void ActiveLibraryList::MountCacheCopy(std::int32_t index, const IO::Location& lanCache)
{
    ActiveLibrary* library = Get(index);
    if (library == nullptr || library->fileSystem == nullptr || library->cacheFileSystem != nullptr)
        return;
    // A permanent library is never replaced by a cache copy: its "copy" is
    // the library file itself, which its own file system serves already.
    if (library->permanent)
        return;
    IO::Location copy;
    GetCacheCopyLocation(index, lanCache, &copy);
    LibraryFileSystem fileSystem = MakeFileSystem(copy, true);
    if (fileSystem == nullptr) {
        library->ReleaseFileSystems();
        library->exists = false;
        return;
    }
    library->cacheFileSystem = std::move(fileSystem);
}

// ----- The set's cache settings ---------------------------------------------------

std::int32_t LibrarySet::GetLanCacheLocation(IO::Location* location)
{
    return GuardError([&] {
        if (location == nullptr)
            return KR::ErrParam;
        *location = lanCacheLocation_;
        return KR::NoError;
    });
}

std::int32_t LibrarySet::GetFtpCacheLocation(IO::Location* location)
{
    return GuardError([&] {
        if (location == nullptr)
            return KR::ErrParam;
        *location = urlCacheLocation_;
        return KR::NoError;
    });
}

std::int32_t LibrarySet::SetLanCacheLocation(const IO::Location& location)
{
    bool completed = false;
    KR::ErrorCode result = GuardError([&] {
        if (!IsValidCacheRoot(location)) {
            useLanCache_ = false;
            completed = true;
            return ErrBadIndex;
        }
        IO::Location copy(location);
        lanCacheLocation_ = std::move(copy);
        completed = true;
        return KR::NoError;
    });
    // An exception switches the LAN cache off as a refused location does.
    if (!completed && IsUsable())
        useLanCache_ = false;
    return result;
}

std::int32_t LibrarySet::SetFtpCacheLocation(const IO::Location& location)
{
    return GuardError([&] {
        if (!IsValidCacheRoot(location))
            return ErrBadIndex;
        IO::Location copy(location);
        urlCacheLocation_ = std::move(copy);
        return KR::NoError;
    });
}

bool LibrarySet::IsUseLanCache()
{
    return Guard(false, [&] { return useLanCache_; });
}

std::int32_t LibrarySet::SetUseLanCache(bool use)
{
    return GuardError([&] {
        if (!use) {
            useLanCache_ = false;
            return KR::NoError;
        }
        bool found = IO::Folder(lanCacheLocation_).GetStatus() == KR::NoError;
        useLanCache_ = found;
        return found ? KR::NoError : ErrBadIndex;
    });
}

void LibrarySet::RefreshMounted()
{
    if (!IsUsable())
        return;
    for (std::int32_t i = 0; i < activeLibraries_->GetCount(); ++i) {
        ActiveLibrary* library = activeLibraries_->Get(i);
        if (library->fileSystem == nullptr && !library->permanent && library->exists && library->url.IsEmpty()) {
            library->exists = IO::Folder(library->location).GetStatus() == KR::NoError;
            if (!library->exists) {
                library->fileSystem = ActiveLibraryList::MakeFileSystem(library->location, true);
                library->exists = library->fileSystem != nullptr;
            }
        }
        if (useLanCache_ && library->cacheFileSystem == nullptr)
            activeLibraries_->MountCacheCopy(i, lanCacheLocation_);
    }
}

}  // namespace LM
