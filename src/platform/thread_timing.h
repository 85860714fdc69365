// Timing and priority of single threads: absolute-deadline sleeps on the monotonic
// clock, the timer slack of the calling thread, real-time priority around a burst
// recording, and the CPU time a thread has used (benchmarks).
//
// Used by the fast sampler's thread and the burst request's worker; each call works on
// the calling thread unless it names another. Stateless.
#pragma once

#include <pthread.h>

#include <cstdint>

namespace orvexa {

// Sleeps until CLOCK_MONOTONIC reaches `deadlineNanoseconds` (clock_nanosleep with an
// absolute time). Returns early only when a signal interrupts it.
void SleepUntilMonotonic(int64_t deadlineNanoseconds);

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
