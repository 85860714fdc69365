// One recorded experiment: a slot per channel of the registry (bursts: at least eight),
// each with a bounded sample log, plus the times, owner key and client address that
// the list request reports. Kept by the ExperimentStore through shared ownership, so a
// reader that found it keeps it alive (with its data) until its reply is written, even
// when the store evicts or replaces it meanwhile.
//
// Made whole before the store publishes it; afterwards ownerKey, id, burst, the slot vector
// (its size and the selected flags), startTime, startTick and clientAddress never
// change. What does change (recording, stopTime, the slot logs, which the fast sampler
// appends to while the experiment records) is read and written with ExperimentLock held
// (logging/experiment_lock.h). A slot's log is attached to its channel's recordings list
// while the experiment records, so slots never move once made (the vector is never
// resized afterwards). Once it stops recording it is detached and its logs never change
// again.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "logging/experiment_lock.h"
#include "logging/sample_log.h"

namespace orvexa {

using ClientAddress = std::array<uint8_t, 4>;

struct ExperimentChannel {
  bool selected = false;  // the client asked for this channel
  SampleLog log GUARDED_BY(ExperimentLock());
};

struct Experiment {
  uint32_t ownerKey = 0;  // 0 for bursts
  uint32_t id = 0;
  std::vector<ExperimentChannel> slots;
  bool recording GUARDED_BY(ExperimentLock()) = false;
  int64_t startTime = 0;  // calendar seconds
  // Creation time first, then the time of each stop.
  int64_t stopTime GUARDED_BY(ExperimentLock()) = 0;
  uint32_t startTick =
      0;  // millisecond tick x 100 at the start; sample times are sent relative to it
  ClientAddress clientAddress{};
  bool burst = false;  // made by a plug-in's burst, not by a recording
};

}  // namespace orvexa
