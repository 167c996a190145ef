#include "KR/GUID.hpp"

#include "KR/Hex.hpp"

#include <cstring>

namespace KR {

GUIDManager guidManager;

namespace {

constexpr std::size_t GuidTextLength = 36;
// "{" guid "}-{" guid "}"
constexpr std::size_t UnIDTextLength = 1 + GuidTextLength + 3 + GuidTextLength + 1;

template <typename T>
int Order(T a, T b) noexcept
{
    return a < b ? -1 : (a > b ? 1 : 0);
}

// Writes `digits` hex digits of `value`, most significant first.
char* PutHex(char* out, std::uint32_t value, int digits) noexcept
{
    for (int i = digits - 1; i >= 0; --i)
        *out++ = UpperHexDigits[(value >> (4 * i)) & 0xF];
    return out;
}

// Reads `digits` hex digits at `text`; false when one is not a hex digit.
bool GetHex(const char* text, int digits, std::uint32_t* value) noexcept
{
    std::uint32_t v = 0;
    for (int i = 0; i < digits; ++i) {
        int d = HexValue(text[i]);
        if (d < 0)
            return false;
        v = (v << 4) | static_cast<std::uint32_t>(d);
    }
    *value = v;
    return true;
}

// Parses exactly the 36 characters of a GUID text at `text` (no terminator
// is looked at).
bool ParseGuid(const char* text, GUID* guid) noexcept
{
    if (text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
        return false;
    GUID g;
    std::uint32_t v = 0;
    if (!GetHex(text, 8, &v))
        return false;
    g.data1 = v;
    if (!GetHex(text + 9, 4, &v))
        return false;
    g.data2 = static_cast<std::uint16_t>(v);
    if (!GetHex(text + 14, 4, &v))
        return false;
    g.data3 = static_cast<std::uint16_t>(v);
    const char* p[8] = {text + 19, text + 21, text + 24, text + 26, text + 28, text + 30, text + 32, text + 34};
    for (int i = 0; i < 8; ++i) {
        if (!GetHex(p[i], 2, &v))
            return false;
        g.data4[i] = static_cast<std::uint8_t>(v);
    }
    *guid = g;
    return true;
}

}  // namespace

int GUIDManager::Compare(const GUID& a, const GUID& b) const noexcept
{
    if (int r = Order(a.data1, b.data1))
        return r;
    if (int r = Order(a.data2, b.data2))
        return r;
    if (int r = Order(a.data3, b.data3))
        return r;
    for (int i = 0; i < 8; ++i)
        if (int r = Order(a.data4[i], b.data4[i]))
            return r;
    return 0;
}

bool GUIDManager::IsEqual(const GUID& a, const GUID& b) const noexcept
{
    return Compare(a, b) == 0;
}

bool GUIDManager::IsNull(const GUID& guid) const noexcept
{
    return IsEqual(guid, GUID{});
}

void GUIDManager::ConvertByteOrder(GUID* guid) const noexcept
{
    if (guid == nullptr)
        return;
    guid->data1 = __builtin_bswap32(guid->data1);
    guid->data2 = __builtin_bswap16(guid->data2);
    guid->data3 = __builtin_bswap16(guid->data3);
}

void GUIDManager::ToText(const GUID& guid, char* text) const noexcept
{
    if (text == nullptr)
        return;
    char* p = PutHex(text, guid.data1, 8);
    *p++ = '-';
    p = PutHex(p, guid.data2, 4);
    *p++ = '-';
    p = PutHex(p, guid.data3, 4);
    *p++ = '-';
    for (int i = 0; i < 8; ++i) {
        if (i == 2)
            *p++ = '-';
        p = PutHex(p, guid.data4[i], 2);
    }
    *p = '\0';
}

std::string GUIDManager::ToText(const GUID& guid) const
{
    char text[GuidTextLength + 1];
    ToText(guid, text);
    return std::string(text, GuidTextLength);
}

ErrorCode GUIDManager::FromText(const char* text, GUID* guid) const noexcept
{
    if (guid == nullptr)
        return ErrParam;
    if (text == nullptr || strnlen(text, GuidTextLength + 1) != GuidTextLength)
        return ErrBadFormat;
    return ParseGuid(text, guid) ? NoError : ErrBadFormat;
}

bool UnID::IsNull() const noexcept
{
    return guidManager.IsNull(mainGuid) && guidManager.IsNull(revGuid);
}

std::string UnID::ToString() const
{
    std::string text;
    text.reserve(UnIDTextLength);
    text += '{';
    text += guidManager.ToText(mainGuid);
    text += "}-{";
    text += guidManager.ToText(revGuid);
    text += '}';
    return text;
}

ErrorCode UnID::FromString(const char* text, UnID* id) noexcept
{
    if (id == nullptr)
        return ErrParam;
    if (text == nullptr || strnlen(text, UnIDTextLength + 1) != UnIDTextLength)
        return ErrBadFormat;
    constexpr std::size_t revStart = 1 + GuidTextLength + 3;
    if (text[0] != '{' || std::memcmp(text + 1 + GuidTextLength, "}-{", 3) != 0 || text[UnIDTextLength - 1] != '}')
        return ErrBadFormat;
    UnID parsed;
    if (!ParseGuid(text + 1, &parsed.mainGuid) || !ParseGuid(text + revStart, &parsed.revGuid))
        return ErrBadFormat;
    *id = parsed;
    return NoError;
}

bool operator==(const UnID& a, const UnID& b) noexcept
{
    return guidManager.IsEqual(a.mainGuid, b.mainGuid) && guidManager.IsEqual(a.revGuid, b.revGuid);
}

}  // namespace KR
