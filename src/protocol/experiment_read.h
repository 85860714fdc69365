// The data part of the experiment read request: for each requested (channel number,
// first sequence, count) window, the samples of that slot whose sequence lies in the
// window, grouped per distinct channel number in ascending order. Slots that are not
// part of the experiment, including burst slot numbers beyond its slots, answer stored
// 0xFFFFFFFF with no samples.
//
// Called by the request on a client worker thread with ServerLock held; pure otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/experiment.h"

namespace orvexa {

constexpr uint32_t kNotInExperiment = 0xFFFFFFFF;
// Channel numbers from 1001 up name the burst slots 0, 1, ...
constexpr uint16_t kFirstBurstSlotNumber = 1001;

struct ExperimentReadEntry {
  uint16_t channelNumber = 0;
  uint32_t first = 0;
  uint32_t count = 0;
};

struct ExperimentReadResult {
  uint16_t channelNumber = 0;
  uint32_t stored = kNotInExperiment;
  std::vector<SampleLog::Sample> samples;  // times still absolute
};

// The slot index a channel number addresses: N - 1 below 1001, N - 1001 from 1001 on.
size_t SlotOfChannelNumber(uint16_t channelNumber);

// The results in ascending channel number. Stops with false (and partial results) when
// more than `sampleLimit` samples would be collected.
bool CollectExperimentData(const Experiment& experiment,
                           const std::vector<ExperimentReadEntry>& entries,
                           std::vector<ExperimentReadResult>* results,
                           size_t sampleLimit = SIZE_MAX);

}  // namespace orvexa
