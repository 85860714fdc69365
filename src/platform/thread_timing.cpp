#include "platform/thread_timing.h"

#include <sched.h>
#include <sys/prctl.h>
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

bool TryRealtimePriority() { return RaiseToRealtimePriority(); }

void SetTimerSlackNanoseconds(unsigned long nanoseconds) {
  prctl(PR_SET_TIMERSLACK, nanoseconds, 0, 0, 0);
}

bool RaiseToRealtimePriority() {
  sched_param param{};
  param.sched_priority = sched_get_priority_max(SCHED_FIFO);
  if (param.sched_priority < 0) return false;
  return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

void RestoreNormalPriority() {
  sched_param param{};
  param.sched_priority = 0;
  pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
}

int64_t ThreadCpuNanoseconds(pthread_t thread) {
  clockid_t clock;
  if (pthread_getcpuclockid(thread, &clock) != 0) return -1;
  timespec used{};
  if (clock_gettime(clock, &used) != 0) return -1;
  return static_cast<int64_t>(used.tv_sec) * 1000000000 + used.tv_nsec;
}

}  // namespace orvexa
