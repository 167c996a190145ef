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
    std::memcpy(*h, "0123456789abcdef", 16);
    ASSERT_EQ(bmManager.ReallocHandle(h, 40, true), NoError);
    EXPECT_EQ(HandleBytes(h), "0123456789abcdef" + std::string(24, '\0'));
    ASSERT_EQ(bmManager.ReallocHandle(h, 4), NoError);

    char** d = bmManager.DuplicateHandle(h);
    ASSERT_NE(d, nullptr);
    (*d)[0] = 'X';
    EXPECT_EQ(HandleBytes(h) + HandleBytes(d), "0123X123");
    EXPECT_EQ(bmManager.GetLiveHandleCount(), before + 2);

    char** stale = h;
    bmManager.KillHandle(h);
    bmManager.KillHandle(d);
    EXPECT_EQ(h, nullptr);
    EXPECT_FALSE(bmManager.IsHandle(stale));
    EXPECT_EQ(bmManager.GetLiveHandleCount(), before);

    TestSupport::OwnedHandle empty(bmManager.NewHandle(0));  // an empty block is a handle like any other
    ASSERT_EQ(bmManager.ReallocHandle(empty.h, 3, true), NoError);
    EXPECT_EQ(empty.Bytes(), std::string(3, '\0'));
}

// Null, foreign and inner pointers are refused and left alone; huge sizes
// fail without throwing.
TEST(MemoryHandles, BadPointersAndHugeSizesAreRefused)
{
    char block[8] = "abcdefg";
    char* master = block;
    char** live = bmManager.NewHandle(4);
    for (char** bad : {static_cast<char**>(nullptr), &master, reinterpret_cast<char**>(*live)}) {
        const ErrorCode error = bad == nullptr ? ErrNilHandle : ErrBadHandle;
        EXPECT_FALSE(bmManager.IsHandle(bad));
        EXPECT_EQ(bmManager.GetHandleSize(bad), 0u);
        EXPECT_EQ(bmManager.GetLastError(), error);
        EXPECT_EQ(bmManager.ReallocHandle(bad, 64), error);
        EXPECT_EQ(bmManager.DuplicateHandle(bad), nullptr);
        char** kept = bad;
        bmManager.KillHandle(kept);
        EXPECT_EQ(bmManager.GetLastError(), error);
        EXPECT_EQ(kept, bad);
    }
    EXPECT_STREQ(block, "abcdefg");
    int local = 0;
    int* notOurs = &local;
    bmManager.KillPtr(notOurs);  // only plain blocks of the manager are freed
    EXPECT_EQ(bmManager.GetLastError(), ErrBadHandle);

    const std::size_t before = bmManager.GetLiveHandleCount();
    EXPECT_EQ(bmManager.NewHandle(std::numeric_limits<std::size_t>::max(), true), nullptr);
    EXPECT_EQ(bmManager.GetLastError(), ErrMemFull);
    EXPECT_EQ(bmManager.NewPtr(std::size_t{1} << 50), nullptr);
    EXPECT_EQ(bmManager.GetLastError(), ErrMemFull);
    EXPECT_EQ(bmManager.GetLiveHandleCount(), before);
    std::memcpy(*live, "wxyz", 4);
    EXPECT_EQ(bmManager.ReallocHandle(live, std::numeric_limits<std::size_t>::max(), true), ErrMemFull);
    EXPECT_EQ(HandleBytes(live), "wxyz");
    bmManager.KillHandle(live);
}

TEST(ByteAndIntegerManagers, OverlappingCopyAndReversal)
{
    char text[] = "abcdef";
    bnManager.Copy(text + 1, text, 5);
    EXPECT_STREQ(text, "aabcde");
    bnManager.Copy(text, text + 2, 4);
    EXPECT_STREQ(text, "bcdede");

    std::int32_t i32 = -2;  // FF FF FF FE
    ivManager.Reverse32(&i32);
    EXPECT_EQ(i32, static_cast<std::int32_t>(0xFEFFFFFFu));
    std::int16_t i16 = -2;
    ivManager.Reverse16(&i16);
    EXPECT_EQ(i16, -257);  // FE FF
}
