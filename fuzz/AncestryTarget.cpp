// The ancestry section. The first byte of the input chooses the byte order
// the rest claims to be in; the rest is a section block. Takes the block
// into an AncestryInfo (and reads it from a channel), checks and fixes the
// list, and converts the block between byte orders with the ANCS handler,
// which must give back the block it started from when it converts back.
#include "AncestryBytes.hpp"
#include "FuzzTarget.hpp"

#include "AncestryInfo.hpp"
#include "IO/MemoryChannel.hpp"
#include "KR/Channel.hpp"
#include "KR/Memory.hpp"
#include "LPF/ByteOrder.hpp"
#include "Support/Handles.hpp"
#include "TypeHierarchy/AncestrySectionHandler.hpp"

#include <cstring>

namespace {

using Handle = TestSupport::OwnedHandle;

// Checks, fixes and writes an ancestry that was taken from `block`.
void Exercise(LM::AncestryInfo& info)
{
    const std::uint32_t count = info.GetAncestorsCount();
    if (count > 0) {
        (void)info.GetAncestorRef(1);
        (void)info.GetAncestorRef(count);
        (void)info.IsAncestor(info.GetParentID());
    }
    KR::UnID own{};
    own.mainGuid.data1 = 1;
    LM::AncestryInfo fixed(info);
    LmFuzz::Expect(fixed.CheckAndFix(own) == KR::NoError, "CheckAndFix succeeds");
    LmFuzz::Expect(fixed.GetAncestorsCount() <= count, "CheckAndFix only shortens");
    LmFuzz::Expect(info.CheckAndFix() == KR::NoError, "CheckAndFix succeeds");

    KR::StringOChannel out(KR::binOProtocol);
    LmFuzz::Expect(info.Write(out) == KR::NoError, "an ancestry is written");
    const std::string written = out.Take();
    KR::StringIChannel in(written);
    LM::AncestryInfo back;
    LmFuzz::Expect(back.Read(in) == KR::NoError && back == info && back.IsTemplate() == info.IsTemplate(),
                   "a written ancestry reads back the same");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    LmFuzz::Bytes input(data, size);
    const std::uint32_t platform = (input.Byte() & 1) != 0 ? LPF::OtherPlatform : LPF::NativePlatform;
    const std::string_view block = input.Rest();

    // A block in this machine's order, as a section and from a channel.
    {
        Handle section(block);
        LM::AncestryInfo info;
        if (info.SetAncestrySection(section.h) == KR::NoError)
            Exercise(info);
        IO::MemoryIChannel channel(block.data(), block.size());
        LM::AncestryInfo read;
        if (read.Read(channel) == KR::NoError)
            Exercise(read);
    }

    // The handler: a conversion that succeeds is undone by the opposite one.
    LM::AncestrySectionHandler handler;
    Handle section(block);
    LPF::SectionDescriptor descriptor{0, platform, 0};
    const std::uint32_t target = platform == LPF::NativePlatform ? LPF::OtherPlatform : LPF::NativePlatform;
    KR::StringOChannel text;
    (void)handler.Dump(text, &descriptor, section.h, true);
    LmFuzz::Expect(section.Bytes() == block, "Dump leaves the section as it was");
    if (handler.ConvertToPlatform(&descriptor, section.h, target) != KR::NoError) {
        LmFuzz::Expect(section.Bytes() == block && descriptor.platform == platform,
                       "a refused conversion changes nothing");
        return 0;
    }
    LmFuzz::Expect(descriptor.platform == target, "a conversion records the new byte order");
    if (target == LPF::NativePlatform) {
        LM::AncestryInfo info(section.h);
        Exercise(info);
    }
    // Back out of this machine's order the count is read as converted, so
    // only a header without ancestors goes back; anything else is refused
    // and left as it was.
    const std::string converted = section.Bytes();
    if (handler.ConvertToPlatform(&descriptor, section.h, platform) == KR::NoError)
        LmFuzz::Expect(section.Bytes() == block, "converting back gives the original block");
    else
        LmFuzz::Expect(section.Bytes() == converted && descriptor.platform == target,
                       "a refused conversion back changes nothing");
    return 0;
}

std::vector<std::string> LmFuzz::Seeds()
{
    std::vector<std::string> seeds;
    for (std::uint32_t count : {0u, 1u, 4u}) {
        LM::AncestryInfo info;
        for (std::uint32_t k = 0; k < count; ++k) {
            KR::UnID id{};
            id.mainGuid.data1 = (k % 3) + 1;  // with four, the fourth repeats the first
            id.mainGuid.data4[7] = static_cast<std::uint8_t>(k);
            id.revGuid.data2 = static_cast<std::uint16_t>(0x100 + k);
            info.Append(id);
        }
        if (count == 1)
            info.MarkAsTemplate();
        Handle section(std::string_view{});
        KR::bmManager.KillHandle(section.h);
        section.h = info.GetAncestrySection();
        seeds.push_back(std::string(1, '\0') + section.Bytes());
        seeds.push_back(std::string(1, '\1') + LmFuzz::AncestryInOtherOrder(section.Bytes()));
    }
    return seeds;
}
