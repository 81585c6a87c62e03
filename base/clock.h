// The one seam through which the program reads the time of day.
//
// Times are Windows file times: 100-nanosecond units since 1601-01-01, UTC.
// The default clock is the system's; tests install a fixed one. Any thread.
#pragma once

#include <cstdint>

namespace vellum {

using FileTime = std::uint64_t;

class Clock {
public:
    virtual ~Clock() = default;
    virtual FileTime now_utc() const = 0;
};

FileTime current_time_utc();

// nullptr restores the system clock; returns the previous clock.
const Clock* set_clock(const Clock* clock);

}  // namespace vellum
