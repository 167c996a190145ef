#include "KR/GUID.hpp"
#include "KR/Hash.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>

using namespace KR;

namespace {

const GUID sample{0x01A2B3C4u, 0xD5E6u, 0x0F78u, {0x9A, 0xBC, 0xDE, 0xF0, 0x12, 0x34, 0x56, 0x78}};
const char* const sampleText = "01A2B3C4-D5E6-0F78-9ABC-DEF012345678";

bool SameBytes(const GUID& a, const GUID& b)
{
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

}  // namespace

TEST(GUIDText, UpperCaseFormCaseInsensitiveParseAndRefusals)
{
    char text[37] = "####################################";
    guidManager.ToText(sample, text);
    EXPECT_STREQ(text, sampleText);
    GUID parsed;
    ASSERT_EQ(guidManager.FromText("01a2b3c4-d5e6-0f78-9aBc-def012345678", &parsed), NoError);
    EXPECT_TRUE(SameBytes(parsed, sample));

    // Refused text leaves the GUID as it was.
    for (const char* bad : {"", "01A2B3C4-D5E6-0F78-9ABC-DEF01234567", "01A2B3C4-D5E6-0F78-9ABCD-EF012345678",
                            "01A2B3G4-D5E6-0F78-9ABC-DEF012345678"}) {
        GUID g = sample;
        EXPECT_EQ(guidManager.FromText(bad, &g), ErrBadFormat) << bad;
        EXPECT_TRUE(SameBytes(g, sample)) << bad;
    }
}

TEST(GUIDOrder, ComparesFieldValuesInOrderAndConvertsByteOrder)
{
    // Each pair differs in an earlier field than the one that would decide
    // the other way, and in byte order a comparison of memory would be wrong.
    GUID a{}, b{};
    a.data1 = 0x00000100u;  // bytes 00 01 00 00 on a little-endian machine
    b.data1 = 0x000000FFu;
    EXPECT_EQ(guidManager.Compare(a, b), 1);
    EXPECT_EQ(guidManager.Compare(b, a), -1);
    a = b;
    a.data2 = 1;
    b.data3 = 0xFFFF;
    EXPECT_EQ(guidManager.Compare(a, b), 1);  // data2 decides before data3
    EXPECT_EQ(guidManager.Compare(sample, sample), 0);

    // Converting the byte order reverses the integer fields only.
    GUID g = sample;
    guidManager.ConvertByteOrder(&g);
    EXPECT_EQ(g.data1, 0xC4B3A201u);
    EXPECT_EQ(g.data3, 0x780Fu);
    EXPECT_EQ(std::memcmp(g.data4, sample.data4, 8), 0);
}

TEST(UnIDText, RoundTripAndErrors)
{
    UnID id;
    id.mainGuid = sample;
    id.revGuid.data4[7] = 0x0A;
    const std::string text = id.ToString();
    EXPECT_EQ(text, std::string("{") + sampleText + "}-{00000000-0000-0000-0000-00000000000A}");

    UnID back;
    ASSERT_EQ(UnID::FromString(text.c_str(), &back), NoError);
    EXPECT_EQ(back, id);
    for (std::string broken : {text.substr(1), text + "}", text.substr(0, 37) + "}+" + text.substr(39)}) {
        UnID untouched = id;
        EXPECT_EQ(UnID::FromString(broken.c_str(), &untouched), ErrBadFormat) << broken;
        EXPECT_EQ(untouched, id);
    }
}

TEST(Hash, FNV1aVectors)
{
    EXPECT_EQ(GenerateHashValue(nullptr), 0u);
    EXPECT_EQ(GenerateHashValue(""), 0x811C9DC5u);
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
