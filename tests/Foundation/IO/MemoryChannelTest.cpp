#include "IO/MemoryChannel.hpp"
#include "KR/Memory.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(MemoryChannel, WritesGrowAndTransferOwnership)
{
    IO::MemoryOChannel out(4, 1);  // tiny start and step: growth must still be cheap and correct
    std::string expected;
    for (std::int32_t i = 0; i < 5000; ++i) {
        ASSERT_EQ(out.Write(i), 0);
        expected.append(reinterpret_cast<const char*>(&i), sizeof i);
    }
    ASSERT_EQ(out.WriteString("tail"), 0);
    const std::uint32_t count = 4;
    expected.append(reinterpret_cast<const char*>(&count), sizeof count).append("tail");
    ASSERT_EQ(out.GetDataSize(), expected.size());
    char* owned = out.GetDestination(IO::Ownership::Transfer);
    ASSERT_NE(owned, nullptr);
    EXPECT_EQ(out.GetDataSize(), 0u);  // the channel starts empty again
    EXPECT_EQ(out.GetDestination(IO::Ownership::Transfer), nullptr);

    // The transferred block is read back and freed by the input channel.
    IO::MemoryIChannel in(owned, expected.size(), IO::Ownership::Transfer);
    for (std::int32_t i = 0; i < 5000; ++i) {
        std::int32_t value = -1;
        ASSERT_EQ(in.Read(value), 0);
        ASSERT_EQ(value, i);
    }
    std::string tail;
    ASSERT_EQ(in.ReadString(&tail), 0);
    EXPECT_EQ(tail, "tail");

    // Reads stop at the end.
    ASSERT_EQ(in.SetPosition(in.GetDataSize() - 2), 0);
    char buffer[4] = {};
    std::size_t read = 0;
    EXPECT_EQ(in.ReadBin(buffer, 4, &read), KR::ErrEndOfChannel);
    EXPECT_EQ(std::string(buffer, read), "il");
    EXPECT_EQ(in.SetPosition(in.GetDataSize()), 0);
    EXPECT_EQ(in.SetPosition(in.GetDataSize() + 1), KR::ErrIllegalArgument);
}
