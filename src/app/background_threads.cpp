#include "app/background_threads.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include "platform/clock.h"
#include "platform/thread_timing.h"

namespace orvexa {

BackgroundThreads::~BackgroundThreads() {
  if (housekeeping_.joinable()) housekeeping_.join();
  if (sampling_.joinable()) sampling_.join();
}

bool BackgroundThreads::StartHousekeeping() {
  try {
    housekeeping_ = std::thread([this] { HousekeepingLoop(); });
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

bool BackgroundThreads::StartSampling() {
  try {
    sampling_ = std::thread([this] { SamplingLoop(); });
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

void BackgroundThreads::HousekeepingLoop() {
  while (!clocks_.stop->WaitFor(std::chrono::milliseconds(kHousekeepingPeriodMs))) {
    if (!clocks_.serverRunning->load()) continue;
    bool closing = clocks_.windowClosing && clocks_.windowClosing->load();
    if (clocks_.housekeeping) clocks_.housekeeping(closing);
  }
  clocks_.housekeepingFinished->Set();
}

void BackgroundThreads::SamplingLoop() {
  TryRealtimePriority();
  // The default 50 us timer slack would make every wake-up that much late.
  SetTimerSlackNanoseconds(1);
  while (!clocks_.stop->IsSet()) {
    int64_t now = MonotonicNanoseconds();
    if (!clocks_.serverRunning->load()) {
      // Setting the flag wakes this sleep, so sampling starts at once.
      if (clocks_.sleepUntil)
        clocks_.sleepUntil(now + kMaxSamplingSleepNs);
      else
        clocks_.stop->WaitFor(std::chrono::milliseconds(kMaxSamplingSleepNs / 1000000));
      continue;
    }
    int64_t next = clocks_.fastPass ? clocks_.fastPass(now) : now + kMaxSamplingSleepNs;
    // Absolute deadlines: the pass's own schedule sets the pace, not this loop's cost.
    next = std::max(next, now + kMinSamplingSleepNs);
    next = std::min(next, now + kMaxSamplingSleepNs);
    if (clocks_.sleepUntil)
      clocks_.sleepUntil(next);
    else
      SleepUntilMonotonic(next);
  }
  clocks_.samplingFinished->Set();
}

}  // namespace orvexa
