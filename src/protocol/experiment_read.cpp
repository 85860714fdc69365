#include "protocol/experiment_read.h"

#include <algorithm>

#include "logging/experiment_lock.h"
#include "platform/lock_guard.h"

namespace orvexa {

using Hold = LockGuard<PriorityInheritanceMutex>;

size_t SlotOfChannelNumber(uint16_t channelNumber) {
  if (channelNumber >= kFirstBurstSlot) return channelNumber - kFirstBurstSlot;
  return static_cast<size_t>(channelNumber) - 1;
}

WindowRuns RunsOfWindow(uint32_t oldest, uint32_t held, uint32_t first, uint32_t count) {
  // Sequences are consecutive from the oldest held sample, so the window (on the 32-bit
  // circle) is at most two runs of positions: [0, wrapEnd) and [d, end), with d the
  // position of `first`.
  const uint64_t d = static_cast<uint32_t>(first - oldest);
  const uint64_t circle = uint64_t{1} << 32;
  const uint64_t wrapEnd =
      count > circle - d ? std::min<uint64_t>({d, held, count - (circle - d)}) : 0;
  const uint64_t end = d < held ? std::min<uint64_t>(held, d + count) : d;
  WindowRuns runs;
  runs.runs[0] = {0, static_cast<uint32_t>(wrapEnd)};
  runs.runs[1] = {static_cast<uint32_t>(d), static_cast<uint32_t>(end)};
  return runs;
}

ExperimentReader::ExperimentReader(const Experiment& experiment,
                                   std::vector<ExperimentReadEntry> entries)
    : experiment_(experiment), entries_(std::move(entries)) {
  std::stable_sort(entries_.begin(), entries_.end(),
                   [](const ExperimentReadEntry& a, const ExperimentReadEntry& b) {
                     return a.channelNumber < b.channelNumber;
                   });
  for (size_t k = 0; k < entries_.size(); ++k) {
    if (results_.empty() || results_.back().channelNumber != entries_[k].channelNumber)
      results_.push_back(Result{entries_[k].channelNumber, false, static_cast<uint32_t>(k), 0});
    ++results_.back().entryCount;
  }
  {
    // One short hold for every slot, so all results describe the same moment.
    Hold hold(ExperimentLock());
    for (Result& result : results_) {
      const size_t slot = SlotOfChannelNumber(result.channelNumber);
      if (slot >= experiment_.slots.size() || !experiment_.slots[slot].selected) continue;
      const SampleLog& log = experiment_.slots[slot].log;
      result.inExperiment = true;
      result.oldest = log.OldestSequence();
      result.held = log.Count();
    }
  }
  for (const Result& result : results_) {
    if (!result.inExperiment) continue;
    for (size_t k = result.firstEntry; k < size_t{result.firstEntry} + result.entryCount; ++k)
      samples_ +=
          RunsOfWindow(result.oldest, result.held, entries_[k].first, entries_[k].count).Size();
  }
}

void ExperimentReader::Stream(Sink& sink, std::vector<SampleLog::Sample>& buffer) const {
  for (const Result& result : results_) {
    if (!result.inExperiment) {
      sink.BeginResult(result.channelNumber, kNotInExperiment, 0);
      continue;
    }
    const SampleLog& log = experiment_.slots[SlotOfChannelNumber(result.channelNumber)].log;
    // What is left of the span the read took: everything, unless a ring slot of a
    // running recording dropped its oldest samples since (sequences only move forward).
    uint32_t oldest = result.oldest;
    uint32_t available = 0;
    bool copied = false;
    {
      Hold hold(ExperimentLock());
      const uint32_t dropped = log.OldestSequence() - result.oldest;
      if (dropped < result.held) {
        oldest = log.OldestSequence();
        available = std::min(result.held - dropped, log.Count());
      }
      // A slot that may still change is copied now, whole: a recording slot holds at
      // most one chunk. A finished slot never changes again, so a large one (a long
      // burst) is copied run by run below.
      if (experiment_.recording || available <= kChunkSamples) {
        buffer.resize(available);
        std::copy_n(log.begin(), available, buffer.begin());
        copied = true;
      }
    }
    uint64_t count = 0;
    for (size_t k = result.firstEntry; k < size_t{result.firstEntry} + result.entryCount; ++k)
      count += RunsOfWindow(oldest, available, entries_[k].first, entries_[k].count).Size();
    sink.BeginResult(result.channelNumber, result.held, static_cast<uint32_t>(count));
    for (size_t k = result.firstEntry; k < size_t{result.firstEntry} + result.entryCount; ++k) {
      const WindowRuns runs = RunsOfWindow(oldest, available, entries_[k].first, entries_[k].count);
      for (auto [from, to] : runs.runs) {
        if (copied) {
          if (to > from) sink.Samples(buffer.data() + from, to - from);
          continue;
        }
        for (uint32_t p = from; p < to;) {
          const uint32_t n = static_cast<uint32_t>(std::min<size_t>(to - p, kChunkSamples));
          {
            Hold hold(ExperimentLock());
            buffer.resize(n);
            std::copy_n(log.begin() + p, n, buffer.begin());
          }
          sink.Samples(buffer.data(), n);
          p += n;
        }
      }
    }
  }
}

namespace {

class CollectingSink : public ExperimentReader::Sink {
 public:
  explicit CollectingSink(std::vector<ExperimentReadResult>* results) : results_(results) {}
  void BeginResult(uint16_t channelNumber, uint32_t stored, uint32_t sampleCount) override {
    ExperimentReadResult& result = results_->emplace_back();
    result.channelNumber = channelNumber;
    result.stored = stored;
    result.samples.reserve(sampleCount);
  }
  void Samples(const SampleLog::Sample* samples, size_t count) override {
    results_->back().samples.insert(results_->back().samples.end(), samples, samples + count);
  }

 private:
  std::vector<ExperimentReadResult>* results_;
};

}  // namespace

bool CollectExperimentData(const Experiment& experiment,
                           const std::vector<ExperimentReadEntry>& entries,
                           std::vector<ExperimentReadResult>* results, size_t sampleLimit) {
  results->clear();
  ExperimentReader reader(experiment, entries);
  if (reader.SampleCount() > sampleLimit) return false;
  results->reserve(reader.ResultCount());
  CollectingSink sink(results);
  std::vector<SampleLog::Sample> buffer;
  reader.Stream(sink, buffer);
  return true;
}

}  // namespace orvexa
