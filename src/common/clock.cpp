#include "common/clock.h"

#include <utility>

namespace kelvra {
namespace {
ClockSource& InstalledClock() {
    static ClockSource source;
    return source;
}
}  // namespace

LocalTime NowLocal() {
    const ClockSource& source = InstalledClock();
    return source ? source() : SystemLocalTime();
}

ClockSource SetClockSource(ClockSource source) {
    return std::exchange(InstalledClock(), std::move(source));
}

}  // namespace kelvra
