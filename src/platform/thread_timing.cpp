#include "platform/thread_timing.h"

#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <cerrno>

namespace orvexa {

void SleepUntilMonotonic(int64_t deadlineNs) {
  if (deadlineNs < 0) return;
  timespec due;
  due.tv_sec = static_cast<time_t>(deadlineNs / 1000000000);
  due.tv_nsec = static_cast<long>(deadlineNs % 1000000000);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
  }
}

bool TryRealtimePriority() {
  sched_param parameter{};
  parameter.sched_priority = sched_get_priority_max(SCHED_FIFO);
  return pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameter) == 0;
}

}  // namespace orvexa
