// The handler of the ancestry section 'ANCS' for the library part file
// library: converts a section between byte orders and dumps it as text.
// One stateless instance is registered when the module is loaded.
#pragma once

#include "LPF/Sections.hpp"
#include "SectionTypes.hpp"

#include <cstdint>

namespace LM {

class AncestrySectionHandler : public LPF::ISectionHandler {
public:
    static constexpr std::uint32_t SectionType = AncestrySectionType;

    // Reverses the header words and both GUIDs of every ancestor. -7003 for
    // a block shorter than its header or whose size does not match its
    // count; the block is then left as it was and the descriptor keeps its
    // platform code.
    KR::ErrorCode ConvertToPlatform(LPF::SectionDescriptor* descriptor, char** section,
                                    std::uint32_t targetPlatform) override;
    KR::ErrorCode ConvertToNative(void* unused, LPF::SectionDescriptor* descriptor, char** section) override;
    // Accepts every section.
    KR::ErrorCode Validate(const LPF::SectionDescriptor* descriptor, char** section) override;
    // "Number of ancestors: <count>\n", and with `detailed` one line
    // "\t<UnID text>\n" per ancestor. Works on a copy: the caller's section
    // and descriptor stay as they are.
    KR::ErrorCode Dump(KR::OChannel& output, const LPF::SectionDescriptor* descriptor, char** section,
                       bool detailed) override;
    bool CanConvert() const override;
};

}  // namespace LM
