#include "protocol/experiment_store.h"

#include <algorithm>
#include <iterator>

#include "logging/experiment_lock.h"
#include "platform/lock_guard.h"

namespace orvexa {

using Hold = LockGuard<PriorityInheritanceMutex>;

namespace {

// A new recording's experiment with a slot per channel, those of `indexes` selected.
// Nobody else reaches it before the store publishes it: its fields need no
// ExperimentLock yet, which the analysis cannot know.
std::shared_ptr<Experiment> NewRecording(uint32_t ownerKey, uint32_t capacity, bool ring,
                                         const std::vector<size_t>& indexes,
                                         const ClientAddress& clientAddress,
                                         size_t channels) NO_THREAD_SAFETY_ANALYSIS {
  auto experiment = std::make_shared<Experiment>();
  experiment->ownerKey = ownerKey;
  experiment->clientAddress = clientAddress;
  experiment->recording = true;
  experiment->slots = std::vector<ExperimentChannel>(channels);
  for (size_t index : indexes) {
    if (index >= channels) continue;
    // A channel listed twice is recorded once: attaching its log twice would store
    // every sample twice.
    ExperimentChannel& slot = experiment->slots[index];
    slot.selected = true;
    slot.log.SetCapacity(capacity);
    slot.log.SetRing(ring);
  }
  return experiment;
}

}  // namespace

ExperimentStore::ExperimentStore(RecordingTargets& targets, Clock clock)
    : targets_(targets), clock_(std::move(clock)) {}

ExperimentStore::~ExperimentStore() {
  // Channels may outlive the store: leave no log of ours in their recordings lists.
  Hold hold(ExperimentLock());
  for (auto& [id, experiment] : experiments_) StopLocked(*experiment);
}

void ExperimentStore::AdvanceNextId() {
  nextId_ = nextId_ >= kMaxId ? 1 : nextId_ + 1;
}

uint32_t ExperimentStore::NewId() {
  Hold hold(ExperimentLock());
  return NewIdLocked();
}

uint32_t ExperimentStore::NewIdLocked() {
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

void ExperimentStore::StopLocked(Experiment& experiment) {
  experiment.stopTime = Now();
  if (!experiment.recording) return;
  const size_t channels = std::min(experiment.slots.size(), targets_.ChannelCount());
  for (size_t index = 0; index < channels; ++index) {
    if (experiment.slots[index].selected) targets_.Detach(index, &experiment.slots[index].log);
  }
  experiment.recording = false;
}

void ExperimentStore::FinishLocked(uint32_t id) {
  auto it = experiments_.find(id);
  if (it != experiments_.end()) StopLocked(*it->second);
}

void ExperimentStore::Finish(uint32_t id) {
  Hold hold(ExperimentLock());
  FinishLocked(id);
}

bool ExperimentStore::IsRecording(uint32_t id) const {
  Hold hold(ExperimentLock());
  auto it = experiments_.find(id);
  return it != experiments_.end() && it->second->recording;
}

std::shared_ptr<Experiment> ExperimentStore::Find(uint32_t id) const {
  Hold hold(ExperimentLock());
  auto it = experiments_.find(id);
  return it == experiments_.end() ? nullptr : it->second;
}

size_t ExperimentStore::Count() const {
  Hold hold(ExperimentLock());
  return experiments_.size();
}

std::vector<ExperimentStore::Summary> ExperimentStore::List(uint32_t ownerKey, uint32_t lowest,
                                                            uint32_t highest) const {
  std::vector<Summary> listed = ListAll(lowest, highest);
  std::erase_if(listed, [ownerKey](const Summary& e) { return e.ownerKey != ownerKey; });
  return listed;
}

std::vector<ExperimentStore::Summary> ExperimentStore::ListAll(uint32_t lowest,
                                                               uint32_t highest) const {
  std::vector<Summary> listed;
  Hold hold(ExperimentLock());
  for (const auto& [id, e] : experiments_) {
    if (id < lowest || (highest != 0 && id > highest)) continue;
    listed.push_back(
        {id, e->recording, e->startTime, e->stopTime, e->clientAddress, e->ownerKey, e->burst});
  }
  return listed;
}

std::vector<ExperimentStore::Summary> ExperimentStore::Recording() const {
  std::vector<Summary> listed;
  Hold hold(ExperimentLock());
  for (const auto& [id, e] : experiments_)
    if (e->recording) listed.push_back({id, true, e->startTime, e->stopTime, e->clientAddress});
  return listed;
}

uint32_t ExperimentStore::RecordingOf(uint32_t serial) const {
  Hold hold(ExperimentLock());
  return recordings_.Lookup(serial);
}

void ExperimentStore::SetRecordingOf(uint32_t serial, uint32_t id) {
  Hold hold(ExperimentLock());
  recordings_.Set(serial, id);
}

uint32_t ExperimentStore::EndRecordingOf(uint32_t serial) {
  Hold hold(ExperimentLock());
  const uint32_t id = recordings_.Lookup(serial);
  if (id == 0) return 0;
  recordings_.Remove(serial);
  FinishLocked(id);
  return id;
}

void ExperimentStore::FinishAndUnmap(uint32_t id) {
  Hold hold(ExperimentLock());
  FinishLocked(id);
  recordings_.RemoveExperiment(id);
}

void ExperimentStore::Remove(Map::iterator it, Dropped& dropped) {
  // Detached here; a reader still holding the experiment keeps its (now fixed) data.
  StopLocked(*it->second);
  // A connection still mapped to a removed experiment would later stop whatever
  // experiment gets that id next.
  recordings_.RemoveExperiment(it->first);
  dropped.push_back(std::move(it->second));
  experiments_.erase(it);
}

void ExperimentStore::EvictWhileFull(Dropped& dropped) {
  while (experiments_.size() >= kMaxCount) {
    // Oldest start time first; equal start times in ascending id order (the map's order
    // and min_element's first-minimum rule give exactly that).
    auto oldest = std::min_element(
        experiments_.begin(), experiments_.end(),
        [](const auto& a, const auto& b) { return a.second->startTime < b.second->startTime; });
    Remove(oldest, dropped);
  }
}

uint32_t ExperimentStore::Create(uint32_t ownerKey, uint32_t id, uint32_t capacity, bool ring,
                                 const std::vector<size_t>& indexes,
                                 const ClientAddress& clientAddress, Dropped* dropped) {
  // Made before the lock is taken (the channel count never changes while serving).
  const size_t channels = targets_.ChannelCount();
  auto experiment = NewRecording(ownerKey, std::min(capacity, kMaxSlotCapacity), ring, indexes,
                                 clientAddress, channels);
  Dropped taken;  // declared before the lock: freed after it is released
  Hold hold(ExperimentLock());
  EvictWhileFull(taken);
  if (id == 0) id = NewIdLocked();
  // A reused id gets a new experiment: the old one is stopped and dropped, and nobody
  // stays mapped to the id (it is this caller's from now on).
  auto existing = experiments_.find(id);
  if (existing != experiments_.end()) Remove(existing, taken);

  experiment->id = id;
  experiment->stopTime = Now();
  for (size_t index = 0; index < channels; ++index) {
    if (experiment->slots[index].selected) targets_.Attach(index, &experiment->slots[index].log);
  }
  experiment->startTime = Now();
  experiment->startTick = TickMilliseconds() * 100u;
  experiments_[id] = std::move(experiment);
  if (dropped != nullptr) std::move(taken.begin(), taken.end(), std::back_inserter(*dropped));
  return id;
}

uint32_t ExperimentStore::AddFinished(std::shared_ptr<Experiment> experiment, Dropped* dropped) {
  Dropped taken;  // declared before the lock: freed after it is released
  Hold hold(ExperimentLock());
  EvictWhileFull(taken);
  const uint32_t id = NewIdLocked();
  experiment->id = id;
  experiment->recording = false;
  experiments_[id] = std::move(experiment);
  if (dropped != nullptr) std::move(taken.begin(), taken.end(), std::back_inserter(*dropped));
  return id;
}

}  // namespace orvexa
