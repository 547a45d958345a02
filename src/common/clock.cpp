#include "common/clock.h"

#include <utility>

namespace kelvra {
namespace {
ClockSource& InstalledClock() {
    static ClockSource source;
    return source;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

}  // namespace

std::int64_t LocalMillis(const LocalTime& t) {
    const std::int64_t days =
        DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day));
    return ((days * 24 + t.hour) * 60 + t.minute) * 60000LL + t.second * 1000LL + t.millisecond;
}

LocalTime NowLocal() {
    const ClockSource& source = InstalledClock();
    return source ? source() : SystemLocalTime();
}

ClockSource SetClockSource(ClockSource source) {
    return std::exchange(InstalledClock(), std::move(source));
}

}  // namespace kelvra
