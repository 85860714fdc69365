// RecordingTargets over the device registry: a slot of a running experiment is
// attached to the recordings list of the channel with the same index, where the fast
// sampler appends every sample of that channel. Used by the experiment store with
// ExperimentLock held; the registry's channels never move once the server runs, so
// reaching one needs no ServerLock.
#pragma once

#include "protocol/recording_targets.h"

namespace orvexa {

class DeviceRegistry;

class RegistryRecordingTargets : public RecordingTargets {
 public:
  explicit RegistryRecordingTargets(DeviceRegistry& registry) : registry_(registry) {}
  size_t ChannelCount() const override;
  void Attach(size_t index, SampleLog* log) override REQUIRES(ExperimentLock());
  void Detach(size_t index, SampleLog* log) override REQUIRES(ExperimentLock());

 private:
  DeviceRegistry& registry_;
};

}  // namespace orvexa
