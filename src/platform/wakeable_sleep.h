// An absolute-deadline sleep on CLOCK_MONOTONIC (clock_nanosleep, TIMER_ABSTIME) that
// another thread can cut short: the fast sampler's thread sleeps until the next due
// time of its groups, and adding a group wakes it at once so the new group's first
// sample is not held back until that time.
//
// The wake is a real-time signal sent to the sleeping thread only while it sleeps; its
// handler is empty and installed with SA_RESTART, so system calls that restart (a
// plug-in's blocking read, say) are not disturbed, while a sleep always ends early.
// SleepUntil is called by one thread (the sleeper); Wake from any thread. A wake that
// comes while the sleeper is awake makes its next sleep return at once.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

namespace orvexa {

class WakeableSleep {
 public:
  WakeableSleep();
  WakeableSleep(const WakeableSleep&) = delete;
  WakeableSleep& operator=(const WakeableSleep&) = delete;

  // Sleeps until CLOCK_MONOTONIC reaches `deadlineNs`. False when a wake ended the sleep
  // early (or was already pending, in which case there was no sleep at all).
  bool SleepUntil(int64_t deadlineNs);
  // Ends the current or the next sleep.
  void Wake();

 private:
  std::atomic<bool> requested_{false};
  std::atomic<bool> sleeping_{false};
  std::atomic<pthread_t> sleeper_{};
};

}  // namespace orvexa
