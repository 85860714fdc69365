// The high-resolution counter of the fast sampler: CLOCK_MONOTONIC in nanoseconds, so
// its frequency is 10^9 ticks per second. Stateless; any thread.
#pragma once

#include <cstdint>

namespace orvexa {

constexpr int64_t kPerformanceCounterFrequency = 1000000000;

// Current counter value; false when the clock cannot be read.
bool ReadPerformanceCounter(int64_t* now);

}  // namespace orvexa
