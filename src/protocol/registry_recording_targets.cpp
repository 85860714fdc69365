#include "protocol/registry_recording_targets.h"

#include "host/device_registry.h"

namespace orvexa {

size_t RegistryRecordingTargets::ChannelCount() const {
  return registry_.ChannelCount();
}

void RegistryRecordingTargets::Attach(size_t index, SampleLog* log) {
  if (index < registry_.ChannelCount()) registry_.Channel(index).AttachRecording(log);
}

void RegistryRecordingTargets::Detach(size_t index, SampleLog* log) {
  // Every entry of the log goes, so no list can keep a log of a stopped experiment.
  if (index < registry_.ChannelCount()) registry_.Channel(index).DetachRecording(log);
}

}  // namespace orvexa
