// The library set's operations on its active libraries.
#include "LibrarySet.hpp"

#include "LibrarySet/ActiveLibraryList.hpp"
#include "LibrarySet/Guard.hpp"

namespace LM {

std::int32_t LibrarySet::AddActiveLibrary(const IO::Location& location, PermanentMode mode, bool vital, bool mount)
{
    return Guard<std::int32_t>(-1, [&] {
        enumerated_ = false;
        return activeLibraries_->Add(location, mode == Permanent, vital, mount);
    });
}

std::int32_t LibrarySet::AddActiveLibrary(const KR::String& url, PermanentMode mode, bool vital)
{
    return Guard<std::int32_t>(-1, [&] {
        enumerated_ = false;
        return activeLibraries_->Add(url, mode == Permanent, vital);
    });
}

std::int32_t LibrarySet::RemoveActiveLibrary(std::int32_t index)
{
    if (!IsUsable())
        return ErrSetUnusable;
    return Guard<std::int32_t>(ErrBadIndex, [&] {
        enumerated_ = false;
        return activeLibraries_->Remove(index) ? KR::NoError : ErrBadIndex;
    });
}

std::int32_t LibrarySet::GetFirstWrittableActiveLibrary(IO::Location* location)
{
    return Guard<std::int32_t>(-1, [&] { return activeLibraries_->FindFirstWriteable(location); });
}

std::int32_t LibrarySet::GetActiveLibraryNum() const
{
    return Guard<std::int32_t>(-1, [&] { return activeLibraries_->GetCount(); });
}

std::int32_t LibrarySet::GetActiveLibraryIndex(const IO::Location& location)
{
    return Guard<std::int32_t>(-1, [&] { return activeLibraries_->Find(location); });
}

std::int32_t LibrarySet::GetActiveLibraryLocation(std::int32_t index, IO::Location* location) const
{
    return GuardError([&] { return CopyField(activeLibraries_->Get(index), &ActiveLibrary::location, location); });
}

std::int32_t LibrarySet::GetActiveLibraryName(std::int32_t index, KR::String* name) const
{
    return GuardError([&] { return CopyField(activeLibraries_->Get(index), &ActiveLibrary::name, name); });
}

std::int32_t LibrarySet::GetActiveLibraryUrl(std::int32_t index, KR::String* url) const
{
    return GuardError([&] { return CopyField(activeLibraries_->Get(index), &ActiveLibrary::url, url); });
}

bool LibrarySet::IsExistActiveLibrary(std::int32_t index)
{
    return Guard(false, [&] {
        const ActiveLibrary* library = activeLibraries_->Get(index);
        return library != nullptr && library->exists;
    });
}

bool LibrarySet::IsVitalActiveLibrary(std::int32_t index)
{
    return Guard(false, [&] {
        const ActiveLibrary* library = activeLibraries_->Get(index);
        return library != nullptr && library->vital;
    });
}

bool LibrarySet::IsUrlActiveLibrary(std::int32_t index) const
{
    return Guard(false, [&] {
        const ActiveLibrary* library = activeLibraries_->Get(index);
        return library != nullptr && !library->url.IsEmpty();
    });
}

bool LibrarySet::IsPermanentActiveLibrary(std::int32_t index) const
{
    return Guard(false, [&] {
        const ActiveLibrary* library = activeLibraries_->Get(index);
        return library != nullptr && library->permanent;
    });
}

}  // namespace LM
