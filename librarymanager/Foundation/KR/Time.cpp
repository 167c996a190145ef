#include "KR/Time.hpp"

#include <atomic>
#include <chrono>
#include <limits>

namespace KR {

ClockManager clockManager;
DateTimeManager dateTimeManager;

std::int32_t ClockManager::GetTicksPerSecond() const noexcept
{
    return 1000;
}

std::int64_t ClockManager::GetTicks() const noexcept
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

namespace {

constexpr std::int64_t SecondsPerDay = 86400;

constexpr std::int64_t FloorDiv(std::int64_t a, std::int64_t b) noexcept
{
    std::int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

constexpr std::int64_t FloorMod(std::int64_t a, std::int64_t b) noexcept
{
    return a - FloorDiv(a, b) * b;
}

bool IsLeapYear(std::int64_t y) noexcept
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

std::int64_t DaysInMonth(std::int64_t y, std::int64_t m) noexcept
{
    static constexpr std::int64_t days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : days[m - 1];
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian
// calendar. Years are counted from March so that the leap day is the last
// day of its year; 400-year eras of 146097 days repeat exactly.
constexpr std::int64_t DaysFromCivil(std::int64_t y, std::int64_t m, std::int64_t d) noexcept
{
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = FloorDiv(y, 400);
    const std::int64_t yoe = y - era * 400;                                // [0, 399]
    const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;  // [0, 365]
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;        // [0, 146096]
    return era * 146097 + doe - 719468;
}

// The inverse of DaysFromCivil.
void CivilFromDays(std::int64_t z, std::int64_t* year, std::int64_t* month, std::int64_t* day) noexcept
{
    z += 719468;
    const std::int64_t era = FloorDiv(z, 146097);
    const std::int64_t doe = z - era * 146097;                                     // [0, 146096]
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);              // [0, 365]
    const std::int64_t mp = (5 * doy + 2) / 153;                                   // [0, 11], March first
    *day = doy - (153 * mp + 2) / 5 + 1;
    *month = mp < 10 ? mp + 3 : mp - 9;
    *year = yoe + era * 400 + (*month <= 2 ? 1 : 0);
}

constexpr std::int64_t EpochDays = DaysFromCivil(2001, 1, 1);
static_assert(EpochDays == 11323 && EpochDays * 86400 == DateTimeManager::UnixEpochOffset);

std::int32_t ClampToInt32(std::int64_t v) noexcept
{
    if (v < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    if (v > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(v);
}

}  // namespace

namespace {

std::atomic<DateTimeManager::TimeSource> installedTimeSource{nullptr};

}  // namespace

DateTimeManager::TimeSource DateTimeManager::SetTimeSource(TimeSource source) noexcept
{
    return installedTimeSource.exchange(source);
}

std::int32_t DateTimeManager::GetCurrentTime() const noexcept
{
    if (TimeSource source = installedTimeSource.load(std::memory_order_relaxed))
        return source();
    using namespace std::chrono;
    std::int64_t unixSeconds = floor<seconds>(system_clock::now()).time_since_epoch().count();
    return FromUnixTime(unixSeconds);
}

void DateTimeManager::Split(std::int32_t time, DateTimeRecord* record) const noexcept
{
    if (record == nullptr)
        return;
    const std::int64_t days = FloorDiv(time, SecondsPerDay);
    const std::int64_t secs = time - days * SecondsPerDay;
    std::int64_t y = 0;
    std::int64_t m = 0;
    std::int64_t d = 0;
    CivilFromDays(EpochDays + days, &y, &m, &d);
    record->year = static_cast<std::int16_t>(y);
    record->month = static_cast<std::int16_t>(m);
    record->day = static_cast<std::int16_t>(d);
    record->hour = static_cast<std::int16_t>(secs / 3600);
    record->minute = static_cast<std::int16_t>(secs / 60 % 60);
    record->second = static_cast<std::int16_t>(secs % 60);
    // 2001-01-01 was a Monday.
    record->dayOfWeek = static_cast<std::int16_t>(FloorMod(days + 1, 7));
}

std::int32_t DateTimeManager::Combine(const DateTimeRecord& record) const noexcept
{
    const std::int64_t monthIndex = std::int64_t{record.month} - 1;
    const std::int64_t y = record.year + FloorDiv(monthIndex, 12);
    const std::int64_t m = FloorMod(monthIndex, 12) + 1;
    std::int64_t d = record.day;
    const std::int64_t last = DaysInMonth(y, m);
    if (d > last)
        d = last;
    if (d < 1)
        d = 1;
    const std::int64_t days = DaysFromCivil(y, m, d) - EpochDays;
    const std::int64_t total = days * SecondsPerDay + std::int64_t{record.hour} * 3600 +
                               std::int64_t{record.minute} * 60 + record.second;
    return ClampToInt32(total);
}

std::int32_t DateTimeManager::FromUnixTime(std::int64_t unixTime) noexcept
{
    if (unixTime < std::numeric_limits<std::int64_t>::min() + UnixEpochOffset)
        return std::numeric_limits<std::int32_t>::min();
    return ClampToInt32(unixTime - UnixEpochOffset);
}

std::int64_t DateTimeManager::ToUnixTime(std::int32_t time) noexcept
{
    return std::int64_t{time} + UnixEpochOffset;
}

}  // namespace KR
