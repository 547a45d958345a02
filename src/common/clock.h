#pragma once
// The local wall clock, replaceable so that tests can fix the time.

#include <cstdint>
#include <functional>
#include <string>

namespace kelvra {

struct LocalTime {
    int year = 0;  // four digits
    int month = 0;
    int day = 0;
    int hour = 0;  // 0 to 23
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

using ClockSource = std::function<LocalTime()>;

// The current local date and time, from the installed source or the system.
LocalTime NowLocal();

// Installs a clock; an empty one restores the system clock. Returns the one
// installed before.
ClockSource SetClockSource(ClockSource source);

// Milliseconds on the local calendar (days since 1970-01-01 of the local date
// plus the local time of day), so that schedule arithmetic follows the local
// clock, changes of the clock included.
std::int64_t LocalMillis(const LocalTime& time);

// The system clock itself (platform rim).
LocalTime SystemLocalTime();

// The user's locale time separator, ":" in most locales (platform rim).
std::wstring LocaleTimeSeparator();

}  // namespace kelvra
