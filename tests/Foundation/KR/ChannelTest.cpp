#include "KR/Channel.hpp"
#include "KR/String.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <tuple>

using namespace KR;

namespace {

std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s += static_cast<char>(v);
    return s;
}

constexpr bool LittleEndianHost = std::endian::native == std::endian::little;

// Bytes of `v` written most significant first, or least significant first.
std::string Word32(std::uint32_t v, bool bigEndian)
{
    const std::string little = Bytes({int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF), int(v >> 24)});
    return bigEndian ? std::string(little.rbegin(), little.rend()) : little;
}
// Bytes of `v` in the host's order, or in the other.
std::string Host32(std::uint32_t v, bool reversed = false)
{
    return Word32(v, LittleEndianHost == reversed);
}

const ClassInfo thingInfo("Test::Thing", ClassVersion{2, 3});

}  // namespace

TEST(BinaryProtocols, IntegersHaveExactBytesInBothOrders)
{
    const auto values = std::make_tuple(std::uint8_t{0xAB}, std::int8_t{-2}, true, 'q', std::uint16_t{0x1234},
                                        std::int16_t{-3}, std::uint32_t{0x11223344}, std::int32_t{-5});
    for (bool reversed : {false, true}) {
        SCOPED_TRACE(reversed ? "reversed" : "host order");
        StringOChannel out(reversed ? binRevOProtocol : binOProtocol);
        std::apply([&](auto... v) { (out << ... << v); }, values);
        ASSERT_EQ(out.GetStatus(), NoError);
        const bool big = LittleEndianHost == reversed;
        const std::string words16 = big ? Bytes({0x12, 0x34, 0xFF, 0xFD}) : Bytes({0x34, 0x12, 0xFD, 0xFF});
        EXPECT_EQ(out.GetText(),
                  Bytes({0xAB, 0xFE, 1, 'q'}) + words16 + Word32(0x11223344, big) + Word32(0xFFFFFFFB, big));

        StringIChannel in(out.GetText(), reversed ? binRevIProtocol : binIProtocol);
        std::remove_const_t<decltype(values)> back{};
        ErrorCode err = NoError;
        std::apply([&](auto&... v) { ((err = err != NoError ? err : in.Read(v)), ...); }, back);  // in order
        EXPECT_EQ(err, NoError);
        EXPECT_EQ(back, values);
        EXPECT_EQ(in.GetRemaining(), 0u);
    }
}

// Strings, their limits and forged counts are reached by the module's
// readers and the channel fuzz replay; a null text is written as empty.
TEST(BinaryProtocols, NullTextIsWrittenEmpty)
{
    StringOChannel out(binRevOProtocol);
    out.Write("abc");
    out.Write(static_cast<const char*>(nullptr));
    out.WriteString(std::string_view("hey"));
    EXPECT_EQ(out.GetText(), std::string("abc\0\0", 5) + Host32(3, true) + "hey");
}

// The text protocol prints values; a file channel writes them, a closed
// one refuses.
TEST(Channels, TextProtocolPrintsValuesToStringsAndFiles)
{
    StringOChannel out;
    out << std::int32_t{-5} << ' ' << true << ' ' << false << ' ' << std::uint16_t{7} << ' '
        << std::int8_t{-128} << ' ' << std::numeric_limits<std::uint32_t>::max() << ' ' << "cstr"
        << std::string("|std");
    EXPECT_EQ(out.GetStatus(), NoError);
    String("obj").Print(out);
    EXPECT_EQ(out.Take(), "-5 true false 7 -128 4294967295 cstr|stdobj");
    EXPECT_EQ(out.GetText(), "");

    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    FileOChannel file(f);
    file << std::int32_t{42} << " ok";
    EXPECT_EQ(file.Flush(), NoError);
    std::rewind(f);
    char line[16] = {};
    ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);
    EXPECT_STREQ(line, "42 ok");
    std::fclose(f);
    EXPECT_EQ(FileOChannel(nullptr).Write(std::int32_t{1}), ErrChannelClosed);
}

// A frame's layout and the reader's refusals are reached by the module's
// files and the fuzz replays; here the version read back and a class name
// too long for any reader, which the writer refuses.
TEST(Frames, VersionReadBackAndTooLongAName)
{
    StringOChannel out(binOProtocol);
    OutputFrame(out, thingInfo).Close();
    StringIChannel in(out.GetText());
    InputFrame frame(in, thingInfo);
    EXPECT_EQ(frame.GetVersion(), (ClassVersion{2, 3}));
    EXPECT_EQ(frame.Close(), NoError);

    const std::string longName(300, 'n');
    StringOChannel refused(binOProtocol);
    EXPECT_EQ(OutputFrame(refused, ClassInfo(longName.c_str(), ClassVersion{1, 0})).GetStatus(), ErrIllegalArgument);
    EXPECT_EQ(refused.GetText(), "");
}
