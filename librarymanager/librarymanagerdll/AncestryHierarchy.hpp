// The type hierarchy of all library parts of a library set: a path tree in
// which every library part with an ancestry holds one path, its ancestors
// from the root-most one down followed by its own UnID.
#pragma once

#include "KR/GUID.hpp"
#include "KR/Object.hpp"
#include "LMExport.hpp"
#include "Paths.hpp"

namespace LM {

class LibrarySet;

class LM_API AncestryHierarchy : public KR::Paths<KR::UnID, Cmp_UnIDs> {
public:
    // "LM::AncestryHierarchy", class version 1.0.
    static const KR::ClassInfo classInfo;

    // An empty tree (root only) for `librarySet`, which it does not own.
    explicit AncestryHierarchy(LibrarySet* librarySet);
    // Copies the tree and the set pointer.
    AncestryHierarchy(const AncestryHierarchy& other);
    AncestryHierarchy& operator=(const AncestryHierarchy& other);
    ~AncestryHierarchy() override;

    const KR::ClassInfo* Get_ClassInfo() const override;
    static const KR::ClassInfo* Get_ClassInfoStatic() noexcept;

    // The set whose part table the hierarchy describes.
    LibrarySet* GetLibrarySet() const noexcept { return librarySet; }

private:
    LibrarySet* librarySet;
};

}  // namespace LM
