// The list of active libraries.
#include "LibrarySet/ActiveLibraryList.hpp"

#include "IO/File.hpp"
#include "IO/FileSystem.hpp"
#include "IO/Folder.hpp"
#include "KR/Text.hpp"
#include "KRUtils/KRUtils.hpp"
#include "LibrarySet/ModuleState.hpp"

#include <utility>

namespace LM {

void UnmountAndDelete::operator()(IO::FixedVFS* fileSystem) const noexcept
{
    KR::ErrorCode error = IO::ErrSystem;
    try {
        error = IO::fileSystem.Unmount(*fileSystem);
    } catch (...) {
    }
    if (error == KR::NoError || error == IO::ErrNotMounted)
        delete fileSystem;
}

ActiveLibraryList::~ActiveLibraryList() = default;

ActiveLibrary* ActiveLibraryList::Get(std::int32_t index) noexcept
{
    return IsValidIndex(index) ? &libraries_[static_cast<std::size_t>(index)] : nullptr;
}

const ActiveLibrary* ActiveLibraryList::Get(std::int32_t index) const noexcept
{
    return IsValidIndex(index) ? &libraries_[static_cast<std::size_t>(index)] : nullptr;
}

std::int32_t ActiveLibraryList::GetUrlOrNotPermanentCount() const noexcept
{
    std::int32_t count = 0;
    for (const ActiveLibrary& library : libraries_)
        if (!library.url.IsEmpty() || !library.permanent)
            ++count;
    return count;
}

KR::String ActiveLibraryList::MakeLocationName(const IO::Location& location)
{
    IO::Name name;
    if (IsResourceFileSystemMountPoint(location))
        GetResourceFileSystemLocationFromMountPoint(location).GetLastLocalName(&name);
    else
        location.GetLastLocalName(&name);
    return KR::String(name.Std());
}

KR::String ActiveLibraryList::MakeUrlName(const KR::String& url)
{
    if (url.GetLength() < 2)
        return KR::String();
    const char* text = url.ToCStr();
    auto searched = static_cast<std::int32_t>(url.GetLength() - 1);
    const char* slash = KR::ch04Manager.FindLastChar(text, searched, '/');
    if (slash == nullptr)
        return KR::String();
    const char* first = slash + 1;
    return KR::String(first, static_cast<std::size_t>(text + searched - first));
}

LibraryFileSystem ActiveLibraryList::MakeFileSystem(const IO::Location& location, bool mount)
{
    auto create = GetModuleState().callBacks.createFixedVFS;
    if (create == nullptr || IO::File(location).GetStatus() != KR::NoError)
        return nullptr;
    IO::FixedVFS* made = create(location);
    if (made == nullptr || !mount)
        return LibraryFileSystem(made);
    // Deleted as it is, without an unmount, until it is mounted.
    std::unique_ptr<IO::FixedVFS> unmounted(made);
    if (IO::fileSystem.Mount(*made, location) != KR::NoError)
        return nullptr;
    return LibraryFileSystem(unmounted.release());
}

std::int32_t ActiveLibraryList::Find(const IO::Location& location) const noexcept
{
    // URL libraries have no location; the empty location names none of them.
    if (location.IsEmpty())
        return -1;
    for (std::size_t i = 0; i < libraries_.size(); ++i)
        if (libraries_[i].location == location)
            return static_cast<std::int32_t>(i);
    return -1;
}

std::int32_t ActiveLibraryList::Add(const IO::Location& location, bool permanent, bool vital, bool mount)
{
    if (location.IsEmpty())
        return -1;
    std::int32_t present = Find(location);
    if (present >= 0)
        return present;
    return Insert(MakeLibrary(location, permanent, vital, mount));
}

std::int32_t ActiveLibraryList::Add(const KR::String& url, bool permanent, bool vital)
{
    if (url.IsEmpty())
        return -1;
    for (std::size_t i = 0; i < libraries_.size(); ++i)
        if (libraries_[i].url == url)
            return static_cast<std::int32_t>(i);
    return Insert(MakeLibrary(url, permanent, vital));
}

ActiveLibrary ActiveLibraryList::MakeLibrary(const IO::Location& location, bool permanent, bool vital, bool mount)
{
    ActiveLibrary library;
    library.location = location;
    library.permanent = permanent;
    library.vital = vital;
    library.exists = IO::Folder(location).GetStatus() == KR::NoError;
    library.name = MakeLocationName(location);
    if (!library.exists) {
        library.fileSystem = MakeFileSystem(location, mount);
        library.exists = library.fileSystem != nullptr;
    }
    return library;
}

ActiveLibrary ActiveLibraryList::MakeLibrary(const KR::String& url, bool permanent, bool vital)
{
    ActiveLibrary library;
    library.url = url;
    library.permanent = permanent;
    library.vital = vital;
    library.exists = true;
    library.name = MakeUrlName(url);
    return library;
}

std::int32_t ActiveLibraryList::Insert(ActiveLibrary&& library)
{
    std::size_t position = 0;
    while (position < libraries_.size() &&
           KR::ch04Manager.Compare(libraries_[position].name.ToCStr(), library.name.ToCStr(), 1) < 0)
        ++position;
    if (libraries_.size() == libraries_.capacity())
        libraries_.reserve(libraries_.capacity() + GrowthStep);
    // With room reserved and a move that cannot throw, the insertion itself
    // cannot fail half-way.
    libraries_.insert(libraries_.begin() + static_cast<std::ptrdiff_t>(position), std::move(library));
    return static_cast<std::int32_t>(position);
}

bool ActiveLibraryList::Remove(std::int32_t index)
{
    if (!IsValidIndex(index))
        return false;
    auto at = libraries_.begin() + index;
    at->ReleaseFileSystems();
    libraries_.erase(at);
    return true;
}

void ActiveLibraryList::Clear() noexcept
{
    libraries_.clear();
}

std::int32_t ActiveLibraryList::FindFirstWriteable(IO::Location* location) const
{
    if (location == nullptr)
        return -1;
    location->Clear();
    for (std::size_t i = 0; i < libraries_.size(); ++i) {
        const ActiveLibrary& library = libraries_[i];
        if (!library.exists || !library.url.IsEmpty())
            continue;
        // A library that is a file (a container, mounted or not) is no
        // folder to write into.
        if (IO::File(library.location).GetStatus() == KR::NoError)
            continue;
        if (!IO::Folder(library.location).IsWriteable())
            continue;
        *location = library.location;
        return static_cast<std::int32_t>(i);
    }
    return -1;
}

}  // namespace LM
