// Wall-clock seconds for the host benchmarks (POSIX monotonic clock).
#pragma once

#include <time.h>

namespace vellum::bench {

inline double seconds_now() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace vellum::bench
