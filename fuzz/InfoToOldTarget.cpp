// Converting a binary block to the text form (LM::Info::ConvertToOld). Any
// text block it makes is one that the text reader takes.
#include "InfoBlockFuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    KR::DebugCapture quiet;
    const LmFuzz::InfoBlock::Options options = LmFuzz::InfoBlock::Parse(data, size);
    TestSupport::OwnedHandle block(options.block);
    char** old = nullptr;
    KR::ErrorCode result = KR::NoError;
    try {
        result = LM::Info::ConvertToOld(block.h, LM::LibrarySet::InfoOldTextVersion, &old);
    } catch (const KR::KRException&) {
        // A damaged binary block: the set's guard turns this into a result.
        LmFuzz::Expect(old == nullptr, "a failed conversion gives no block");
        return 0;
    }
    TestSupport::OwnedHandle owned(old);
    LmFuzz::Expect(block.Bytes() == options.block, "the caller's block is not changed");
    if (result != KR::NoError) {
        LmFuzz::Expect(old == nullptr, "a refused block gives no text");
        return 0;
    }
    const std::string text = owned.Bytes();
    LM::Info::OldTextBlock parsed;
    LmFuzz::Expect(LM::Info::ParseOldText(text.data(), text.size(), &parsed) == KR::NoError,
                   "a written text block reads back");
    return 0;
}

std::vector<std::string> LmFuzz::Seeds()
{
    return LmFuzz::InfoBlock::Seeds();
}
