// The server's experiments, by id: up to 100 recordings and bursts kept in memory,
// whether still recording or finished, plus the RecordingMap of which connection
// records which experiment. Creating a recording attaches its selected slots to the
// channels' recordings lists (through RecordingTargets), stopping detaches them.
//
// One per server, owned by the server object. Every operation runs with ServerLock held
// (experiment and burst requests on worker threads, the close path, the
// experiment-stopped callback); the store has no lock of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "protocol/experiment.h"
#include "protocol/recording_map.h"
#include "protocol/recording_targets.h"

namespace orvexa {

class ExperimentStore {
 public:
  static constexpr size_t kMaxCount = 100;
  static constexpr uint32_t kMaxId = 0x7FFFFFFF;

  // Time sources: calendar seconds and the 32-bit millisecond tick. Tests pass their own.
  struct Clock {
    std::function<int64_t()> nowSeconds;
    std::function<uint32_t()> tickMilliseconds;
  };

  ExperimentStore(RecordingTargets& targets, Clock clock);
  ExperimentStore(const ExperimentStore&) = delete;
  ExperimentStore& operator=(const ExperimentStore&) = delete;
  ~ExperimentStore();

  // The next free id: 1, 2, 3 ... up to 0x7FFFFFFF, then 1 again, skipping ids in use.
  uint32_t NewId();
  // Starts a recording of the channels `indexes` (each below the channel count) under
  // `id` (0: a new id), evicting the experiments with the oldest start time first while
  // the store is full. An existing experiment with that id is stopped and replaced.
  // A channel listed more than once is attached once. Returns the id.
  uint32_t Create(uint32_t ownerKey, uint32_t id, uint32_t capacity, bool ring,
                  const std::vector<size_t>& indexes, const ClientAddress& clientAddress);
  // Adds a finished (not recording) experiment under a fresh `id` with `slotCount` empty,
  // unselected slots, for a burst; evicts like Create so the store stays bounded.
  Experiment& AddFinished(uint32_t id, size_t slotCount);
  // stopTime = now; a recording experiment detaches its slots and stops recording.
  void Stop(Experiment& experiment);
  // Stops the experiment `id` when it exists.
  void Finish(uint32_t id);
  bool IsRecording(uint32_t id) const;
  Experiment* Find(uint32_t id);
  size_t Count() const { return experiments_.size(); }
  // Ascending id order.
  const std::map<uint32_t, Experiment>& Experiments() const { return experiments_; }

  RecordingMap& Recordings() { return recordings_; }

  int64_t Now() const { return clock_.nowSeconds(); }
  uint32_t TickMilliseconds() const { return clock_.tickMilliseconds(); }

 private:
  void EvictWhileFull();
  void Remove(std::map<uint32_t, Experiment>::iterator it);
  void AdvanceNextId();

  RecordingTargets& targets_;
  Clock clock_;
  std::map<uint32_t, Experiment> experiments_;
  RecordingMap recordings_;
  uint32_t nextId_ = 1;
};

}  // namespace orvexa
