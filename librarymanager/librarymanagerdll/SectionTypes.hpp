// The section types of library part files that the module and its tools
// know, as the 32-bit four-character codes that a part file's section
// directory holds (first character in the most significant byte). An
// application that reads part files itself uses these names rather than
// the numbers.
#pragma once

#include <cstdint>

namespace LM {

// The ancestry of a part: its ancestors' identifiers and its template flag
// (docs/formats/ancestry-section.md). The module registers its handler
// when it is loaded.
inline constexpr std::uint32_t AncestrySectionType = 0x414E4353;  // 'ANCS'

// The parameters of a part (docs/formats/parameter-section.md). The module
// registers its handler when it is loaded.
inline constexpr std::uint32_t ParameterSectionType = 0x50415244;  // 'PARD'

// The script text of a part (docs/formats/script-section.md): plain bytes,
// no byte order, no handler.
inline constexpr std::uint32_t ScriptSectionType = 0x53435250;  // 'SCRP'

}  // namespace LM
