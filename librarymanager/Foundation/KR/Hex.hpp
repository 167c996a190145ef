// Hexadecimal digits of the text forms that spell bytes out: GUIDs and
// percent-escaped locations.
#pragma once

namespace KR {

// The digits 0 to F, upper case, as the text forms write them.
inline constexpr char UpperHexDigits[] = "0123456789ABCDEF";

// Value of a hexadecimal digit of either case, or -1 for any other character.
constexpr int HexValue(char c) noexcept
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace KR
