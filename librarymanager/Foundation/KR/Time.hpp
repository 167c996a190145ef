// Clock ticks and calendar time.
//
// Foundation time is a signed 32-bit count of seconds since
// 2001-01-01 00:00:00 UTC, which covers 1932-12-13 20:45:52 to
// 2069-01-19 03:14:07. Calendar records are in UTC.
#pragma once

#include "KR/Definitions.hpp"

namespace KR {

class ClockManager {
public:
    // Ticks per second of GetTicks (1000).
    std::int32_t GetTicksPerSecond() const noexcept;
    // A steady tick count since an arbitrary start.
    std::int64_t GetTicks() const noexcept;
};

struct DateTimeRecord {
    std::int16_t year = 2001;
    std::int16_t month = 1;      // 1 .. 12
    std::int16_t day = 1;        // 1 .. 31
    std::int16_t hour = 0;       // 0 .. 23
    std::int16_t minute = 0;     // 0 .. 59
    std::int16_t second = 0;     // 0 .. 59
    std::int16_t dayOfWeek = 1;  // 0 Sunday .. 6 Saturday; set by Split, ignored by Combine
};

class DateTimeManager {
public:
    // Seconds between 1970-01-01 and 2001-01-01 (UTC).
    static constexpr std::int64_t UnixEpochOffset = 978307200;

    // A replacement for the system clock, so that tests can decide what
    // "now" is without waiting. Null (the default) is the system clock.
    using TimeSource = std::int32_t (*)() noexcept;

    // The current time: the installed time source's answer, or the system
    // clock's.
    std::int32_t GetCurrentTime() const noexcept;
    // Installs `source` for every DateTimeManager of the process and returns
    // the one it replaces. For tests only; the module never calls it.
    static TimeSource SetTimeSource(TimeSource source) noexcept;
    void Split(std::int32_t time, DateTimeRecord* record) const noexcept;
    // Builds a time from a record. A month outside 1 .. 12 carries into the
    // year (month 13 is January of the next year, month 0 December of the year
    // before); a day beyond the end of its month is taken as the month's last
    // day and a day below 1 as the first; hour, minute and second outside
    // their ranges carry (also backwards when negative). A result outside the
    // 32-bit range is clamped to it.
    std::int32_t Combine(const DateTimeRecord& record) const noexcept;

    // Conversions to and from Unix time (seconds since 1970), clamped.
    static std::int32_t FromUnixTime(std::int64_t unixTime) noexcept;
    static std::int64_t ToUnixTime(std::int32_t time) noexcept;
};

extern ClockManager clockManager;
extern DateTimeManager dateTimeManager;

}  // namespace KR
