#include "KR/Memory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

using namespace KR;

// Thousands of handles make the registry grow several times and wrap its
// probing around; killing a third of them in random order moves the others
// about. Every handle still alive must be found with its own size.
TEST(HandleRegistry, LiveHandlesStayFoundThroughGrowthAndRemovals)
{
    const std::size_t before = bmManager.GetLiveHandleCount();
    constexpr std::size_t Count = 6000;
    std::vector<char**> handles;
    for (std::size_t i = 0; i < Count; ++i) {
        handles.push_back(bmManager.NewHandle(i % 97));
        ASSERT_NE(handles.back(), nullptr);
    }
    std::vector<std::size_t> order(Count);
    for (std::size_t i = 0; i < Count; ++i)
        order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    for (std::size_t k = 0; k < Count / 3; ++k)
        bmManager.KillHandle(handles[order[k]]);

    std::size_t alive = 0;
    for (std::size_t i = 0; i < Count; ++i) {
        if (handles[i] == nullptr)
            continue;
        ++alive;
        ASSERT_TRUE(bmManager.IsHandle(handles[i])) << i;
        EXPECT_EQ(bmManager.GetHandleSize(handles[i]), i % 97) << i;
    }
    EXPECT_EQ(alive, Count - Count / 3);
    EXPECT_EQ(bmManager.GetLiveHandleCount(), before + alive);
    for (char**& h : handles)
        if (h != nullptr)
            bmManager.KillHandle(h);
    EXPECT_EQ(bmManager.GetLiveHandleCount(), before);
}
