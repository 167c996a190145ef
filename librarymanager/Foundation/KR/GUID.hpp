// GUIDs and the library part identifier UnID.
#pragma once

#include "KR/Definitions.hpp"

#include <string>
#include <type_traits>

namespace KR {

// 16 bytes: a 32-bit, two 16-bit and eight single-byte fields, each in the
// byte order of the machine that holds it.
struct GUID {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::uint8_t data4[8] = {};
};
static_assert(sizeof(GUID) == 16 && std::is_standard_layout_v<GUID>);

class GUIDManager {
public:
    // Three-way order of the field values, data1 first, then data2, data3 and
    // the bytes of data4 in order; exactly -1, 0 or 1.
    int Compare(const GUID& a, const GUID& b) const noexcept;
    bool IsEqual(const GUID& a, const GUID& b) const noexcept;
    bool IsNull(const GUID& guid) const noexcept;

    // Reverses the byte order of data1, data2 and data3 in place (data4 is a
    // byte array and stays).
    void ConvertByteOrder(GUID* guid) const noexcept;

    // The text form XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX in upper case;
    // `text` must hold 37 bytes.
    void ToText(const GUID& guid, char* text) const noexcept;
    std::string ToText(const GUID& guid) const;
    // Parses that form, case-insensitively; ErrBadFormat for anything else.
    ErrorCode FromText(const char* text, GUID* guid) const noexcept;
};

extern GUIDManager guidManager;

// Identifier of a library part: its main GUID and its revision GUID.
struct UnID {
    GUID mainGuid;
    GUID revGuid;

    bool IsNull() const noexcept;

    // "{" main "}-{" revision "}", each GUID in its text form.
    std::string ToString() const;
    // Parses the text form (case-insensitively); ErrBadFormat otherwise.
    static ErrorCode FromString(const char* text, UnID* id) noexcept;

    friend bool operator==(const UnID& a, const UnID& b) noexcept;
    friend bool operator!=(const UnID& a, const UnID& b) noexcept { return !(a == b); }
};
static_assert(sizeof(UnID) == 32 && std::is_standard_layout_v<UnID>);

}  // namespace KR
