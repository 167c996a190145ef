// The declared ancestry of one library part: the UnIDs of the parts it
// derives from, root-most first and immediate parent last, and whether the
// part is a template.
//
// In a library part file the ancestry is the section 'ANCS', a block of
// 32 * (count + 1) bytes in the byte order of the platform that wrote it:
//   offset 0       template flag (1 or 0; any non-zero byte reads as template)
//   offset 1..3    zero
//   offset 4       unsigned 32-bit count of ancestors
//   offset 8..31   zero
//   offset 32 * k  ancestor k (k = 1 .. count): main GUID, revision GUID
// Read and Write put exactly these bytes on a channel, in this platform's
// byte order, without a frame.
#pragma once

#include "LMExport.hpp"

#include "KR/Channel.hpp"
#include "KR/Containers.hpp"
#include "KR/GUID.hpp"
#include "KR/Object.hpp"

#include <cstdint>

namespace LM {

class LM_API AncestryInfo : public KR::Object {
public:
    // Size of the section header and of one ancestor record, in bytes.
    static constexpr std::size_t SectionRecordSize = 32;

    AncestryInfo();
    // Fills the info from a section; a section that cannot be taken leaves
    // it empty.
    explicit AncestryInfo(char** section);
    AncestryInfo(const AncestryInfo& other);
    AncestryInfo& operator=(const AncestryInfo& other);
    ~AncestryInfo() override;

    std::uint32_t GetAncestorsCount() const;
    // Address of ancestor 1, the others following it; null when empty.
    const KR::UnID* GetAncestorsRef() const;
    // Ancestor `index` (1 .. count). An index outside that range is printed
    // on the debug channel and gives the null UnID.
    const KR::UnID& GetAncestorRef(std::uint32_t index) const;
    // Overwrites ancestor `index` (1 .. count); never appends.
    KR::ErrorCode SetAncestor(std::uint32_t index, const KR::UnID& id);
    KR::ErrorCode Append(const KR::UnID& id);
    // The immediate parent; the null UnID when there are no ancestors.
    KR::UnID GetParentID() const;
    // True when an ancestor equals `id` in both GUIDs.
    bool IsAncestor(const KR::UnID& id) const;

    bool IsTemplate() const;
    void MarkAsTemplate();
    void MarkAsNonTemplate();
    // No ancestors, not a template.
    void Clear();

    // Cut the list before the first ancestor whose main GUID was met before
    // (or is the part's own); the template flag stays.
    KR::ErrorCode CheckAndFix();
    KR::ErrorCode CheckAndFix(const KR::UnID& ownId);

    // A new handle with the section in this platform's byte order, owned by
    // the caller; null when it cannot be built.
    char** GetAncestrySection() const;
    // Takes flag and ancestors from a section in this platform's byte order.
    // -50 for a null handle, a pointer that is not a memory handle, or a
    // null block; -7003 (nothing changed) for a block shorter than its
    // header or than its count of ancestors needs.
    KR::ErrorCode SetAncestrySection(char** section);
    // The same from the `size` bytes of a section at `block`.
    KR::ErrorCode SetAncestryBytes(const char* block, std::size_t size);

    KR::ErrorCode Read(KR::IChannel& channel) override;
    KR::ErrorCode Write(KR::OChannel& channel) const override;

private:
    KR::ErrorCode CheckAndFix(const KR::UnID* ownId);
    static void InsertIntoSorted(KR::VAArray<KR::UnID>* set, const KR::UnID& id, bool* found);

    bool isTemplate = false;
    KR::VAArray<KR::UnID> ancestors{50};
};

// Same ancestors in the same order, compared in both GUIDs; the template
// flags are not compared.
LM_API bool operator==(const AncestryInfo& a, const AncestryInfo& b);
LM_API bool operator!=(const AncestryInfo& a, const AncestryInfo& b);

}  // namespace LM
