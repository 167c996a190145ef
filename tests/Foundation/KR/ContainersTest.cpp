#include "KR/Containers.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace KR;

namespace {

// Runs `f` and returns the message of the IllegalArgumentException it
// throws, checking the exception's id and source on the way.
template <typename F>
std::string BadArgumentMessage(F&& f, const char* source)
{
    try {
        f();
    } catch (const IllegalArgumentException& e) {
        EXPECT_EQ(e.GetID(), ErrIllegalArgument);
        EXPECT_EQ(e.GetSourceName(), source);
        return e.GetMessage();
    }
    ADD_FAILURE() << "no exception";
    return {};
}

}  // namespace

TEST(VAArray, CountsFromOneAndRefusesBadIndexes)
{
    VAArray<int> a;
    EXPECT_EQ(a.Push(10), 1u);
    EXPECT_EQ(a.Push(30), 2u);
    a.Insert(2, 20);
    a.Insert(1, 5);
    a.Insert(5, 40);  // one past the end appends
    EXPECT_EQ(std::vector<int>(a.begin(), a.end()), (std::vector<int>{5, 10, 20, 30, 40}));
    EXPECT_EQ(a[1], 5);
    EXPECT_EQ(a.Find(30), 4u);
    EXPECT_EQ(a.Find(99), 0u);
    a.Delete(2, 3);
    EXPECT_EQ(std::vector<int>(a.begin(), a.end()), (std::vector<int>{5, 40}));
    a.SetSize(5);
    EXPECT_EQ(a[5], 0);

    // Bad indexes and empty pops throw with their place, and change nothing.
    EXPECT_EQ(BadArgumentMessage([&] { (void)a[6]; }, "VAArray"), "Index 6 out of range 1..5 in VAArray::operator[].");
    EXPECT_EQ(BadArgumentMessage([&] { a.Delete(4, 3); }, "VAArray"), "Index 4 out of range 1..5 in VAArray::Delete.");
    EXPECT_EQ(a.GetSize(), 5u);
    VAArray<int> empty;
    EXPECT_EQ(BadArgumentMessage([&] { empty.Pop(); }, "VAArray"), "Empty container in VAArray::Pop.");
}

TEST(VAQueue, FirstInFirstOutAndEmptyPopThrows)
{
    VAQueue<std::string> q;
    q.Push("one");
    q.Push("two");
    EXPECT_EQ(q.Pop(), "one");
    EXPECT_EQ(q.Pop(), "two");
    EXPECT_EQ(BadArgumentMessage([&] { q.Pop(); }, "VAQueue"), "Empty container in VAQueue::Pop.");
}
