#include "KR/Memory.hpp"

#include "Support/Handles.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

using namespace KR;
using TestSupport::HandleBytes;

TEST(MemoryHandles, KeepContentThroughResizeAndDuplicate)
{
    const std::size_t before = bmManager.GetLiveHandleCount();
    char** h = bmManager.NewHandle(16, true);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(HandleBytes(h), std::string(16, '\0'));

    std::memcpy(*h, "0123456789abcdef", 16);
    ASSERT_EQ(bmManager.ReallocHandle(h, 40, true), NoError);
    EXPECT_EQ(HandleBytes(h), "0123456789abcdef" + std::string(24, '\0'));
    ASSERT_EQ(bmManager.ReallocHandle(h, 4), NoError);
    EXPECT_EQ(HandleBytes(h), "0123");

    char** d = bmManager.DuplicateHandle(h);
    ASSERT_NE(d, nullptr);
    (*d)[0] = 'X';
    EXPECT_EQ(HandleBytes(h) + HandleBytes(d), "0123X123");
    EXPECT_EQ(bmManager.GetLiveHandleCount(), before + 2);

    char** stale = h;
    bmManager.KillHandle(h);
    bmManager.KillHandle(d);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(d, nullptr);
    EXPECT_FALSE(bmManager.IsHandle(stale));
    EXPECT_EQ(bmManager.GetLiveHandleCount(), before);

    // Empty blocks are handles like any other.
    TestSupport::OwnedHandle empty(bmManager.NewHandle(0));
    ASSERT_NE(empty.h, nullptr);
    ASSERT_EQ(bmManager.ReallocHandle(empty.h, 3, true), NoError);
    EXPECT_EQ(empty.Bytes(), std::string(3, '\0'));
}

TEST(MemoryHandles, NullAndForeignPointersAreRefused)
{
    char block[8] = "abcdefg";
    char* master = block;
    char** foreign = &master;
    char** none = nullptr;
    for (char** bad : {none, foreign}) {
        const ErrorCode error = bad == nullptr ? ErrNilHandle : ErrBadHandle;
        SCOPED_TRACE(bad == nullptr ? "null" : "foreign");
        EXPECT_FALSE(bmManager.IsHandle(bad));
        EXPECT_EQ(bmManager.GetHandleSize(bad), 0u);
        EXPECT_EQ(bmManager.GetLastError(), error);
        EXPECT_EQ(bmManager.ReallocHandle(bad, 64), error);
        EXPECT_EQ(bmManager.DuplicateHandle(bad), nullptr);
        EXPECT_EQ(bmManager.GetLastError(), error);
        char** kept = bad;
        bmManager.KillHandle(kept);
        EXPECT_EQ(bmManager.GetLastError(), error);
        EXPECT_EQ(kept, bad);
    }
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

    // Only plain blocks of the manager are freed.
    int local = 0;
    int* notOurs = &local;
    bmManager.KillPtr(notOurs);
    EXPECT_EQ(bmManager.GetLastError(), ErrBadHandle);
    EXPECT_EQ(notOurs, &local);
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

    TestSupport::OwnedHandle h(std::string("wxyz"));
    EXPECT_EQ(bmManager.ReallocHandle(h.h, std::numeric_limits<std::size_t>::max(), true), ErrMemFull);
    EXPECT_EQ(h.Bytes(), "wxyz");
}

TEST(ByteAndIntegerManagers, OverlappingCopyAndReversal)
{
    char text[] = "abcdef";
    bnManager.Copy(text + 1, text, 5);
    EXPECT_STREQ(text, "aabcde");
    bnManager.Copy(text, text + 2, 4);
    EXPECT_STREQ(text, "bcdede");

    std::uint32_t u32 = 0x11223344u;
    ivManager.Reverse32(&u32);
    EXPECT_EQ(u32, 0x44332211u);
    std::int32_t i32 = -2;  // FF FF FF FE
    ivManager.Reverse32(&i32);
    EXPECT_EQ(i32, static_cast<std::int32_t>(0xFEFFFFFFu));
    std::int16_t i16 = -2;
    ivManager.Reverse16(&i16);
    EXPECT_EQ(i16, -257);  // FE FF
}
