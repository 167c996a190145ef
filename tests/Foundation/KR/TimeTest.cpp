#include "KR/Time.hpp"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <ctime>
#include <limits>
#include <thread>
#include <vector>

using namespace KR;

namespace {

constexpr std::int32_t Min32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t Max32 = std::numeric_limits<std::int32_t>::max();

DateTimeRecord Record(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    DateTimeRecord r;
    r.year = static_cast<std::int16_t>(y);
    r.month = static_cast<std::int16_t>(mo);
    r.day = static_cast<std::int16_t>(d);
    r.hour = static_cast<std::int16_t>(h);
    r.minute = static_cast<std::int16_t>(mi);
    r.second = static_cast<std::int16_t>(s);
    return r;
}

std::int32_t Combine(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return dateTimeManager.Combine(Record(y, mo, d, h, mi, s));
}

// Year, month, day, hour, minute, second and day of the week.
using Fields = std::array<int, 7>;

Fields Split(std::int32_t t)
{
    DateTimeRecord r;
    dateTimeManager.Split(t, &r);
    return {r.year, r.month, r.day, r.hour, r.minute, r.second, r.dayOfWeek};
}

constexpr std::int32_t Day = 86400;

}  // namespace

// The ends of the range (also from Unix times), days clamped in their
// month and other fields carried; the differential test below covers ordinary times.
TEST(CalendarTime, RangeEndsClampAndCarry)
{
    EXPECT_EQ(Split(Max32), (Fields{2069, 1, 19, 3, 14, 7, 6}));
    EXPECT_EQ(Split(Min32), (Fields{1932, 12, 13, 20, 45, 52, 2}));
    const std::vector<std::pair<std::int32_t, std::int32_t>> cases = {
        {Combine(2069, 1, 19, 3, 14, 8), Max32},  // one second past: clamped
        {Combine(-32768, 1, 1), Min32},
        {Combine(2000, 3, 1) - Combine(2000, 2, 28), 2 * Day},  // divisible by 400
        {Combine(2004, -12, 1), Combine(2002, 12, 1)},
        {Combine(2003, 14, 30), Combine(2004, 2, 29)},  // clamped in the month reached after the carry
        {Combine(2000, 12, 31, 23, 59, 60), 0},  // clock fields carry into the day and beyond
        {Combine(2001, 1, 1, 32767, 32767, 32767), 32767 * 3600 + 32767 * 60 + 32767},
    };
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(cases[i].first, cases[i].second) << "case " << i;
    EXPECT_EQ(DateTimeManager::FromUnixTime(std::numeric_limits<std::int64_t>::max()), Max32);
    EXPECT_EQ(DateTimeManager::FromUnixTime(std::numeric_limits<std::int64_t>::min()), Min32);
}

TEST(CalendarTime, SplitAndCombineAgreeWithTheSystemCalendar)
{
    const std::int64_t step = 9999991;  // a prime, so times of day vary
    for (std::int64_t t = Min32; t <= Max32; t += step) {
        const std::int32_t time = static_cast<std::int32_t>(t);
        DateTimeRecord r;
        dateTimeManager.Split(time, &r);
        ASSERT_EQ(dateTimeManager.Combine(r), time);

        const std::time_t unix = static_cast<std::time_t>(DateTimeManager::ToUnixTime(time));
        std::tm tm{};
        ASSERT_NE(gmtime_r(&unix, &tm), nullptr);
        ASSERT_EQ(Split(time), (Fields{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                                       tm.tm_wday}))
            << time;
    }
}

TEST(Clock, TicksAreMilliseconds)
{
    const std::int64_t start = clockManager.GetTicks();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_GE(clockManager.GetTicks() - start, 20);
}
