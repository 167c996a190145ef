#include "KR/Text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace KR;

namespace {

int Names(const char* a, const char* b)
{
    return ch04Manager.Compare(a, b, 1);
}

int NamesTotal(const char* a, const char* b)
{
    return ch04Manager.Compare(a, -1, b, -1, 1, 1);
}

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

TEST(TextCompare, ByteOrder)
{
    EXPECT_EQ(ch04Manager.Compare("abc", "abd", 0), -1);  // exactly -1, not any negative number
    EXPECT_EQ(ch04Manager.Compare("abd", "abc", 0), 1);
    EXPECT_EQ(ch04Manager.Compare("ab", "abc", 0), -1);
    EXPECT_EQ(ch04Manager.Compare("\xE9", "z", 0), 1);  // unsigned bytes
    EXPECT_EQ(ch04Manager.Compare(nullptr, "a", 0), -1);
}

// The reverse of each pair, and ties only between equal texts under the
// second option, are checked over many texts by the consistency test below.
TEST(TextCompare, NameOrderLikeAFileBrowser)
{
    EXPECT_EQ(Names("Door 2", "Door 10"), -1);
    EXPECT_EQ(Names("Door 10", "door 9"), 1);
    EXPECT_EQ(Names("ABC", "abc"), 0);
    EXPECT_EQ(Names("a1", "a01"), -1);
    EXPECT_EQ(Names("a01b", "a1c"), -1);    // the letter decides before the zeros
    EXPECT_EQ(Names("a01x2", "a1x02"), 1);  // the first run with a zero difference decides
    EXPECT_EQ(Names("a_1", "aa"), -1);  // '_' sorts before letters
    EXPECT_EQ(Names("x99999999999999999999", "x100000000000000000000"), -1);
    EXPECT_EQ(Names("x000123456789012345678901234567890", "x123456789012345678901234567890"), 1);
    // The second option breaks ties in byte order and keeps the name order.
    EXPECT_EQ(NamesTotal("ABC", "abc"), -1);
    EXPECT_EQ(NamesTotal("a01", "A1"), 1);
    EXPECT_EQ(NamesTotal("Door 2", "door 10"), -1);
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

TEST(TextCompare, CountedLengths)
{
    EXPECT_EQ(ch04Manager.Compare("abcdef", 4, "abcxyz", 3, 0, 0), 1);
    EXPECT_EQ(ch04Manager.Compare("abc", -1, "abcxyz", 3, 0, 0), 0);
    // A length beyond the terminator stops at the terminator.
    EXPECT_EQ(ch04Manager.Compare("ab", 50, "ab", -1, 0, 0), 0);
    // A length may cut a digit run.
    EXPECT_EQ(ch04Manager.Compare("a123", 3, "a13", -1, 1, 0), -1);
    EXPECT_EQ(ch04Manager.Compare("a123", 2, "A1", -1, 1, 0), 0);
}

TEST(TextSearchAndCopy, BoundsAndTerminators)
{
    const char* text = "a/b/c";
    EXPECT_EQ(ch04Manager.FindChar(nullptr, 'a'), nullptr);
    EXPECT_EQ(ch04Manager.FindLastChar(text, -1, '/'), text + 3);
    EXPECT_EQ(ch04Manager.FindLastChar(text, 3, '/'), text + 1);
    EXPECT_EQ(ch04Manager.FindLastChar(text, 1, '/'), nullptr);

    char buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), '#');
    EXPECT_EQ(ch04Manager.CopyN(buffer, "abcdef", 3), buffer);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(buffer[4], '#');
}
