// Comparison, search and copying of zero-terminated texts.
//
// Comparison options (the first option word):
//   0  byte order: the texts compare as sequences of unsigned bytes.
//   1  name order, the way a file browser sorts names: ASCII letters compare
//      without regard to case, and runs of decimal digits compare by their
//      numeric value ("Door 2" before "Door 10"). Texts that differ only in
//      the case of ASCII letters compare equal. Of two texts whose digit runs
//      have equal values, the one with fewer leading zeros comes first when
//      nothing else differs ("a1" before "a01").
// The second option word of the counted form: 0 none; 1 makes name order a
// total order by breaking its ties in byte order (so only identical texts
// compare equal).
// Every comparison returns exactly -1, 0 or 1. A null pointer counts as the
// empty text.
#pragma once

#include "KR/Definitions.hpp"

namespace KR {

class TextManager {
public:
    int Compare(const char* a, const char* b, int option) const noexcept;
    // Compares `lengthA` bytes of `a` with `lengthB` bytes of `b`; a length of
    // -1 means up to the terminator.
    int Compare(const char* a, std::int32_t lengthA, const char* b, std::int32_t lengthB, int option1,
                int option2) const noexcept;

    // First occurrence of `c`, or null.
    const char* FindChar(const char* text, char c) const noexcept;
    // Last occurrence of `c` among the first `length` bytes (-1: up to the
    // terminator), or null.
    const char* FindLastChar(const char* text, std::int32_t length, char c) const noexcept;

    std::size_t GetLength(const char* text) const noexcept;
    // Copies `src` with its terminator; returns `dst`.
    char* Copy(char* dst, const char* src) const noexcept;
    // Copies at most `n` characters of `src` and always terminates, so `dst`
    // must hold n + 1 bytes; returns `dst`.
    char* CopyN(char* dst, const char* src, std::size_t n) const noexcept;
};

extern TextManager ch04Manager;

}  // namespace KR
