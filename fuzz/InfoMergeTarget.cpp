// Merging an info block into a set (LibrarySet::MergeActiveLibraries). The
// set's cache flag never changes, nothing is removed, and merging the same
// block again adds no library.
#include "InfoBlockFuzz.hpp"

using namespace LmFuzz::InfoBlock;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    KR::DebugCapture quiet;
    const Options options = Parse(data, size);
    auto set = NewSet(options.prefilled);
    const std::int32_t libraries = set->GetActiveLibraryNum();
    const std::int32_t objects = set->GetOtherObjectNum();
    TestSupport::OwnedHandle block(options.block);
    (void)set->MergeActiveLibraries(block.h);
    LmFuzz::Expect(block.Bytes() == options.block, "the caller's block is not changed");
    LmFuzz::Expect(!set->IsUseLanCache(), "merging leaves the cache flag");
    LmFuzz::Expect(set->GetActiveLibraryNum() >= libraries && set->GetOtherObjectNum() >= objects,
                   "merging removes nothing");
    const std::int32_t merged = set->GetActiveLibraryNum();
    (void)set->MergeActiveLibraries(block.h);
    LmFuzz::Expect(set->GetActiveLibraryNum() == merged, "a second merge adds no library");
    return 0;
}

std::vector<std::string> LmFuzz::Seeds()
{
    return InfoBlock::Seeds();
}
