// The parameter section. The first byte chooses the byte order the section
// claims to be in and how a merge goes, the next two where the input is cut
// into a parent's and a part's section. Reads, validates, dumps and converts
// each section with the 'PARD' handler, and merges the two.
#include "FuzzTarget.hpp"

#include "KR/Channel.hpp"
#include "KR/Memory.hpp"
#include "Support/Handles.hpp"
#include "LPF/Sections.hpp"
#include "PSC/Parameters.hpp"

#include <cstring>

namespace {

using Handle = TestSupport::OwnedHandle;

LPF::ISectionHandler& Handler()
{
    static LPF::ISectionHandler* handler = [] {
        PSC::InstallSectionHandler();
        return LPF::GetSectionHandler(PSC::ParameterSectionType);
    }();
    return *handler;
}

// Everything a reader does with one section in byte order `platform`.
void Exercise(std::string_view bytes, std::uint32_t platform)
{
    LPF::ISectionHandler& handler = Handler();
    Handle section(bytes);
    LPF::SectionDescriptor descriptor{0, platform, 0};
    const KR::ErrorCode valid = handler.Validate(&descriptor, section.h);
    KR::StringOChannel text;
    LmFuzz::Expect((handler.Dump(text, &descriptor, section.h, true) == KR::NoError) == (valid == KR::NoError),
                   "Dump takes exactly the sections that Validate takes");

    if (platform == LPF::NativePlatform) {
        std::vector<PSC::Parameter> list;
        LmFuzz::Expect((PSC::ReadParameters(section.h, &list) == KR::NoError) == (valid == KR::NoError),
                       "ReadParameters takes exactly the sections that Validate takes");
        if (valid == KR::NoError) {
            Handle again(PSC::WriteParameters(list));
            // Bytes, not values, are compared: a number may be a NaN.
            LmFuzz::Expect(again.h != nullptr && again.Bytes() == bytes,
                           "a section that was read writes back to the same bytes");
        }
    }

    const std::uint32_t other = platform == LPF::NativePlatform ? LPF::OtherPlatform : LPF::NativePlatform;
    const KR::ErrorCode converted = handler.ConvertToPlatform(&descriptor, section.h, other);
    LmFuzz::Expect((converted == KR::NoError) == (valid == KR::NoError),
                   "a section converts exactly when it is valid");
    if (converted != KR::NoError) {
        LmFuzz::Expect(section.Bytes() == bytes && descriptor.platform == platform,
                       "a refused conversion changes nothing");
        return;
    }
    LmFuzz::Expect(handler.Validate(&descriptor, section.h) == KR::NoError, "a converted section is valid");
    LmFuzz::Expect(handler.ConvertToNative(nullptr, &descriptor, section.h) == KR::NoError &&
                       (platform != LPF::NativePlatform || section.Bytes() == bytes),
                   "converting back gives the original section");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    LmFuzz::Bytes input(data, size);
    const std::uint8_t mode = input.Byte();
    const std::uint32_t platform = (mode & 1) != 0 ? LPF::OtherPlatform : LPF::NativePlatform;
    const std::size_t cut = input.Byte() | (std::size_t{input.Byte()} << 8);
    const std::string_view rest = input.Rest();
    const std::string_view parent = rest.substr(0, std::min(cut, rest.size()));
    const std::string_view own = rest.substr(parent.size());

    Exercise(parent, platform);
    Exercise(own, platform);

    Handle parentSection(parent);
    Handle ownSection(own);
    const auto mergeType = static_cast<PSC::ParHdlMergeType>((mode >> 1) % 4);  // 3 is refused
    Handle merged(NewSyParHdlFromRef((mode & 8) != 0 ? nullptr : parentSection.h,
                                     (mode & 16) != 0 ? nullptr : ownSection.h, nullptr, mergeType));
    if (merged.h != nullptr) {
        std::vector<PSC::Parameter> list;
        LmFuzz::Expect(PSC::ReadParameters(merged.h, &list) == KR::NoError, "a merged section reads");
    }
    return 0;
}

std::vector<std::string> LmFuzz::Seeds()
{
    using Kind = PSC::Parameter::Kind;
    auto make = [](const char* name, Kind kind) {
        PSC::Parameter p;
        p.name = name;
        p.kind = kind;
        return p;
    };
    std::vector<PSC::Parameter> parent{make("A", Kind::Number), make("n", Kind::Integer), make("on", Kind::Boolean),
                                       make("mat", Kind::Text)};
    parent[0].number = -0.5;
    parent[1].integer = 77;
    parent[2].boolean = true;
    parent[3].text = std::string("Oak\0\"x\"", 7);
    std::vector<PSC::Parameter> own{make("n", Kind::Integer), make("mat", Kind::Number), make("B", Kind::Text)};
    own[0].integer = -1;
    own[2].text = "own";

    Handle parentSection(PSC::WriteParameters(parent));
    Handle ownSection(PSC::WriteParameters(own));
    const std::string a = parentSection.Bytes();
    const std::string b = ownSection.Bytes();
    auto seed = [](std::uint8_t mode, const std::string& first, const std::string& second) {
        std::string s;
        s.push_back(static_cast<char>(mode));
        s.push_back(static_cast<char>(first.size() & 0xFF));
        s.push_back(static_cast<char>(first.size() >> 8));
        return s + first + second;
    };
    // Both byte orders: the other one as the handler converts it.
    LPF::SectionDescriptor descriptor;
    Handler().ConvertToPlatform(&descriptor, parentSection.h, LPF::OtherPlatform);
    descriptor = LPF::SectionDescriptor{};
    Handler().ConvertToPlatform(&descriptor, ownSection.h, LPF::OtherPlatform);
    return {seed(0, a, b), seed(2, a, b), seed(4, b, a), seed(1, parentSection.Bytes(), ownSection.Bytes()),
            seed(0, std::string("DRAP\0\0\0\0", 8), b)};
}
