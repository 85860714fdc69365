// Pacing and priority of the server's background threads: sleeping until an absolute
// CLOCK_MONOTONIC deadline (clock_nanosleep with TIMER_ABSTIME, so a late wake-up does
// not push every later deadline back) and asking for real-time scheduling for the
// sampling thread (SCHED_FIFO; refused silently without the privilege).
// Stateless; called by the thread that is paced.
#pragma once

#include <cstdint>

namespace orvexa {

// Sleeps until CLOCK_MONOTONIC reaches `deadlineNs` (returns at once when it has).
void SleepUntilMonotonic(int64_t deadlineNs);
// Gives the calling thread real-time priority when permitted; false when refused.
bool TryRealtimePriority();

}  // namespace orvexa
