#include "platform/performance_counter.h"

#include <ctime>

namespace orvexa {

bool ReadPerformanceCounter(int64_t* now) {
  struct timespec ts {};
  if (::clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return false;
  *now = static_cast<int64_t>(ts.tv_sec) * kPerformanceCounterFrequency + ts.tv_nsec;
  return true;
}

}  // namespace orvexa
