#pragma once
// The local wall clock, replaceable so that tests can fix the time.

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

// The system clock itself (platform rim).
LocalTime SystemLocalTime();

// The user's locale time separator, ":" in most locales (platform rim).
std::wstring LocaleTimeSeparator();

}  // namespace kelvra
