#include <windows.h>

#include <atomic>

#include "base/clock.h"

namespace vellum {
namespace {

std::atomic<const Clock*> g_clock{nullptr};

}  // namespace

FileTime current_time_utc() {
    if (const Clock* clock = g_clock.load()) return clock->now_utc();
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<FileTime>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

const Clock* set_clock(const Clock* clock) {
    return g_clock.exchange(clock);
}

}  // namespace vellum
