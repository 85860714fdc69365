// Pacing, timing and priority of single threads: sleeping until an absolute
// CLOCK_MONOTONIC deadline (clock_nanosleep with TIMER_ABSTIME, so a late wake-up does
// not push every later deadline back), the timer slack of the calling thread, real-time
// scheduling for the sampling thread and around a burst recording (SCHED_FIFO; refused
// silently without the privilege), and the CPU time a thread has used (benchmarks).
// Stateless; each call works on the calling thread unless it names another.
#pragma once

#include <pthread.h>

#include <cstdint>

namespace orvexa {

// Sleeps until CLOCK_MONOTONIC reaches `deadlineNs` (returns at once when it has).
void SleepUntilMonotonic(int64_t deadlineNs);
// Gives the calling thread real-time priority when permitted; false when refused.
bool TryRealtimePriority();

// The calling thread's timer slack (how late the kernel may end its sleeps). The
// default of 50 us would add that much lateness to every fast-sampling wake-up.
void SetTimerSlackNanoseconds(unsigned long nanoseconds);

// Raises the calling thread to SCHED_FIFO at the highest priority. False, and nothing
// changed, when the system refuses (no privilege): the caller goes on at normal priority.
bool RaiseToRealtimePriority();
// Puts the calling thread back to the normal time-sharing policy.
void RestoreNormalPriority();

// CPU time used so far by `thread` (of this process); -1 when it cannot be read.
int64_t ThreadCpuNanoseconds(pthread_t thread);

}  // namespace orvexa
