// The two clocks that run on threads of their own: the housekeeping thread (every 5 s,
// a wait on the stop flag: the user table's maintenance pass) and the sampling thread
// (time-critical priority, paced by absolute deadlines: the fast-log pass). Each sets its
// finished flag when it ends. Neither does anything while the server-running flag is
// clear.
//
// Started and awaited by the application on the main thread; the passes they call take
// their own locks (see the user table and the fast schedule).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "platform/waitable_flag.h"

namespace orvexa {

struct BackgroundClocks {
  WaitableFlag* stop = nullptr;
  const std::atomic<bool>* serverRunning = nullptr;
  WaitableFlag* housekeepingFinished = nullptr;
  WaitableFlag* samplingFinished = nullptr;
  // Housekeeping pass (argument: shutdown has begun).
  std::function<void(bool windowClosing)> housekeeping;
  const std::atomic<bool>* windowClosing = nullptr;
  // The fast-log pass: samples what is due at `nowNs` (CLOCK_MONOTONIC) and returns the
  // monotonic time at which it wants to run next. Empty: nothing to sample yet.
  std::function<int64_t(int64_t nowNs)> fastPass;
  // The sampling thread's sleep until a CLOCK_MONOTONIC deadline, when the sampler can
  // cut it short (a new group, the server starting to run); empty: a plain
  // clock_nanosleep.
  std::function<void(int64_t deadlineNs)> sleepUntil;
};

class BackgroundThreads {
 public:
  static constexpr int kHousekeepingPeriodMs = 5000;
  // The sampling thread looks at the stop flag at least this often.
  static constexpr int64_t kMaxSamplingSleepNs = 100000000;
  // ... and never runs its pass back to back without a pause (a real-time thread that
  // spins would starve the rest of the machine).
  static constexpr int64_t kMinSamplingSleepNs = 10000;

  explicit BackgroundThreads(BackgroundClocks clocks) : clocks_(std::move(clocks)) {}
  ~BackgroundThreads();  // joins threads that were started

  bool StartHousekeeping();
  bool StartSampling();

 private:
  void HousekeepingLoop();
  void SamplingLoop();

  BackgroundClocks clocks_;
  std::thread housekeeping_;
  std::thread sampling_;
};

}  // namespace orvexa
