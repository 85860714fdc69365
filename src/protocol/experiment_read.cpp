#include "protocol/experiment_read.h"

#include <algorithm>
#include <map>
#include <utility>

namespace orvexa {

size_t SlotOfChannelNumber(uint16_t channelNumber) {
  if (channelNumber >= kFirstBurstSlotNumber) return channelNumber - kFirstBurstSlotNumber;
  return static_cast<size_t>(channelNumber) - 1;
}

bool CollectExperimentData(const Experiment& experiment,
                           const std::vector<ExperimentReadEntry>& entries,
                           std::vector<ExperimentReadResult>* results, size_t sampleLimit) {
  std::map<uint16_t, ExperimentReadResult> byNumber;
  size_t collected = 0;
  bool within = true;
  for (const ExperimentReadEntry& entry : entries) {
    ExperimentReadResult& result = byNumber[entry.channelNumber];
    result.channelNumber = entry.channelNumber;
    result.stored = kNotInExperiment;
    const size_t slot = SlotOfChannelNumber(entry.channelNumber);
    if (slot >= experiment.slots.size() || !experiment.slots[slot].selected) continue;
    const SampleLog& log = experiment.slots[slot].log;
    result.stored = log.Count();
    // Sequences are consecutive from the oldest held sample, so the window
    // first <= s < first + count (on the 32-bit circle) is at most two ranges of
    // positions: [0, wrapEnd) and [d, end), with d the position of `first`.
    const uint64_t held = log.Count();
    const uint64_t d = static_cast<uint32_t>(entry.first - log.OldestSequence());
    const uint64_t circle = uint64_t{1} << 32;
    const uint64_t wrapEnd =
        entry.count > circle - d ? std::min({d, held, entry.count - (circle - d)}) : 0;
    const uint64_t end = d < held ? std::min<uint64_t>(held, d + entry.count) : d;
    for (auto [from, to] : {std::pair{uint64_t{0}, wrapEnd}, std::pair{d, end}}) {
      for (uint64_t position = from; position < to; ++position) {
        if (collected == sampleLimit) {
          within = false;
          break;
        }
        result.samples.push_back(log.FromOldest(static_cast<uint32_t>(position)));
        ++collected;
      }
      if (!within) break;
    }
    if (!within) break;
  }
  results->clear();
  results->reserve(byNumber.size());
  for (auto& [number, result] : byNumber) results->push_back(std::move(result));
  return within;
}

}  // namespace orvexa
