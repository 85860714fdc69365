// The fast sampler's timing table: one FrequencyGroup per frequency 1..3999 Hz with its
// period in counter ticks, the channels sampled and the plug-ins ticked at that
// frequency, and the active list of the groups that hold at least one entry (most
// recently activated first), so the fast pass walks only those.
//
// Filled at start-up by channel registration and plug-in loading (main thread, before
// any sampling), changed later by the log settings dialog and read by the fast pass on
// the sampling thread: after start-up every use happens with ServerLock held (the
// functions used then REQUIRE it; plug-ins join their groups at start-up only). Groups
// never move, so the fast pass may keep plain pointers to them.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "base/server_lock.h"
#include "platform/clock.h"

namespace orvexa {

class LoggedChannel;
class TickReceiver;

struct FrequencyGroup {
  int frequency = 0;    // Hz, 1..3999
  int64_t nextDue = 0;  // counter value of the next sample
  int64_t period = 0;   // counter ticks between samples (frequency of counter / Hz)
  std::vector<LoggedChannel*> channels;
  std::vector<TickReceiver*> plugins;
  // Links of the active list; both null and `active` false when the group is idle.
  FrequencyGroup* nextActive = nullptr;
  FrequencyGroup* previousActive = nullptr;
  bool active = false;

  bool Empty() const { return channels.empty() && plugins.empty(); }
};

class FastSchedule {
 public:
  static constexpr int kMinFrequency = 1;
  static constexpr int kMaxFrequency = 3999;
  // Reads the counter; false when it cannot be read.
  using CounterReader = bool (*)(int64_t* now);

  // The counter defaults to the platform's monotonic nanosecond clock; tests pass their
  // own (a frequency of 0 means the machine has no counter).
  explicit FastSchedule(int64_t counterFrequency = kMonotonicFrequency,
                        CounterReader reader = ReadMonotonicCounter);

  // The platform's counter: CLOCK_MONOTONIC in nanoseconds, always readable.
  static bool ReadMonotonicCounter(int64_t* now);
  FastSchedule(const FastSchedule&) = delete;
  FastSchedule& operator=(const FastSchedule&) = delete;

  // Sets every group's next due time to 0 and its period to counter frequency / Hz.
  // False, and fast sampling unavailable, when there is no counter.
  bool PrepareFastSchedule();
  bool Prepared() const { return prepared_; }

  // 0 and below become 1, above 3999 become 3999.
  static int ClampFrequency(int64_t frequency);

  // Appends the entry to the group of the clamped frequency. A group that thereby gets
  // its first entry goes to the front of the active list and is due at once (next due =
  // the current counter value). False only when the counter cannot be read; the entry is
  // added all the same and the group is then due at the next pass.
  bool AddChannelToGroup(LoggedChannel* channel, int64_t frequency) REQUIRES(ServerLock());
  bool AddPluginToGroup(TickReceiver* plugin, int64_t frequency);
  // Removes the first matching channel entry; a group left empty leaves the active list.
  // Plug-ins stay in their group for the whole run.
  void RemoveChannelFromGroup(LoggedChannel* channel, int64_t frequency) REQUIRES(ServerLock());

  // Makes every active group due now: sampling starts when the server starts running,
  // not when discovery activated the group (which may be long before). Then wakes the
  // sampling thread through the activation listener.
  void RestartActiveGroups() REQUIRES(ServerLock());

  // For the fast pass: the active groups, most recently activated first, linked through
  // nextActive; null when none.
  FrequencyGroup* FirstActive() const REQUIRES(ServerLock()) { return firstActive_; }
  // Called (with the caller's ServerLock held) whenever a group becomes active, so a
  // sampling thread that sleeps until the next due time can wake for the new group.
  void SetActivationListener(std::function<void()> listener) {
    activationListener_ = std::move(listener);
  }
  bool HasActiveGroups() const REQUIRES(ServerLock()) { return firstActive_ != nullptr; }
  // The group of the clamped frequency.
  FrequencyGroup& Group(int64_t frequency) { return groups_[ClampFrequency(frequency)]; }
  const FrequencyGroup& Group(int64_t frequency) const {
    return groups_[ClampFrequency(frequency)];
  }

  int64_t CounterFrequency() const { return counterFrequency_; }
  bool ReadCounter(int64_t* now) const { return reader_ != nullptr && reader_(now); }

 private:
  bool Activate(FrequencyGroup& group);
  void Deactivate(FrequencyGroup& group);

  int64_t counterFrequency_;
  CounterReader reader_;
  bool prepared_ = false;
  std::vector<FrequencyGroup> groups_;  // index = Hz; index 0 unused
  FrequencyGroup* firstActive_ = nullptr;
  std::function<void()> activationListener_;
};

}  // namespace orvexa
