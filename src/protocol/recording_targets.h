// Where experiment slots are attached for sampling: the recordings lists of the
// channels of the device registry. The experiment store attaches a slot's log to the
// channel with the same index when a recording starts and detaches it when it stops;
// the fast sampler then appends every sample of that channel to the attached logs.
//
// Called by the experiment store with ExperimentLock held (the lock that also guards
// the recordings lists the fast sampler walks), so an implementation takes no lock and
// calls nothing that could. The registry implementation is RegistryRecordingTargets;
// tests use their own.
#pragma once

#include <cstddef>

#include "logging/experiment_lock.h"

namespace orvexa {

class SampleLog;

class RecordingTargets {
 public:
  virtual ~RecordingTargets() = default;
  // Number of channels, so the number of slots of a new recording.
  virtual size_t ChannelCount() const = 0;
  // Adds `log` to the recordings of channel `index` (< ChannelCount()).
  virtual void Attach(size_t index, SampleLog* log) REQUIRES(ExperimentLock()) = 0;
  // Removes every entry of `log` from the recordings of channel `index`.
  virtual void Detach(size_t index, SampleLog* log) REQUIRES(ExperimentLock()) = 0;
};

}  // namespace orvexa
