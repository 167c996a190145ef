// The parameter section ('PARD') of library part files and the merging of a
// parent part's parameters into a part's.
//
// Format (docs/formats/parameter-section.md): a header (tag, count), then
// one record per parameter: kind, name, value. Multi-byte values are in the
// byte order that the section descriptor names; InstallSectionHandler
// registers the handler that converts and prints the section.
#pragma once

#include "KR/Channel.hpp"
#include "KR/Definitions.hpp"

#include <string>
#include <vector>

namespace PSC {

inline constexpr std::uint32_t ParameterSectionType = 0x50415244;  // 'PARD'

inline constexpr KR::ErrorCode ErrBadSection = KR::MakeErrorCode(0x81060001u);  // damaged parameter section
inline constexpr KR::ErrorCode ErrBadParameter = KR::MakeErrorCode(0x81060002u);

// Longest parameter name.
inline constexpr std::size_t MaxParameterNameLength = 31;

struct Parameter {
    enum class Kind : std::uint8_t { Number = 1, Integer = 2, Boolean = 3, Text = 4 };
    std::string name;
    Kind kind = Kind::Number;
    double number = 0.0;
    std::int32_t integer = 0;
    bool boolean = false;
    std::string text;

    friend bool operator==(const Parameter&, const Parameter&) = default;
};

// How NewSyParHdlFromRef merges (documented in docs/formats/parameter-section.md):
enum ParHdlMergeType : std::int32_t {
    // The parent's parameters in the parent's order, each with the part's
    // value when the part has a parameter of that name and kind; then the
    // part's own further parameters in its order.
    KeepOwnValues = 0,
    // The same list, but every parameter that the parent has keeps the
    // parent's value.
    TakeParentValues = 1,
    // The part's parameters in its order with its values, then the parent's
    // parameters that the part lacks.
    AddMissingParameters = 2,
};

// Parses a section in this machine's byte order; ErrBadSection when damaged.
KR::ErrorCode ReadParameters(char** section, std::vector<Parameter>* parameters);
// A new handle with the section of `parameters` (this machine's byte order);
// null when it cannot be allocated. ErrBadParameter via `error` for a name
// that is empty or too long.
char** WriteParameters(const std::vector<Parameter>& parameters, KR::ErrorCode* error = nullptr);

// Registers the 'PARD' section handler with the part file library.
void InstallSectionHandler();

}  // namespace PSC

// A new parameter handle merged from a parent's section and a part's own
// (either may be null; `extra` is reserved and must be null). Null when both
// are null, when a section is damaged, or when memory runs out. The caller
// owns the result.
char** NewSyParHdlFromRef(char** parent, char** own, char** extra, PSC::ParHdlMergeType mergeType);
