#include "KR/Text.hpp"

#include <cstring>

namespace KR {

TextManager ch04Manager;

namespace {

struct Span {
    const unsigned char* data;
    std::size_t size;
};

// A text of `length` bytes that never reaches past a terminator; a negative
// length means up to the terminator, a null pointer is the empty text.
Span MakeSpan(const char* text, std::int32_t length) noexcept
{
    if (text == nullptr)
        return {nullptr, 0};
    std::size_t size = length < 0 ? std::strlen(text) : strnlen(text, static_cast<std::size_t>(length));
    return {reinterpret_cast<const unsigned char*>(text), size};
}

int Sign(int v) noexcept
{
    return (v > 0) - (v < 0);
}

int CompareBytes(Span a, Span b) noexcept
{
    std::size_t n = a.size < b.size ? a.size : b.size;
    int r = n == 0 ? 0 : std::memcmp(a.data, b.data, n);
    if (r != 0)
        return Sign(r);
    return a.size < b.size ? -1 : (a.size > b.size ? 1 : 0);
}

bool IsDigit(unsigned char c) noexcept
{
    return c >= '0' && c <= '9';
}

unsigned char FoldCase(unsigned char c) noexcept
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// Name order. A text is read as a sequence of tokens: a run of decimal
// digits is one token that stands for its numeric value, any other byte is a
// token of its own with ASCII letters folded to lower case. Tokens compare by
// value: digit runs by number, other bytes by their folded code; a digit run
// and another byte compare by the run's first digit, which gives the same
// answer for every run since the other byte is never a digit. A text that
// ends first is smaller. When all tokens are equal, the first pair of digit
// runs with different numbers of leading zeros decides: fewer zeros first.
int CompareNames(Span a, Span b) noexcept
{
    std::size_t i = 0;
    std::size_t j = 0;
    int zeroTie = 0;
    while (i < a.size && j < b.size) {
        unsigned char ca = a.data[i];
        unsigned char cb = b.data[j];
        if (IsDigit(ca) && IsDigit(cb)) {
            std::size_t zi = i;
            while (zi < a.size && a.data[zi] == '0')
                ++zi;
            std::size_t ei = zi;
            while (ei < a.size && IsDigit(a.data[ei]))
                ++ei;
            std::size_t zj = j;
            while (zj < b.size && b.data[zj] == '0')
                ++zj;
            std::size_t ej = zj;
            while (ej < b.size && IsDigit(b.data[ej]))
                ++ej;
            // Numbers of any length: more significant digits is larger, and
            // equally long ones compare digit by digit.
            std::size_t lenA = ei - zi;
            std::size_t lenB = ej - zj;
            if (lenA != lenB)
                return lenA < lenB ? -1 : 1;
            if (lenA > 0) {
                int r = std::memcmp(a.data + zi, b.data + zj, lenA);
                if (r != 0)
                    return Sign(r);
            }
            std::size_t zerosA = zi - i;
            std::size_t zerosB = zj - j;
            if (zeroTie == 0 && zerosA != zerosB)
                zeroTie = zerosA < zerosB ? -1 : 1;
            i = ei;
            j = ej;
            continue;
        }
        unsigned char fa = FoldCase(ca);
        unsigned char fb = FoldCase(cb);
        if (fa != fb)
            return fa < fb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size)
        return 1;
    if (j < b.size)
        return -1;
    return zeroTie;
}

}  // namespace

int TextManager::Compare(const char* a, const char* b, int option) const noexcept
{
    return Compare(a, -1, b, -1, option, 0);
}

int TextManager::Compare(const char* a, std::int32_t lengthA, const char* b, std::int32_t lengthB, int option1,
                         int option2) const noexcept
{
    Span sa = MakeSpan(a, lengthA);
    Span sb = MakeSpan(b, lengthB);
    if (option1 != 1)
        return CompareBytes(sa, sb);
    int r = CompareNames(sa, sb);
    if (r == 0 && option2 == 1)
        r = CompareBytes(sa, sb);
    return r;
}

const char* TextManager::FindChar(const char* text, char c) const noexcept
{
    if (text == nullptr || c == '\0')
        return nullptr;
    return std::strchr(text, c);
}

const char* TextManager::FindLastChar(const char* text, std::int32_t length, char c) const noexcept
{
    if (c == '\0')
        return nullptr;
    Span s = MakeSpan(text, length);
    for (std::size_t i = s.size; i > 0; --i)
        if (text[i - 1] == c)
            return text + (i - 1);
    return nullptr;
}

std::size_t TextManager::GetLength(const char* text) const noexcept
{
    return text == nullptr ? 0 : std::strlen(text);
}

char* TextManager::Copy(char* dst, const char* src) const noexcept
{
    if (dst == nullptr)
        return dst;
    if (src == nullptr)
        src = "";
    std::memmove(dst, src, std::strlen(src) + 1);
    return dst;
}

char* TextManager::CopyN(char* dst, const char* src, std::size_t n) const noexcept
{
    if (dst == nullptr)
        return dst;
    std::size_t len = src == nullptr ? 0 : strnlen(src, n);
    if (len > 0)
        std::memmove(dst, src, len);
    dst[len] = '\0';
    return dst;
}

}  // namespace KR
