// The fast sampler: the pass that samples the due frequency groups of the FastSchedule
// into the channels' fast-sample buffers and the recordings of running experiments and
// sends MessageTick to the plug-ins that asked for it, and the pacing of the sampling
// thread's passes (NextRun, SleepUntil).
//
// The sampling thread's loop (BackgroundThreads, app) sleeps with absolute deadlines
// on the monotonic clock until the earliest due time of the active groups (never
// spinning), with its timer slack at 1 ns so wake-ups are not delayed by the default
// 50 us. Wake (a group was added) ends that sleep at once; with no active group NextRun
// waits for Wake or Stop. A sleep is never longer than kMaxSleep, the bound on a wake
// that raced the start of a sleep.
//
// Threads: NextRun and SleepUntil are called by the sampling thread alone: one sleep
// serves both the idle wait and the paced one. FastPass takes ServerLock itself (it
// guards the schedule, the channels and every plug-in call), marking its thread urgent
// so that it waits behind a lock's holder alone, not the queue of clients; the appends to the
// experiment recordings of a channel take ExperimentLock inside it, after the value was
// read (order ServerLock -> ExperimentLock), and only for a channel that feeds one. Wake and Stop
// may be called from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "base/server_lock.h"
#include "platform/wakeable_sleep.h"

namespace orvexa {

class LoggedChannel;
class FastSchedule;

class FastSampler {
 public:
  // Longest single sleep of the loop, in counter ticks of a nanosecond counter.
  static constexpr int64_t kMaxSleep = 100'000'000;
  static constexpr std::chrono::milliseconds kIdleWait{100};

  explicit FastSampler(FastSchedule& schedule);
  FastSampler(const FastSampler&) = delete;
  FastSampler& operator=(const FastSampler&) = delete;

  // One pass over the active groups that are due (under ServerLock). Returns the
  // earliest next due time of the active groups, or nothing when none is active or the
  // counter cannot be read.
  std::optional<int64_t> FastPass();
  // Appends the channel's current value to its fast-sample buffer (time = tick) and to
  // every experiment recording attached to it (time = tick x 100, under ExperimentLock,
  // which is not taken when none is).
  // Nothing when the channel's fast logging is off. ServerLock for the plug-in read; the
  // buffer's append takes the channel's fastSamplesLock.
  static void FastSample(LoggedChannel& channel, uint32_t tick) REQUIRES(ServerLock());

  // The sampling thread's pass hook: runs FastPass and returns the monotonic time (ns)
  // at which it wants to run next: the earliest due time, at most kMaxSleep ahead. With
  // no active group it first waits (up to kIdleWait) until Wake or Stop.
  int64_t NextRun(int64_t nowNs);
  // The sampling thread's sleep until `deadlineNs` (CLOCK_MONOTONIC); Wake and Stop end
  // it early.
  void SleepUntil(int64_t deadlineNs) { sleep_.SleepUntil(deadlineNs); }
  void Stop();
  void Wake();

  // Benchmarks: called with (counter now - due time) for every group sampled.
  void SetLatenessObserver(std::function<void(int64_t)> observer) {
    latenessObserver_ = std::move(observer);
  }

 private:
  // Sleeps up to `timeout`; returns at once when woken or stopping.
  void WaitForWake(std::chrono::milliseconds timeout);

  FastSchedule& schedule_;
  std::function<void(int64_t)> latenessObserver_;
  std::atomic<bool> stopping_{false};
  WakeableSleep sleep_;
};

}  // namespace orvexa
