// Sections of library part files and their handlers.
//
// A part file holds a directory of sections. Each section is named by a
// 32-bit type (four characters, e.g. 'ANCS' = 0x414E4353) and a one-byte
// sub-identifier, and carries a descriptor of three 32-bit words:
//   word 0  version of the section's own format (the writer's choice)
//   word 1  platform code of the byte order the section data are in
//   word 2  flags, reserved (0)
// Section data in the other byte order are converted to this machine's order
// by the handler registered for the section type when they are first asked
// for.
#pragma once

#include "KR/Channel.hpp"
#include "KR/Definitions.hpp"

namespace LPF {

// Platform codes of byte orders.
inline constexpr std::uint32_t NativePlatform = 0x5757;  // "WW": little-endian, this machine
inline constexpr std::uint32_t OtherPlatform = 0x4D4D;   // "MM": big-endian

constexpr std::uint32_t MakeSectionType(char a, char b, char c, char d) noexcept
{
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(a)) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(d));
}

// The four characters of a section type, for printing ("ANCS").
void SectionTypeToText(std::uint32_t type, char text[5]) noexcept;

struct SectionDescriptor {
    std::uint32_t version = 0;
    std::uint32_t platform = NativePlatform;
    std::uint32_t flags = 0;
};
static_assert(sizeof(SectionDescriptor) == 12);

// Converts and prints the sections of one type. Virtual operations in this
// order.
class ISectionHandler {
public:
    virtual ~ISectionHandler();
    // Converts the section data in place to the byte order `targetPlatform`
    // and records it in the descriptor. 0 for success; the descriptor keeps
    // its platform code on failure.
    virtual KR::ErrorCode ConvertToPlatform(SectionDescriptor* descriptor, char** section,
                                            std::uint32_t targetPlatform) = 0;
    // Converts to this machine's byte order; `context` is reserved (null).
    virtual KR::ErrorCode ConvertToNative(void* context, SectionDescriptor* descriptor, char** section) = 0;
    // Checks section data read from a file before they are handed out;
    // 0 accepts them.
    virtual KR::ErrorCode Validate(const SectionDescriptor* descriptor, char** section) = 0;
    // Writes the section as text; `detailed` asks for every value.
    virtual KR::ErrorCode Dump(KR::OChannel& output, const SectionDescriptor* descriptor, char** section,
                               bool detailed) = 0;
    // True when the handler can convert between byte orders.
    virtual bool CanConvert() const = 0;
};

// Registers `handler` for `sectionType`, replacing an earlier one. The
// handler must outlive its registration. KR::ErrParam for a null handler.
KR::ErrorCode InstallSectionHandler(std::uint32_t sectionType, ISectionHandler* handler);
// The handler of a section type, or null.
ISectionHandler* GetSectionHandler(std::uint32_t sectionType) noexcept;

}  // namespace LPF
