#include "KR/Exceptions.hpp"
#include "KR/Memory.hpp"
#include "KR/String.hpp"

#include "Support/Handles.hpp"

#include <gtest/gtest.h>

using namespace KR;

// Printing exceptions and capturing the debug channel are reached by the
// module's tests (and what it prints on failures).
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

TEST(Objects, ClassInfoIsAFollowsTheBaseChain)
{
    const ClassInfo derived("Test::Derived", ClassVersion{1, 2}, &String::classInfo);
    EXPECT_TRUE(derived.IsA(derived));
    EXPECT_TRUE(derived.IsA(Object::classInfo));
    EXPECT_FALSE(Object::classInfo.IsA(String::classInfo));
}
