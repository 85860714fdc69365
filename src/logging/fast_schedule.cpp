#include "logging/fast_schedule.h"

#include <algorithm>

namespace orvexa {

bool FastSchedule::ReadMonotonicCounter(int64_t* now) {
  *now = MonotonicNanoseconds();
  return true;
}

FastSchedule::FastSchedule(int64_t counterFrequency, CounterReader reader)
    : counterFrequency_(counterFrequency), reader_(reader), groups_(kMaxFrequency + 1) {
  for (int f = 0; f <= kMaxFrequency; ++f) groups_[f].frequency = f;
}

bool FastSchedule::PrepareFastSchedule() {
  if (counterFrequency_ <= 0) {
    prepared_ = false;
    return false;
  }
  for (int f = kMinFrequency; f <= kMaxFrequency; ++f) {
    groups_[f].nextDue = 0;
    groups_[f].period = counterFrequency_ / f;
  }
  prepared_ = true;
  return true;
}

int FastSchedule::ClampFrequency(int64_t frequency) {
  if (frequency < kMinFrequency) return kMinFrequency;
  if (frequency > kMaxFrequency) return kMaxFrequency;
  return static_cast<int>(frequency);
}

bool FastSchedule::Activate(FrequencyGroup& group) {
  group.active = true;
  group.previousActive = nullptr;
  group.nextActive = firstActive_;
  if (firstActive_ != nullptr) firstActive_->previousActive = &group;
  firstActive_ = &group;
  int64_t now = 0;
  bool readable = ReadCounter(&now);
  group.nextDue = readable ? now : 0;
  if (activationListener_) activationListener_();
  return readable;
}

void FastSchedule::RestartActiveGroups() {
  int64_t now = 0;
  const bool readable = ReadCounter(&now);
  for (FrequencyGroup* group = firstActive_; group != nullptr; group = group->nextActive)
    group->nextDue = readable ? now : 0;
  if (activationListener_) activationListener_();
}

void FastSchedule::Deactivate(FrequencyGroup& group) {
  if (!group.active) return;
  if (group.previousActive != nullptr) {
    group.previousActive->nextActive = group.nextActive;
  } else {
    firstActive_ = group.nextActive;
  }
  if (group.nextActive != nullptr) group.nextActive->previousActive = group.previousActive;
  group.nextActive = nullptr;
  group.previousActive = nullptr;
  group.active = false;
}

bool FastSchedule::AddChannelToGroup(LoggedChannel* channel, int64_t frequency) {
  FrequencyGroup& group = Group(frequency);
  bool first = group.Empty();
  group.channels.push_back(channel);
  return first ? Activate(group) : true;
}

bool FastSchedule::AddPluginToGroup(TickReceiver* plugin, int64_t frequency) {
  FrequencyGroup& group = Group(frequency);
  bool first = group.Empty();
  group.plugins.push_back(plugin);
  return first ? Activate(group) : true;
}

void FastSchedule::RemoveChannelFromGroup(LoggedChannel* channel, int64_t frequency) {
  FrequencyGroup& group = Group(frequency);
  auto found = std::find(group.channels.begin(), group.channels.end(), channel);
  if (found == group.channels.end()) return;
  group.channels.erase(found);
  if (group.Empty()) Deactivate(group);
}

}  // namespace orvexa
