#include "protocol/experiment_store.h"

#include <algorithm>

namespace orvexa {

ExperimentStore::ExperimentStore(RecordingTargets& targets, Clock clock)
    : targets_(targets), clock_(std::move(clock)) {}

ExperimentStore::~ExperimentStore() {
  // Channels may outlive the store: leave no log of ours in their recordings lists.
  for (auto& [id, experiment] : experiments_) Stop(experiment);
}

void ExperimentStore::AdvanceNextId() {
  nextId_ = nextId_ >= kMaxId ? 1 : nextId_ + 1;
}

uint32_t ExperimentStore::NewId() {
  bool advanced = true;
  while (advanced) {
    advanced = false;
    for (const auto& [id, experiment] : experiments_) {
      if (id == nextId_) {
        AdvanceNextId();
        advanced = true;
      }
    }
  }
  const uint32_t id = nextId_;
  AdvanceNextId();
  return id;
}

void ExperimentStore::Stop(Experiment& experiment) {
  experiment.stopTime = Now();
  if (!experiment.recording) return;
  const size_t channels = std::min(experiment.slots.size(), targets_.ChannelCount());
  for (size_t index = 0; index < channels; ++index) {
    if (experiment.slots[index].selected) targets_.Detach(index, &experiment.slots[index].log);
  }
  experiment.recording = false;
}

void ExperimentStore::Finish(uint32_t id) {
  if (Experiment* experiment = Find(id)) Stop(*experiment);
}

bool ExperimentStore::IsRecording(uint32_t id) const {
  auto it = experiments_.find(id);
  return it != experiments_.end() && it->second.recording;
}

Experiment* ExperimentStore::Find(uint32_t id) {
  auto it = experiments_.find(id);
  return it == experiments_.end() ? nullptr : &it->second;
}

void ExperimentStore::Remove(std::map<uint32_t, Experiment>::iterator it) {
  Stop(it->second);
  // A connection still mapped to a removed experiment would later stop whatever
  // experiment gets that id next.
  recordings_.RemoveExperiment(it->first);
  experiments_.erase(it);
}

void ExperimentStore::EvictWhileFull() {
  while (experiments_.size() >= kMaxCount) {
    // Oldest start time first; equal start times in ascending id order (the map's order
    // and min_element's first-minimum rule give exactly that).
    auto oldest = std::min_element(
        experiments_.begin(), experiments_.end(),
        [](const auto& a, const auto& b) { return a.second.startTime < b.second.startTime; });
    Remove(oldest);
  }
}

uint32_t ExperimentStore::Create(uint32_t ownerKey, uint32_t id, uint32_t capacity, bool ring,
                                 const std::vector<size_t>& indexes,
                                 const ClientAddress& clientAddress) {
  EvictWhileFull();
  if (id == 0) id = NewId();
  Experiment& experiment = experiments_[id];
  experiment.ownerKey = ownerKey;
  experiment.id = id;
  experiment.clientAddress = clientAddress;
  Stop(experiment);
  // A reused id is this caller's from now on; nobody else stays mapped to it.
  recordings_.RemoveExperiment(id);
  experiment.slots.clear();

  experiment.recording = true;
  const size_t channels = targets_.ChannelCount();
  experiment.slots = std::vector<ExperimentChannel>(channels);
  for (size_t index : indexes) {
    if (index >= channels) continue;
    ExperimentChannel& slot = experiment.slots[index];
    // A channel listed twice is recorded once: attaching its log twice would store
    // every sample twice.
    if (slot.selected) continue;
    slot.selected = true;
    slot.log.SetCapacity(capacity);
    slot.log.SetRing(ring);
    targets_.Attach(index, &slot.log);
  }
  experiment.startTime = Now();
  experiment.startTick = TickMilliseconds() * 100u;
  return id;
}

Experiment& ExperimentStore::AddFinished(uint32_t id, size_t slotCount) {
  EvictWhileFull();
  auto existing = experiments_.find(id);
  if (existing != experiments_.end()) Remove(existing);
  Experiment& experiment = experiments_[id];
  experiment.id = id;
  Stop(experiment);
  experiment.slots = std::vector<ExperimentChannel>(slotCount);
  experiment.recording = false;
  return experiment;
}

}  // namespace orvexa
