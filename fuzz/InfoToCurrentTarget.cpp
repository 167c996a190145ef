// Converting a block of either form to the binary form
// (LM::Info::ConvertToCurrent, behind every reader of info blocks). A
// converted block reads to its end magic and has no bytes after it.
#include "InfoBlockFuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    KR::DebugCapture quiet;
    const LmFuzz::InfoBlock::Options options = LmFuzz::InfoBlock::Parse(data, size);
    TestSupport::OwnedHandle block(options.block);
    char** current = nullptr;
    const KR::ErrorCode result = LM::Info::ConvertToCurrent(
        block.h, &current, options.swapBytes, IO::Location("/url cache"),
        [&](const IO::Location& location) { return options.compareCaches && location.GetText().size() % 2 == 0; });
    TestSupport::OwnedHandle owned(current);
    LmFuzz::Expect(block.Bytes() == options.block, "the caller's block is not changed");
    if (result != KR::NoError) {
        LmFuzz::Expect(current == nullptr, "a refused block gives no copy");
        return 0;
    }
    const std::string bytes = owned.Bytes();
    if (LM::Info::DetectVersion(options.block.data(), options.block.size(), options.swapBytes) ==
        LM::Info::Version::Current) {
        LmFuzz::Expect(bytes == options.block, "a binary block is copied as it is");
        return 0;
    }
    LM::Info::ItemReader in(bytes.data(), bytes.size(), false);
    LmFuzz::Expect(in.Int32() == LM::Info::Magic, "a converted block starts with the magic");
    if (in.Bool())
        (void)in.Location();
    (void)in.Location();
    for (std::int32_t n = in.Int32(); n > 0; --n)
        LmFuzz::Expect(!in.Library().isUrl, "a text block has no URL libraries");
    for (std::int32_t m = in.Int32(); m > 0; --m)
        LmFuzz::Expect(in.OtherObject().url.IsEmpty(), "stored files have no URL");
    LmFuzz::Expect(in.Int32() == LM::Info::Magic && in.Remaining() == 0, "a converted block ends with the magic");
    return 0;
}

std::vector<std::string> LmFuzz::Seeds()
{
    return LmFuzz::InfoBlock::Seeds();
}
