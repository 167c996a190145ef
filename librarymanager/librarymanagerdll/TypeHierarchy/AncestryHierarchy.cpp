// The type hierarchy object: construction, copying and class information.
#include "AncestryHierarchy.hpp"

namespace LM {

// A constant-initialised static: it exists as soon as the module is loaded.
constinit const KR::ClassInfo AncestryHierarchy::classInfo("LM::AncestryHierarchy", KR::ClassVersion{1, 0},
                                                           &KR::Object::classInfo);

AncestryHierarchy::AncestryHierarchy(LibrarySet* set) : librarySet(set) {}

AncestryHierarchy::AncestryHierarchy(const AncestryHierarchy& other) = default;

AncestryHierarchy& AncestryHierarchy::operator=(const AncestryHierarchy& other) = default;

AncestryHierarchy::~AncestryHierarchy() = default;

const KR::ClassInfo* AncestryHierarchy::Get_ClassInfo() const
{
    return &classInfo;
}

const KR::ClassInfo* AncestryHierarchy::Get_ClassInfoStatic() noexcept
{
    return &classInfo;
}

}  // namespace LM
