// Comparing a set with an info block (LibrarySet::IsEqualActiveLibraries):
// any block gives an answer without changing the block or the set.
#include "InfoBlockFuzz.hpp"

using namespace LmFuzz::InfoBlock;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    KR::DebugCapture quiet;
    const Options options = Parse(data, size);
    auto set = NewSet(options.prefilled);
    const std::string before = Snapshot(*set);
    TestSupport::OwnedHandle block(options.block);
    const bool equal = set->IsEqualActiveLibraries(block.h, options.withPermanent, options.compareCaches);
    LmFuzz::Expect(block.Bytes() == options.block, "the caller's block is not changed");
    LmFuzz::Expect(Snapshot(*set) == before, "comparing changes nothing");
    // A block equal with the caches compared is equal without them too.
    if (equal && options.compareCaches)
        LmFuzz::Expect(set->IsEqualActiveLibraries(block.h, options.withPermanent, false),
                       "equal with caches implies equal without");
    return 0;
}

std::vector<std::string> LmFuzz::Seeds()
{
    return InfoBlock::Seeds();
}
