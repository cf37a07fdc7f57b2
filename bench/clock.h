#pragma once

#include <time.h>

#include <cstdint>

namespace norva::bench {

// CLOCK_MONOTONIC is one clock for every process on the machine, so a time taken by the driver
// before it starts a program can be compared with one the program takes itself.
inline std::int64_t MonotonicNs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

}  // namespace norva::bench
