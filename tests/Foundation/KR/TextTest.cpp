#include "KR/Text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace KR;

namespace {

// Texts that probe case, digit runs, leading zeros, punctuation around the
// digits, bytes above 127 and very long numbers.
const std::vector<std::string> tricky = {
    "",        "a",        "A",        "a1",        "a01",       "A01",      "a001",     "a1b",
    "a01b",    "a1B",      "a2",       "a10",       "a010",      "a9z",      "a 1",      "a_1",
    "a.1",     "a-1",      "a1.5",     "a1.05",     "a1.50",     "ab",       "aB",       "Ab",
    "b",       "B1",       "0",        "00",        "000",       "1",        "01",       "10",
    "9",       "@",        "[",        "`",         "{",         "~",        "\xC3\xA9", "\xC3\x89",
    "z\xFF",   "Door 2",   "Door 10",  "door 010",  "x99999999999999999999",   "x100000000000000000000",
    "x0100000000000000000000",         "x123456789012345678901234567890", "x123456789012345678901234567891",
};

}  // namespace

// Each row: two texts with their lengths (-1: to the terminator), the two
// options and the result, which is exactly -1, 0 or 1. The reverse of each
// pair is checked over many texts by the consistency test below.
TEST(TextCompare, ByteOrderNameOrderAndCountedLengths)
{
    const struct {
        const char* a;
        int lengthA;
        const char* b;
        int lengthB;
        int names, total, expected;
    } cases[] = {
        {"abc", -1, "abd", -1, 0, 0, -1},
        {"\xE9", -1, "z", -1, 0, 0, 1},  // unsigned bytes
        {"Door 2", -1, "Door 10", -1, 1, 0, -1},
        {"ABC", -1, "abc", -1, 1, 0, 0},
        {"a01x2", -1, "a1x02", -1, 1, 0, 1},  // the first run with a zero difference decides
        {"x99999999999999999999", -1, "x100000000000000000000", -1, 1, 0, -1},
        {"ABC", -1, "abc", -1, 1, 1, -1},  // the second option breaks ties in byte order
        {"Door 2", -1, "door 10", -1, 1, 1, -1},  // and keeps the name order
        {"abcdef", 4, "abcxyz", 3, 0, 0, 1},
        {"a123", 3, "a13", -1, 1, 0, -1},  // a length may cut a digit run
    };
    for (const auto& c : cases)
        EXPECT_EQ(ch04Manager.Compare(c.a, c.lengthA, c.b, c.lengthB, c.names, c.total), c.expected)
            << c.a << " / " << c.b;
    EXPECT_EQ(ch04Manager.Compare(nullptr, "a", 0), -1);
    EXPECT_EQ(ch04Manager.FindChar(nullptr, 'a'), nullptr);
}

TEST(TextCompare, NameOrderIsAConsistentThreeWayOrder)
{
    for (int option2 : {0, 1}) {
        auto cmp = [&](const std::string& a, const std::string& b) {
            return ch04Manager.Compare(a.c_str(), -1, b.c_str(), -1, 1, option2);
        };
        for (const auto& a : tricky) {
            for (const auto& b : tricky) {
                const int ab = cmp(a, b);
                ASSERT_TRUE(ab == -1 || ab == 0 || ab == 1) << a << " / " << b;
                ASSERT_EQ(ab, -cmp(b, a)) << a << " / " << b;
                if (option2 == 1) {
                    ASSERT_EQ(ab == 0, a == b) << a << " / " << b;
                }
                for (const auto& c : tricky) {
                    const int bc = cmp(b, c);
                    if (ab <= 0 && bc <= 0) {
                        ASSERT_LE(cmp(a, c), 0) << a << " / " << b << " / " << c;
                    }
                    if (ab == 0 && bc == 0) {
                        ASSERT_EQ(cmp(a, c), 0) << a << " / " << b << " / " << c;
                    }
                }
            }
        }
    }
}
