// The type hierarchy object: construction, copying, class information and
// its channel format.
#include "AncestryHierarchy.hpp"

#include "KR/Channel.hpp"
#include "LibrarySet.hpp"

namespace LM {

// A constant-initialised static: it exists as soon as the module is loaded.
constinit const KR::ClassInfo AncestryHierarchy::classInfo("LM::AncestryHierarchy", KR::ClassVersion{1, 0},
                                                           &KR::Object::classInfo);

TypeHierarchyExporter::~TypeHierarchyExporter() = default;
TypeHierarchyExporter::ICompare::~ICompare() = default;

AncestryHierarchy::AncestryHierarchy(LibrarySet* set) : librarySet(set) {}

// The work data of a running Build belong to that run, not to the copy.
AncestryHierarchy::AncestryHierarchy(const AncestryHierarchy& other) : Paths(other), librarySet(other.librarySet) {}

AncestryHierarchy& AncestryHierarchy::operator=(const AncestryHierarchy& other)
{
    if (this != &other) {
        Paths::operator=(other);
        librarySet = other.librarySet;
    }
    return *this;
}

AncestryHierarchy::~AncestryHierarchy() = default;

const KR::ClassInfo* AncestryHierarchy::Get_ClassInfo() const
{
    return &classInfo;
}

const KR::ClassInfo* AncestryHierarchy::Get_ClassInfoStatic() noexcept
{
    return &classInfo;
}

KR::ErrorCode AncestryHierarchy::Write(KR::OChannel& channel) const
{
    KR::OutputFrame frame(channel, classInfo);
    KR::ErrorCode err = frame.GetStatus();
    if (err == KR::NoError)
        err = Paths::Write(channel);
    const KR::ErrorCode closed = frame.Close();
    return err != KR::NoError ? err : closed;
}

KR::ErrorCode AncestryHierarchy::Read(KR::IChannel& channel)
{
    KR::InputFrame frame(channel, classInfo);
    if (const KR::ErrorCode err = frame.GetStatus(); err != KR::NoError)
        return err;
    // Paths::Read empties the tree first and leaves a fresh one on failure.
    const KR::ErrorCode err = Paths::Read(channel);
    if (err != KR::NoError)
        return err;
    // A tree whose frame does not end where it should is not taken either.
    const KR::ErrorCode closed = frame.Close();
    if (closed != KR::NoError)
        Clear();
    return closed;
}

KR::ErrorCode AncestryHierarchy::UpdatePartParameters(std::int32_t part, std::int32_t parent, bool mergeMode)
{
    return librarySet->UpdateSymbolParameters(part, parent, mergeMode);
}

}  // namespace LM
