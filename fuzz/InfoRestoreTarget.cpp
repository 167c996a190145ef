// Restoring a set from an info block (LibrarySet::SetActiveLibrariesFromInfo).
// A refused block leaves the set as it was; whatever is restored, the set
// writes a block that it equals and that restores the same libraries. (Not
// always the same other objects: a record with only a URL takes over an
// object that has that URL and empties its location, so a set holding both
// an object with a location and a URL and one with that URL alone does not
// come back whole.)
#include "InfoBlockFuzz.hpp"

using namespace LmFuzz::InfoBlock;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    KR::DebugCapture quiet;
    const Options options = Parse(data, size);
    auto set = NewSet(options.prefilled);
    const std::string before = Snapshot(*set);
    TestSupport::OwnedHandle block(options.block);
    const KR::ErrorCode result = set->SetActiveLibrariesFromInfo(block.h, options.swapBytes);
    LmFuzz::Expect(block.Bytes() == options.block, "the caller's block is not changed");
    if (result == LM::ErrBadIndex)
        LmFuzz::Expect(Snapshot(*set) == before, "a refused block changes nothing");
    else
        LmFuzz::Expect(!set->IsEnumerated(), "a restored set is not enumerated");

    const std::string written = InfoOf(*set, true);
    auto again = NewSet(false);
    TestSupport::OwnedHandle copy(written);
    LmFuzz::Expect(again->SetActiveLibrariesFromInfo(copy.h, false) == KR::NoError, "a written block restores");
    LmFuzz::Expect(Snapshot(*again, true, false) == Snapshot(*set, true, false),
                   "a written block restores the same libraries");
    LmFuzz::Expect(again->GetOtherObjectNum() <= set->GetOtherObjectNum(), "no other object appears");
    LmFuzz::Expect(set->IsEqualActiveLibraries(copy.h, true, true), "a set equals the block it wrote");
    return 0;
}

std::vector<std::string> LmFuzz::Seeds()
{
    return InfoBlock::Seeds();
}
