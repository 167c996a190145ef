#include "KR/Object.hpp"

#include "KR/Channel.hpp"

#include <cstring>

namespace KR {

bool ClassInfo::IsA(const ClassInfo& other) const noexcept
{
    for (const ClassInfo* info = this; info != nullptr; info = info->base_) {
        if (info == &other)
            return true;
        // The same class may have more than one ClassInfo when its code is
        // linked into several modules; the name identifies it.
        if (info->name_ != nullptr && other.name_ != nullptr && std::strcmp(info->name_, other.name_) == 0)
            return true;
    }
    return false;
}

const ClassInfo Object::classInfo("KR::Object", ClassVersion{1, 0});

const ClassInfo* Object::Get_ClassInfo() const
{
    return &classInfo;
}

Object* Object::Clone() const
{
    // A derived class that does not say how to copy itself must not be
    // sliced into a bare Object.
    return nullptr;
}

Object::~Object() = default;

ErrorCode Object::Read(IChannel&)
{
    return ErrNotImplemented;
}

ErrorCode Object::Write(OChannel&) const
{
    return ErrNotImplemented;
}

ErrorCode Object::MethodCall(std::int32_t, void*)
{
    return ErrNotImplemented;
}

void Object::Print(OChannel& channel) const
{
    const ClassInfo* info = Get_ClassInfo();
    const char* name = info != nullptr && info->GetName() != nullptr ? info->GetName() : "";
    channel.WriteBin(name, std::strlen(name));
}

void Object::Dump(OChannel& channel) const
{
    Print(channel);
}

bool Object::CheckState() const
{
    return true;
}

}  // namespace KR
