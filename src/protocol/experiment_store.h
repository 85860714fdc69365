// The server's experiments, by id: up to 100 recordings and bursts kept in memory,
// whether still recording or finished, plus the RecordingMap of which connection
// records which experiment. Creating a recording attaches its selected slots to the
// channels' recordings lists (through RecordingTargets), stopping detaches them.
//
// One per server, owned by the server object (through the ExperimentService).
//
// Locking: the store's state (the experiments, their changing fields and slot logs, the
// recording map, the next id) is guarded by ExperimentLock (logging/experiment_lock.h),
// the same lock under which the fast sampler appends to attached slot logs. Every public
// operation takes it itself, for a bounded change or copy, and calls nothing outside
// the store and its RecordingTargets while holding it (never a plug-in, a socket or the
// disk); the experiments it drops are freed after the lock is released. Callers that also ask the
// plug-ins (StartAll / StopAll) hold ServerLock around their sequence of store operations, so the
// order is ServerLock -> ExperimentLock; the read, list and is-recording requests and the close
// path take no ServerLock at all. A caller must not hold ExperimentLock when calling the store (it
// is not recursive).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "logging/experiment_lock.h"
#include "protocol/experiment.h"
#include "protocol/recording_map.h"
#include "protocol/recording_targets.h"

namespace orvexa {

class ExperimentStore {
 public:
  static constexpr size_t kMaxCount = 100;
  static constexpr uint32_t kMaxId = 0x7FFFFFFF;
  // Most samples a recording slot holds; a larger capacity is taken as this.
  static constexpr uint32_t kMaxSlotCapacity = 30000;

  // Time sources: calendar seconds and the 32-bit millisecond tick. Tests pass their own.
  struct Clock {
    std::function<int64_t()> nowSeconds;
    std::function<uint32_t()> tickMilliseconds;
  };

  // What the list request reports of one experiment.
  struct Summary {
    uint32_t id = 0;
    bool recording = false;
    int64_t startTime = 0;
    int64_t stopTime = 0;
    ClientAddress clientAddress{};
    uint32_t ownerKey = 0;
    bool burst = false;
  };

  ExperimentStore(RecordingTargets& targets, Clock clock);
  ExperimentStore(const ExperimentStore&) = delete;
  ExperimentStore& operator=(const ExperimentStore&) = delete;
  ~ExperimentStore();

  // Experiments taken out of the store (evicted, or their id reused): freeing one frees
  // up to channels x 30000 samples, which is done after ExperimentLock is released.
  using Dropped = std::vector<std::shared_ptr<Experiment>>;

  // The next free id: 1, 2, 3 ... up to 0x7FFFFFFF, then 1 again, skipping ids in use.
  uint32_t NewId();
  // Starts a recording of the channels `indexes` (each below the channel count) under
  // `id` (0: a new id), evicting the experiments with the oldest start time first while
  // the store is full. An existing experiment with that id is stopped and replaced by a
  // new one (a reader still holding the old one keeps it). A channel listed more than
  // once is attached once; capacity is at most kMaxSlotCapacity. Returns the id. The
  // experiments taken out go to `dropped` when given (a caller holding ServerLock frees
  // them after releasing it), else are freed on return, after ExperimentLock.
  uint32_t Create(uint32_t ownerKey, uint32_t id, uint32_t capacity, bool ring,
                  const std::vector<size_t>& indexes, const ClientAddress& clientAddress,
                  Dropped* dropped = nullptr);
  // Adds a finished (not recording) experiment, made whole by the caller, under a fresh
  // id (set into it), for a burst; evicts like Create so the store stays bounded.
  // Returns the id.
  uint32_t AddFinished(std::shared_ptr<Experiment> experiment, Dropped* dropped = nullptr);
  // Stops the experiment `id` when it exists: stopTime = now; a recording experiment
  // detaches its slots and stops recording.
  void Finish(uint32_t id);
  bool IsRecording(uint32_t id) const;
  // The experiment, kept alive for the caller; null when there is none. Its changing
  // fields and slot logs are read with ExperimentLock held.
  std::shared_ptr<Experiment> Find(uint32_t id) const;
  size_t Count() const;
  // The experiments of `ownerKey` with lowest <= id and (highest = 0 or id <= highest),
  // in ascending id order.
  std::vector<Summary> List(uint32_t ownerKey, uint32_t lowest, uint32_t highest) const;
  // The same whatever the owner key, for a client that keeps every experiment (an
  // archive); any client may read any experiment by id, so this reveals nothing more.
  std::vector<Summary> ListAll(uint32_t lowest, uint32_t highest) const;
  // Every experiment still recording, whoever owns it, in ascending id order.
  std::vector<Summary> Recording() const;

  // The recording map. RecordingOf: the id connection `serial` records, or 0.
  uint32_t RecordingOf(uint32_t serial) const;
  void SetRecordingOf(uint32_t serial, uint32_t id);
  // The close path and a stop: removes the connection's entry and stops its experiment
  // in one step. Returns the id it recorded, 0 when none.
  uint32_t EndRecordingOf(uint32_t serial);
  // A plug-in ended `id`: it stops and no connection stays mapped to it, in one step.
  void FinishAndUnmap(uint32_t id);

  int64_t Now() const { return clock_.nowSeconds(); }
  uint32_t TickMilliseconds() const { return clock_.tickMilliseconds(); }

 private:
  using Map = std::map<uint32_t, std::shared_ptr<Experiment>>;

  uint32_t NewIdLocked() REQUIRES(ExperimentLock());
  void StopLocked(Experiment& experiment) REQUIRES(ExperimentLock());
  void FinishLocked(uint32_t id) REQUIRES(ExperimentLock());
  void EvictWhileFull(Dropped& dropped) REQUIRES(ExperimentLock());
  void Remove(Map::iterator it, Dropped& dropped) REQUIRES(ExperimentLock());
  void AdvanceNextId() REQUIRES(ExperimentLock());

  RecordingTargets& targets_;
  Clock clock_;
  Map experiments_ GUARDED_BY(ExperimentLock());
  RecordingMap recordings_ GUARDED_BY(ExperimentLock());
  uint32_t nextId_ GUARDED_BY(ExperimentLock()) = 1;
};

}  // namespace orvexa
