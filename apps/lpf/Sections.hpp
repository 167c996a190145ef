// Section contents that the tool writes: the ancestry section, the parameter
// section in either byte order, and the script text section.
#pragma once

#include "KR/GUID.hpp"
#include "LPF/ByteOrder.hpp"
#include "PSC/Parameters.hpp"
#include "SectionTypes.hpp"

#include <string>
#include <vector>

namespace lpftool {

inline constexpr std::uint32_t AncestrySectionType = LM::AncestrySectionType;
inline constexpr std::uint32_t ScriptSectionType = LM::ScriptSectionType;

// The module's ancestry section: a 32-byte header (byte 0 the template flag,
// bytes 4-7 the ancestor count, the rest zero) and 32 bytes per ancestor
// (main GUID, revision GUID), root-most first, in byte order `order`.
std::string BuildAncestrySection(bool isTemplate, const std::vector<KR::UnID>& ancestors, LPF::ByteOrder order);

// A parameter section in byte order `order`; ErrBadParameter for a bad name.
KR::ErrorCode BuildParameterSection(const std::vector<PSC::Parameter>& parameters, LPF::ByteOrder order,
                                    std::string* bytes);

}  // namespace lpftool
