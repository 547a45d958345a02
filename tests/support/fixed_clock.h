#pragma once
// Stops the program's clock at one moment while it exists and puts the clock
// before it back afterwards, so that stamps, boundaries and file times are
// known in advance.

#include "common/clock.h"
#include "common/scope.h"

namespace kelvra::testing {

// 6 December 2026, 14:05:09.042.
inline constexpr LocalTime kSaintNicholas{2026, 12, 6, 14, 5, 9, 42};

class FixedClock {
  public:
    explicit FixedClock(LocalTime now = kSaintNicholas) : installed_([now] { return now; }) {}
    FixedClock(const FixedClock&) = delete;
    FixedClock& operator=(const FixedClock&) = delete;

  private:
    ScopedHook<&SetClockSource> installed_;
};

}  // namespace kelvra::testing
