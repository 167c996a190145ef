// The list of other objects.
#include "LibrarySet/OtherObjectList.hpp"

#include "KR/Text.hpp"

#include <utility>

namespace LM {

OtherObject* OtherObjectList::Get(std::int32_t index) noexcept
{
    return IsValidIndex(index) ? &objects_[static_cast<std::size_t>(index)] : nullptr;
}

const OtherObject* OtherObjectList::Get(std::int32_t index) const noexcept
{
    return IsValidIndex(index) ? &objects_[static_cast<std::size_t>(index)] : nullptr;
}

KR::String OtherObjectList::MakeName(const OtherObject& object)
{
    if (!object.urlFlag) {
        IO::Name name;
        object.location.GetLastLocalName(&name);
        return KR::String(name.Std());
    }
    const char* text = object.url.ToCStr();
    auto length = static_cast<std::int32_t>(object.url.GetLength());
    const char* separator = KR::ch04Manager.FindLastChar(text, length, '\\');
    if (separator == nullptr)
        separator = KR::ch04Manager.FindLastChar(text, length, '/');
    if (separator == nullptr)
        return object.url;
    const char* first = separator + 1;
    return KR::String(first, static_cast<std::size_t>(text + length - first));
}

std::int32_t OtherObjectList::Add(const IO::Location& location)
{
    if (location.IsEmpty())
        return -1;
    for (std::size_t i = 0; i < objects_.size(); ++i)
        if (objects_[i].location == location)
            return static_cast<std::int32_t>(i);
    OtherObject object;
    object.location = location;
    object.name = MakeName(object);
    return Insert(std::move(object));
}

std::int32_t OtherObjectList::Add(const KR::String& url)
{
    if (url.IsEmpty())
        return -1;
    for (std::size_t i = 0; i < objects_.size(); ++i)
        if (objects_[i].url == url)
            return static_cast<std::int32_t>(i);
    OtherObject object;
    object.url = url;
    object.urlFlag = true;
    object.name = MakeName(object);
    return Insert(std::move(object));
}

std::int32_t OtherObjectList::Insert(OtherObject&& object)
{
    std::size_t position = 0;
    while (position < objects_.size() &&
           KR::ch04Manager.Compare(objects_[position].name.ToCStr(), object.name.ToCStr(), 1) < 0)
        ++position;
    objects_.insert(objects_.begin() + static_cast<std::ptrdiff_t>(position), std::move(object));
    return static_cast<std::int32_t>(position);
}

bool OtherObjectList::SetLocation(std::int32_t index, const IO::Location& location)
{
    OtherObject* object = Get(index);
    if (object == nullptr)
        return false;
    // Built on a copy, so that a failure leaves the object as it was.
    OtherObject changed = *object;
    changed.location = location;
    changed.name = MakeName(changed);
    *object = std::move(changed);
    return true;
}

bool OtherObjectList::SetUrl(std::int32_t index, const KR::String& url)
{
    OtherObject* object = Get(index);
    if (object == nullptr)
        return false;
    OtherObject changed = *object;
    changed.url = url;
    changed.name = MakeName(changed);
    changed.urlFlag = !url.IsEmpty();
    *object = std::move(changed);
    return true;
}

}  // namespace LM
