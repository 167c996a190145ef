// Base class of persistent objects and their class information.
#pragma once

#include "KR/Definitions.hpp"

namespace KR {

class IChannel;
class OChannel;

struct ClassVersion {
    std::uint8_t major = 1;
    std::uint8_t minor = 0;

    friend bool operator==(ClassVersion, ClassVersion) = default;
};

// Name and version of a persistent class. Instances are static objects that
// live as long as the program.
class ClassInfo {
public:
    constexpr ClassInfo(const char* name, ClassVersion version, const ClassInfo* base = nullptr) noexcept
        : name_(name), version_(version), base_(base)
    {
    }
    ClassInfo(const ClassInfo&) = delete;
    ClassInfo& operator=(const ClassInfo&) = delete;

    const char* GetName() const noexcept { return name_; }
    ClassVersion GetVersion() const noexcept { return version_; }
    const ClassInfo* GetBase() const noexcept { return base_; }

    // True for this class and every class it derives from.
    bool IsA(const ClassInfo& other) const noexcept;

private:
    const char* name_;
    ClassVersion version_;
    const ClassInfo* base_;
};

// Virtual operations in this order: Get_ClassInfo, Clone, destructor, Read,
// Write, MethodCall, Print, Dump, CheckState.
class Object {
public:
    static const ClassInfo classInfo;  // "KR::Object", 1.0

    Object() = default;
    Object(const Object&) = default;
    Object& operator=(const Object&) = default;

    virtual const ClassInfo* Get_ClassInfo() const;
    // A new copy of the object, or null when the class cannot be copied.
    virtual Object* Clone() const;
    virtual ~Object();
    // Read and write the object's data on a channel; 0 for success.
    // The defaults return ErrNotImplemented.
    virtual ErrorCode Read(IChannel& channel);
    virtual ErrorCode Write(OChannel& channel) const;
    // A generic entry for commands that have no operation of their own;
    // the default returns ErrNotImplemented.
    virtual ErrorCode MethodCall(std::int32_t selector, void* argument);
    // A short human-readable form (default: the class name) and a detailed
    // one (default: Print).
    virtual void Print(OChannel& channel) const;
    virtual void Dump(OChannel& channel) const;
    // True when the object's invariants hold.
    virtual bool CheckState() const;
};

}  // namespace KR
