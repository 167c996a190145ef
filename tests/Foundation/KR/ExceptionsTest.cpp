#include "KR/DebugChannel.hpp"
#include "KR/Exceptions.hpp"
#include "KR/Memory.hpp"
#include "KR/String.hpp"

#include "Support/Handles.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <memory>

using namespace KR;

TEST(Exceptions, PrintIsOneLine)
{
    StringOChannel out;
    IllegalArgumentException("Index 0 out of range.", "VAArray").Print(out);
    EXPECT_EQ(out.Take(), "IllegalArgumentException 0x81000001 in VAArray: Index 0 out of range.\n");
    OutOfMemoryException(ErrMemFull, "Memory").Print(out);
    EXPECT_EQ(out.Take(), "OutOfMemoryException 0xFFFFFF94 in Memory: Out of memory.\n");  // negative ids in hex

    // A binary channel gets the same bytes, without counts.
    StringOChannel binary(binOProtocol);
    IllegalStateException("Not now.").Print(binary);
    EXPECT_EQ(binary.GetText(), "IllegalStateException 0x81000007: Not now.\n");
}

TEST(Exceptions, OutOfMemoryCarriesTheManagersLastError)
{
    char* block = nullptr;
    char** foreign = &block;
    (void)bmManager.GetHandleSize(foreign);
    ASSERT_EQ(bmManager.GetLastError(), ErrBadHandle);
    try {
        ThrowOutOfMemory("Test");
    } catch (const OutOfMemoryException& e) {
        EXPECT_EQ(e.GetID(), ErrBadHandle);
        EXPECT_EQ(e.GetSourceName(), "Test");
    }
    TestSupport::OwnedHandle h(std::string("x"));  // leaves the manager without an error
    EXPECT_THROW(ThrowOutOfMemory(nullptr), OutOfMemoryException);
}

TEST(DebugChannel, CaptureNestsAndRestores)
{
    ASSERT_EQ(dbChannel.GetTarget(), nullptr);
    {
        DebugCapture outer;
        dbChannel << "outer " << std::int32_t{1};
        {
            DebugCapture inner;
            IllegalArgumentException("Bad.", "Src").Print(dbChannel);
            EXPECT_EQ(inner.GetText(), "IllegalArgumentException 0x81000001 in Src: Bad.\n");
        }
        dbChannel << " again";
        EXPECT_EQ(outer.GetText(), "outer 1 again");
    }
    EXPECT_EQ(dbChannel.GetTarget(), nullptr);
    EXPECT_EQ(dbChannel.Redirect(&dbChannel), nullptr);
    EXPECT_EQ(dbChannel.GetTarget(), nullptr);  // a loop onto itself means stderr
}

TEST(Objects, ClassInfoIsAFollowsTheBaseChain)
{
    const ClassInfo derived("Test::Derived", ClassVersion{1, 2}, &String::classInfo);
    EXPECT_TRUE(derived.IsA(derived));
    EXPECT_TRUE(derived.IsA(Object::classInfo));
    EXPECT_FALSE(Object::classInfo.IsA(String::classInfo));
}
