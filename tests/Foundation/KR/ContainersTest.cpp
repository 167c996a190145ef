#include "KR/Containers.hpp"
#include "KR/Iterator.hpp"

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

TEST(VAArray, CountsFromOne)
{
    VAArray<int> a;
    EXPECT_EQ(a.Push(10), 1u);
    EXPECT_EQ(a.Push(20), 2u);
    EXPECT_EQ(a.Push(30), 3u);
    EXPECT_EQ(a[1], 10);
    EXPECT_EQ(a.Get(3), 30);
    a.Set(2, 21);
    EXPECT_EQ(*(a.GetContent() + 1), 21);
    EXPECT_EQ(a.Find(30), 3u);
    EXPECT_EQ(a.Find(99), 0u);

    a.Insert(1, 5);
    a.Insert(5, 40);
    EXPECT_EQ(std::vector<int>(a.begin(), a.end()), (std::vector<int>{5, 10, 21, 30, 40}));
    a.Delete(2, 3);
    EXPECT_EQ(std::vector<int>(a.begin(), a.end()), (std::vector<int>{5, 40}));
    a.Delete(1, 0);
    a.Pop();
    EXPECT_EQ(a.GetSize(), 1u);
    a.SetSize(3);
    EXPECT_EQ(a[3], 0);
    a.Clear();
    EXPECT_EQ(a.GetContent(), nullptr);
    EXPECT_EQ(VAArray<int>(0).GetStep(), 1);
}

TEST(VAArray, BadIndexesThrowWithTheirPlace)
{
    VAArray<std::string> a;
    for (const char* s : {"a", "b", "c", "d", "e"})
        a.Push(s);
    const VAArray<std::string>& ca = a;
    EXPECT_EQ(BadArgumentMessage([&] { (void)a[7]; }, "VAArray"), "Index 7 out of range 1..5 in VAArray::operator[].");
    EXPECT_EQ(BadArgumentMessage([&] { (void)ca[0]; }, "VAArray"), "Index 0 out of range 1..5 in VAArray::operator[].");
    EXPECT_EQ(BadArgumentMessage([&] { a.Insert(7, "x"); }, "VAArray"), "Index 7 out of range 1..5 in VAArray::Insert.");
    EXPECT_EQ(BadArgumentMessage([&] { a.Delete(4, 3); }, "VAArray"), "Index 4 out of range 1..5 in VAArray::Delete.");
    EXPECT_EQ(a.GetSize(), 5u);

    VAArray<int> empty;
    EXPECT_EQ(BadArgumentMessage([&] { (void)empty[1]; }, "VAArray"), "Index 1 out of range (empty) in VAArray::operator[].");
    EXPECT_EQ(BadArgumentMessage([&] { empty.Pop(); }, "VAArray"), "Empty container in VAArray::Pop.");
}

TEST(VAQueue, FirstInFirstOut)
{
    VAQueue<std::string> q;
    q.Push("one");
    q.Push("two");
    EXPECT_EQ(q.Front(), "one");
    EXPECT_EQ(q.Pop(), "one");
    q.Push("three");
    EXPECT_EQ(q.Pop(), "two");
    EXPECT_EQ(q.Pop(), "three");
    EXPECT_TRUE(q.IsEmpty());
    EXPECT_EQ(BadArgumentMessage([&] { q.Pop(); }, "VAQueue"), "Empty container in VAQueue::Pop.");
    EXPECT_EQ(BadArgumentMessage([&] { (void)q.Front(); }, "VAQueue"), "Empty container in VAQueue::Front.");
}

TEST(ConstForwardIterator, YieldsUntilItsEnd)
{
    std::vector<int> v{1, 2, 3};
    ConstForwardIterator<int> it(v.begin(), v.end());
    ++it;
    ConstForwardIterator<int> copy = it;
    ++it;
    ++it;
    EXPECT_TRUE(it.IsEnd());
    ++it;  // stays at the end
    EXPECT_TRUE(it.IsEnd());
    EXPECT_THROW((void)*it, IllegalArgumentException);
    std::vector<int> rest;
    for (; !copy.IsEnd(); ++copy)
        rest.push_back(*copy);
    EXPECT_EQ(rest, (std::vector<int>{2, 3}));
    EXPECT_TRUE(ConstForwardIterator<int>().IsEnd());
}
