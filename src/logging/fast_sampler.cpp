#include "logging/fast_sampler.h"

#include <algorithm>
#include <mutex>

#include "base/server_lock.h"
#include "logging/experiment_lock.h"
#include "logging/fast_schedule.h"
#include "logging/logged_channel.h"
#include "logging/tick_receiver.h"
#include "platform/clock.h"
#include "platform/lock_guard.h"
#include "platform/unique_lock.h"

namespace orvexa {
namespace {

// Samples a channel may hold back while readers keep its buffer's lock (a quarter of a
// second at 3999 Hz).
constexpr size_t kMaxPendingFastSamples = 1000;

// The buffer's own lock, for the appends alone (never around the plug-in read). Many
// clients copying whole buffers keep it busy most of the time: then the sample waits in
// the pending list instead of the sampler waiting for a copy (at 3999 Hz a period is
// 250 us), and goes into the buffer, in order, at the next pass that gets the lock. Past
// kMaxPendingFastSamples the sampler waits for the lock, so a reader never sees the
// buffer more than that many samples behind.
void AppendFastSample(LoggedChannel& channel, uint32_t tick, float value) REQUIRES(ServerLock()) {
  std::vector<SampleLog::Sample>& pending = channel.pendingFastSamples;
  UniqueLock<MovableMutex> hold(channel.fastSamplesLock, std::defer_lock);
  if (!hold.try_lock()) {
    if (pending.size() < kMaxPendingFastSamples) {
      pending.push_back({0, tick, value});
      return;
    }
    hold.lock();
  }
  // A negative size from the configuration means no samples, not four billion.
  channel.fastSamples.SetCapacity(static_cast<uint32_t>(std::max(channel.fastLogSize, 0)));
  for (const SampleLog::Sample& sample : pending)
    channel.fastSamples.Append(sample.time, sample.value);
  pending.clear();
  channel.fastSamples.Append(tick, value);
}

}  // namespace

FastSampler::FastSampler(FastSchedule& schedule) : schedule_(schedule) {}

void FastSampler::FastSample(LoggedChannel& channel, uint32_t tick) {
  std::vector<SampleLog::Sample>& pending = channel.pendingFastSamples;
  if (!channel.FastLogEnabled()) {
    pending.clear();
    return;
  }
  const float value = channel.Read(0);
  AppendFastSample(channel, tick, value);
  // Most channels feed no recording: those never wait for ExperimentLock, which clients
  // reading experiments take. A recording attached a moment ago (its list is changed
  // under ServerLock too when a request starts it) gets its samples from the next pass.
  if (!channel.recorded.load(std::memory_order_acquire)) return;
  // Taken after the plug-in call: ExperimentLock is a leaf, held for the appends alone.
  LockGuard hold(ExperimentLock());
  for (SampleLog* recording : channel.recordings) recording->Append(tick * 100u, value);
}

std::optional<int64_t> FastSampler::FastPass() {
  // The sampling thread waits for its locks behind their holder alone, never behind the
  // clients queued for them.
  PriorityInheritanceMutex::MarkCallingThreadUrgent();
  LockGuard hold(ServerLock());
  if (!schedule_.HasActiveGroups()) return std::nullopt;
  int64_t now = 0;
  if (!schedule_.ReadCounter(&now)) return std::nullopt;
  // The millisecond tick is the same monotonic clock in milliseconds, truncated.
  const int64_t frequency = schedule_.CounterFrequency();
  const uint32_t tick =
      static_cast<uint32_t>(frequency == 1'000'000'000 ? now / 1'000'000 : now * 1000 / frequency);

  std::optional<int64_t> earliest;
  for (FrequencyGroup* group = schedule_.FirstActive(); group != nullptr;
       group = group->nextActive) {
    if (group->nextDue <= now) {
      if (latenessObserver_) latenessObserver_(now - group->nextDue);
      for (LoggedChannel* channel : group->channels) FastSample(*channel, tick);
      for (TickReceiver* plugin : group->plugins) plugin->SendTick();
      // Missed samples are skipped, not caught up.
      group->nextDue += group->period;
      if (group->nextDue < now) group->nextDue = now + group->period;
    }
    if (!earliest || group->nextDue < *earliest) earliest = group->nextDue;
  }
  return earliest;
}

void FastSampler::WaitForWake(std::chrono::milliseconds timeout) {
  if (stopping_.load()) return;
  sleep_.SleepUntil(MonotonicNanoseconds() +
                    std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count());
}

int64_t FastSampler::NextRun(int64_t nowNs) {
  std::optional<int64_t> due = FastPass();
  if (due) return std::min(*due, nowNs + kMaxSleep);
  // Nothing active: sleep until a group is added (the wait is bounded so the caller
  // still looks at its stop flag).
  WaitForWake(kIdleWait);
  return nowNs;
}

void FastSampler::Stop() {
  stopping_.store(true);
  sleep_.Wake();
}

void FastSampler::Wake() {
  sleep_.Wake();
}

}  // namespace orvexa
