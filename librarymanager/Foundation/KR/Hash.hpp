// Hash helpers.
#pragma once

#include "KR/Definitions.hpp"

namespace KR {

// 32-bit FNV-1a hash of a zero-terminated string; 0 for a null pointer.
std::uint32_t GenerateHashValue(const char* text) noexcept;

namespace HashTablePrivate {
// Capacities of hash tables are primes from a fixed table. GetNextCapacity
// gives the smallest table prime greater than `capacity` (the largest prime
// of the table when there is none); GetPreviousCapacity the largest table
// prime smaller than `capacity` (the smallest prime when there is none).
std::uint32_t GetNextCapacity(std::uint32_t capacity) noexcept;
std::uint32_t GetPreviousCapacity(std::uint32_t capacity) noexcept;
}  // namespace HashTablePrivate

}  // namespace KR
