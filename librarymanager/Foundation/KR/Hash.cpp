#include "KR/Hash.hpp"

#include <algorithm>
#include <iterator>

namespace KR {

std::uint32_t GenerateHashValue(const char* text) noexcept
{
    if (text == nullptr)
        return 0;
    std::uint32_t hash = 2166136261u;  // FNV offset basis
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
        hash ^= *p;
        hash *= 16777619u;  // FNV prime
    }
    return hash;
}

namespace HashTablePrivate {

namespace {

// Each prime is the smallest prime above twice the one before it; the last
// is 2^31 - 1.
constexpr std::uint32_t Primes[] = {
    7u,         17u,        37u,        79u,         163u,        331u,        673u,        1361u,
    2729u,      5471u,      10949u,     21911u,      43853u,      87719u,      175447u,     350899u,
    701819u,    1403641u,   2807303u,   5614657u,    11229331u,   22458671u,   44917381u,   89834777u,
    179669557u, 359339171u, 718678369u, 1437356741u, 2147483647u,
};

}  // namespace

std::uint32_t GetNextCapacity(std::uint32_t capacity) noexcept
{
    const std::uint32_t* it = std::upper_bound(std::begin(Primes), std::end(Primes), capacity);
    return it == std::end(Primes) ? Primes[std::size(Primes) - 1] : *it;
}

std::uint32_t GetPreviousCapacity(std::uint32_t capacity) noexcept
{
    const std::uint32_t* it = std::lower_bound(std::begin(Primes), std::end(Primes), capacity);
    return it == std::begin(Primes) ? Primes[0] : *(it - 1);
}

}  // namespace HashTablePrivate

}  // namespace KR
