#include "AncestryInfo.hpp"
#include "Guard.hpp"
#include "LibraryManagerModule.hpp"

#include "KR/DebugChannel.hpp"
#include "KR/Exceptions.hpp"
#include "KR/Memory.hpp"
#include "KRUtils/KRUtils.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

namespace LM {

namespace {

constexpr std::size_t CountOffset = 4;
// A channel's ancestors are read in pieces of this size, so that a count
// the stream does not back never allocates more than one piece ahead.
constexpr std::size_t ReadChunkSize = std::size_t{1} << 20;

std::uint32_t ReadCount(const char* block)
{
    std::uint32_t count = 0;
    std::memcpy(&count, block + CountOffset, sizeof count);
    return count;
}

std::uint64_t SectionSize(std::uint64_t count)
{
    return AncestryInfo::SectionRecordSize * (count + 1);
}

}  // namespace

AncestryInfo::AncestryInfo() = default;

AncestryInfo::AncestryInfo(char** section)
{
    (void)SetAncestrySection(section);
}

AncestryInfo::AncestryInfo(const AncestryInfo& other) = default;

AncestryInfo& AncestryInfo::operator=(const AncestryInfo& other)
{
    if (this != &other) {
        isTemplate = other.isTemplate;
        ancestors = other.ancestors;
    }
    return *this;
}

AncestryInfo::~AncestryInfo() = default;

std::uint32_t AncestryInfo::GetAncestorsCount() const
{
    return ancestors.GetSize();
}

const KR::UnID* AncestryInfo::GetAncestorsRef() const
{
    return ancestors.GetContent();
}

const KR::UnID& AncestryInfo::GetAncestorRef(std::uint32_t index) const
{
    return *Guarded(&NULLUnID, [&] { return &ancestors[index]; });
}

KR::ErrorCode AncestryInfo::SetAncestor(std::uint32_t index, const KR::UnID& id)
{
    return RunGuarded([&] { ancestors.Set(index, id); });
}

KR::ErrorCode AncestryInfo::Append(const KR::UnID& id)
{
    return RunGuarded([&] { ancestors.Push(id); });
}

KR::UnID AncestryInfo::GetParentID() const
{
    return ancestors.IsEmpty() ? NULLUnID : ancestors[ancestors.GetSize()];
}

bool AncestryInfo::IsAncestor(const KR::UnID& id) const
{
    return std::any_of(ancestors.begin(), ancestors.end(), [&](const KR::UnID& a) { return a == id; });
}

bool AncestryInfo::IsTemplate() const
{
    return isTemplate;
}

void AncestryInfo::MarkAsTemplate()
{
    isTemplate = true;
}

void AncestryInfo::MarkAsNonTemplate()
{
    isTemplate = false;
}

void AncestryInfo::Clear()
{
    ancestors.Clear();
    isTemplate = false;
}

KR::ErrorCode AncestryInfo::CheckAndFix()
{
    return CheckAndFix(nullptr);
}

KR::ErrorCode AncestryInfo::CheckAndFix(const KR::UnID& ownId)
{
    return CheckAndFix(&ownId);
}

// Walks the ancestors keeping a set ordered by main GUID; the first ancestor
// whose main GUID is already in the set closes a cycle and is cut off with
// everything after it.
KR::ErrorCode AncestryInfo::CheckAndFix(const KR::UnID* ownId)
{
    return RunGuarded([&] {
        const std::uint32_t count = ancestors.GetSize();
        KR::VAArray<KR::UnID> seen(static_cast<std::int32_t>(
            std::min<std::uint64_t>(std::uint64_t{count} + 1, std::numeric_limits<std::int32_t>::max())));
        if (ownId != nullptr)
            seen.Push(*ownId);
        for (std::uint32_t k = 1; k <= count; ++k) {
            bool found = false;
            InsertIntoSorted(&seen, ancestors[k], &found);
            if (found) {
                ancestors.Delete(k, count - k + 1);
                break;
            }
        }
    });
}

void AncestryInfo::InsertIntoSorted(KR::VAArray<KR::UnID>* set, const KR::UnID& id, bool* found)
{
    *found = false;
    std::int64_t low = 1;
    std::int64_t high = set->GetSize();
    while (low <= high) {
        std::int64_t middle = (low + high) / 2;
        int c = KR::guidManager.Compare((*set)[static_cast<std::uint32_t>(middle)].mainGuid, id.mainGuid);
        if (c == 0) {
            *found = true;
            return;
        }
        if (c < 0)
            low = middle + 1;
        else
            high = middle - 1;
    }
    set->Insert(static_cast<std::uint32_t>(low), id);
}

char** AncestryInfo::GetAncestrySection() const
{
    char** section = nullptr;
    const KR::ErrorCode err = RunGuarded([&] {
        const std::uint32_t count = ancestors.GetSize();
        section = KR::ThrowIfNull(KR::bmManager.NewHandle(SectionSize(count), true), "AncestryInfo");
        char* block = *section;
        std::memset(block, 0, SectionRecordSize);
        block[0] = isTemplate ? 1 : 0;
        std::memcpy(block + CountOffset, &count, sizeof count);
        for (std::uint32_t k = 1; k <= count; ++k)
            std::memcpy(block + SectionRecordSize * k, &ancestors[k], sizeof(KR::UnID));
    });
    if (err != KR::NoError && section != nullptr) {
        KR::bmManager.KillHandle(section);
        return nullptr;
    }
    return section;
}

KR::ErrorCode AncestryInfo::SetAncestrySection(char** section)
{
    if (section == nullptr || !KR::bmManager.IsHandle(section) || *section == nullptr)
        return KR::ErrParam;
    return SetAncestryBytes(*section, KR::bmManager.GetHandleSize(section));
}

KR::ErrorCode AncestryInfo::SetAncestryBytes(const char* block, std::size_t size)
{
    if (block == nullptr)
        return KR::ErrParam;
    if (size < SectionRecordSize)
        return ErrDamagedData;
    const std::uint32_t count = ReadCount(block);
    if (SectionSize(count) > size)
        return ErrDamagedData;
    return RunGuarded([&] {
        KR::VAArray<KR::UnID> list(50);
        list.ReserveExactly(count);  // the section's size bounds the count
        for (std::uint32_t k = 1; k <= count; ++k) {
            KR::UnID id;
            std::memcpy(&id, block + SectionRecordSize * k, sizeof id);
            list.Push(id);
        }
        ancestors = std::move(list);
        isTemplate = block[0] != 0;
    });
}

KR::ErrorCode AncestryInfo::Write(KR::OChannel& channel) const
{
    char** section = GetAncestrySection();
    if (section == nullptr)
        return ErrDamagedData;
    const std::size_t size = KR::bmManager.GetHandleSize(section);
    std::size_t written = 0;
    KR::ErrorCode err = channel.WriteBin(*section, size, &written);
    KR::bmManager.KillHandle(section);
    return written != size ? ErrDamagedData : err;
}

KR::ErrorCode AncestryInfo::Read(KR::IChannel& channel)
{
    char** block = KR::bmManager.NewHandle(SectionRecordSize);
    if (block == nullptr)
        return KR::bmManager.GetLastError();
    KR::ErrorCode err = channel.ReadBin(*block, SectionRecordSize);
    if (err == KR::NoError) {
        std::uint64_t remaining = std::uint64_t{ReadCount(*block)} * SectionRecordSize;
        std::size_t filled = SectionRecordSize;
        while (err == KR::NoError && remaining > 0) {
            const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, ReadChunkSize));
            err = KR::bmManager.ReallocHandle(block, filled + piece);
            if (err == KR::NoError)
                err = channel.ReadBin(*block + filled, piece);
            filled += piece;
            remaining -= piece;
        }
    }
    if (err == KR::NoError)
        err = SetAncestrySection(block);
    KR::bmManager.KillHandle(block);
    return err;
}

bool operator==(const AncestryInfo& a, const AncestryInfo& b)
{
    const std::uint32_t count = a.GetAncestorsCount();
    if (count != b.GetAncestorsCount())
        return false;
    if (count == 0)
        return true;
    const KR::UnID* x = a.GetAncestorsRef();
    const KR::UnID* y = b.GetAncestorsRef();
    return std::equal(x, x + count, y);
}

bool operator!=(const AncestryInfo& a, const AncestryInfo& b)
{
    return !(a == b);
}

}  // namespace LM
