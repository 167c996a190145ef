#include "KR/Exceptions.hpp"
#include "KR/Memory.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

using namespace KR;

TEST(MemoryHandles, KeepSizeThroughResizeAndDuplicate)
{
    const std::size_t before = bmManager.GetLiveHandleCount();
    char** h = bmManager.NewHandle(16, true);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(bmManager.GetLastError(), NoError);
    EXPECT_TRUE(bmManager.IsHandle(h));
    ASSERT_EQ(bmManager.GetHandleSize(h), 16u);
    EXPECT_EQ(std::memcmp(*h, std::string(16, '\0').data(), 16), 0);

    std::memcpy(*h, "0123456789abcdef", 16);
    ASSERT_EQ(bmManager.ReallocHandle(h, 40, true), NoError);
    EXPECT_EQ(bmManager.GetHandleSize(h), 40u);
    EXPECT_EQ(std::memcmp(*h, "0123456789abcdef", 16), 0);
    EXPECT_EQ(std::memcmp(*h + 16, std::string(24, '\0').data(), 24), 0);
    ASSERT_EQ(bmManager.ReallocHandle(h, 4), NoError);
    EXPECT_EQ(bmManager.GetHandleSize(h), 4u);
    EXPECT_EQ(std::memcmp(*h, "0123", 4), 0);

    char** d = bmManager.DuplicateHandle(h);
    ASSERT_NE(d, nullptr);
    EXPECT_NE(d, h);
    EXPECT_NE(*d, *h);
    EXPECT_EQ(bmManager.GetHandleSize(d), 4u);
    (*d)[0] = 'X';
    EXPECT_EQ((*h)[0], '0');
    EXPECT_EQ(bmManager.GetLiveHandleCount(), before + 2);

    char** stale = h;
    bmManager.KillHandle(h);
    bmManager.KillHandle(d);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(d, nullptr);
    EXPECT_FALSE(bmManager.IsHandle(stale));
    EXPECT_EQ(bmManager.GetLiveHandleCount(), before);
}

