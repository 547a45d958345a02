#pragma once
// Stops the program's clock at one moment while it exists and puts the clock
// before it back afterwards, so that stamps, boundaries and file times are
// known in advance.

#include <utility>

#include "common/clock.h"

namespace kelvra::testing {

// 6 December 2026, 14:05:09.042.
inline constexpr LocalTime kSaintNicholas{2026, 12, 6, 14, 5, 9, 42};

class FixedClock {
  public:
    explicit FixedClock(LocalTime now = kSaintNicholas)
        : saved_(SetClockSource([now] { return now; })) {}
    ~FixedClock() { SetClockSource(std::move(saved_)); }
    FixedClock(const FixedClock&) = delete;
    FixedClock& operator=(const FixedClock&) = delete;

  private:
    ClockSource saved_;
};

}  // namespace kelvra::testing
