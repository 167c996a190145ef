#include "KR/Hash.hpp"

#include <gtest/gtest.h>

#include <limits>

using namespace KR;

TEST(Hash, FNV1aVectors)
{
    EXPECT_EQ(GenerateHashValue(nullptr), 0u);
    EXPECT_EQ(GenerateHashValue("foobar"), 0xBF9CF968u);
    EXPECT_EQ(GenerateHashValue("\xFF"), (0x811C9DC5u ^ 0xFFu) * 16777619u);  // bytes are unsigned
}

TEST(Hash, CapacitiesArePrimesThatRoughlyDouble)
{
    using namespace HashTablePrivate;
    auto isPrime = [](std::uint32_t n) {
        for (std::uint32_t d = 2; d <= n / d; ++d)
            if (n % d == 0)
                return false;
        return n >= 2;
    };
    EXPECT_EQ(GetNextCapacity(0), 7u);
    std::uint32_t p = 7;
    for (std::uint32_t next; (next = GetNextCapacity(p)) != p; p = next) {
        ASSERT_TRUE(isPrime(next) && next > p + p / 3 && std::uint64_t{next} <= 3ull * p) << p << " -> " << next;
        EXPECT_EQ(GetNextCapacity(next - 1), next);  // strictly greater, smallest such
        EXPECT_EQ(GetPreviousCapacity(next), p);
    }
    EXPECT_GE(p, 1u << 30);
    EXPECT_EQ(GetNextCapacity(std::numeric_limits<std::uint32_t>::max()), p);
}