TEST(MemoryHandles, EmptyBlocks)
{
    char** h = bmManager.NewHandle(0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(bmManager.GetHandleSize(h), 0u);
    EXPECT_EQ(bmManager.GetLastError(), NoError);
    ASSERT_EQ(bmManager.ReallocHandle(h, 3, true), NoError);
    EXPECT_EQ(std::memcmp(*h, "\0\0\0", 3), 0);
    ASSERT_EQ(bmManager.ReallocHandle(h, 0), NoError);
    EXPECT_EQ(bmManager.GetHandleSize(h), 0u);
    char** d = bmManager.DuplicateHandle(h);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(bmManager.GetHandleSize(d), 0u);
    bmManager.KillHandle(d);
    bmManager.KillHandle(h);
}

TEST(MemoryHandles, NullAndForeignPointersAreRefused)
{
    char block[8] = "abcdefg";
    char* master = block;
    char** foreign = &master;
    char** none = nullptr;

    EXPECT_EQ(bmManager.GetHandleSize(none), 0u);
    EXPECT_EQ(bmManager.GetLastError(), ErrNilHandle);
    EXPECT_EQ(bmManager.ReallocHandle(none, 4), ErrNilHandle);
    EXPECT_EQ(bmManager.DuplicateHandle(none), nullptr);
    EXPECT_EQ(bmManager.GetLastError(), ErrNilHandle);
    bmManager.KillHandle(none);
    EXPECT_EQ(bmManager.GetLastError(), ErrNilHandle);

    EXPECT_FALSE(bmManager.IsHandle(foreign));
    EXPECT_EQ(bmManager.GetHandleSize(foreign), 0u);
    EXPECT_EQ(bmManager.GetLastError(), ErrBadHandle);
    EXPECT_EQ(bmManager.ReallocHandle(foreign, 64), ErrBadHandle);
    EXPECT_EQ(bmManager.DuplicateHandle(foreign), nullptr);
    EXPECT_EQ(bmManager.GetLastError(), ErrBadHandle);
    char** kept = foreign;
    bmManager.KillHandle(kept);
    EXPECT_EQ(bmManager.GetLastError(), ErrBadHandle);
    EXPECT_EQ(kept, foreign);
    EXPECT_EQ(master, block);
    EXPECT_STREQ(block, "abcdefg");

    // A pointer into the middle of a live handle is not a handle either.
    char** h = bmManager.NewHandle(4);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(bmManager.GetHandleSize(reinterpret_cast<char**>(*h)), 0u);
    EXPECT_EQ(bmManager.GetLastError(), ErrBadHandle);
    EXPECT_EQ(bmManager.GetHandleSize(h), 4u);
    EXPECT_EQ(bmManager.GetLastError(), NoError);
    bmManager.KillHandle(h);
}

TEST(MemoryHandles, HugeSizesFailWithoutThrowing)
{
    const std::size_t before = bmManager.GetLiveHandleCount();
    for (std::size_t size : {std::numeric_limits<std::size_t>::max(), std::size_t{1} << 50}) {
        EXPECT_EQ(bmManager.NewHandle(size, true), nullptr);
        EXPECT_EQ(bmManager.GetLastError(), ErrMemFull);
        EXPECT_EQ(bmManager.NewPtr(size), nullptr);
        EXPECT_EQ(bmManager.GetLastError(), ErrMemFull);
    }
    EXPECT_EQ(bmManager.GetLiveHandleCount(), before);

    char** h = bmManager.NewHandle(4);
    ASSERT_NE(h, nullptr);
    std::memcpy(*h, "wxyz", 4);
    EXPECT_EQ(bmManager.ReallocHandle(h, std::numeric_limits<std::size_t>::max(), true), ErrMemFull);
    EXPECT_EQ(bmManager.GetHandleSize(h), 4u);
    EXPECT_EQ(std::memcmp(*h, "wxyz", 4), 0);
    bmManager.KillHandle(h);

    try {
        ThrowIfNull(bmManager.NewHandle(std::numeric_limits<std::size_t>::max()), "MemoryTest");
        FAIL() << "no exception";
    } catch (const OutOfMemoryException& e) {
        EXPECT_EQ(e.GetID(), ErrMemFull);
        EXPECT_EQ(e.GetSourceName(), "MemoryTest");
    }
}

TEST(PlainBlocks, AllocateClearAndKill)
{
    auto* p = static_cast<unsigned char*>(bmManager.NewPtr(32, true));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 32; ++i)
        ASSERT_EQ(p[i], 0) << i;
    bmManager.KillPtr(p);
    EXPECT_EQ(p, nullptr);

    int local = 0;
    int* foreign = &local;
    bmManager.KillPtr(foreign);
    EXPECT_EQ(bmManager.GetLastError(), ErrBadHandle);
    EXPECT_EQ(foreign, &local);
}

TEST(ByteAndIntegerManagers, OverlapFillAndReversal)
{
    char text[] = "abcdef";
    bnManager.Copy(text + 1, text, 5);
    EXPECT_STREQ(text, "aabcde");
    bnManager.Copy(text, text + 2, 4);
    EXPECT_STREQ(text, "bcdede");
    bnManager.Copy(nullptr, nullptr, 0);
    bnManager.Fill(text + 1, 'z', 3);
    EXPECT_STREQ(text, "bzzzde");

    std::uint32_t u32 = 0x11223344u;
    ivManager.Reverse32(&u32);
    EXPECT_EQ(u32, 0x44332211u);
    std::int32_t i32 = -2;  // FF FF FF FE
    ivManager.Reverse32(&i32);
    EXPECT_EQ(i32, static_cast<std::int32_t>(0xFEFFFFFFu));
    std::uint16_t u16 = 0xA1B2;
    ivManager.Reverse16(&u16);
    EXPECT_EQ(u16, 0xB2A1);
    std::int16_t i16 = -2;
    ivManager.Reverse16(&i16);
    EXPECT_EQ(i16, -257);  // FE FF
}
