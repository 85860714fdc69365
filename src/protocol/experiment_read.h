// The data part of the experiment read request: for each requested (channel number,
// first sequence, count) window, the samples of that slot whose sequence lies in the
// window, grouped per distinct channel number in ascending order. Slots that are not
// part of the experiment, including burst slot numbers beyond its slots, answer stored
// 0xFFFFFFFF with no samples.
//
// ExperimentReader produces that reply in pieces, for a reply far larger than what the
// server should hold for one client: it first takes the read (what each requested slot
// holds at that moment, one short hold of ExperimentLock) so the size of the reply is
// known before anything is written, then hands the samples to a sink one slot at a time,
// each copied under ExperimentLock into a buffer of at most kChunkSamples and written
// after the lock is released (the sink may wait for a slow peer).
//
// What the reply shows is the experiment as it was when the read was taken: the caller
// keeps the experiment alive (shared ownership) for the whole reply, so an experiment
// evicted or replaced meanwhile is still read whole, and samples appended later are not
// part of the reply. The one thing that can change under a running reply is a ring slot
// of a running recording, which drops its oldest samples as new ones arrive: its result
// then leaves out what was dropped before it was copied (its count says so, and it is
// never more than the read took). This is the conservative choice: every result is
// whole and consistent in itself, no result describes another experiment, and the
// reply never grows beyond the size checked before it started.
//
// Called by the request on a client worker thread, which must not hold ExperimentLock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "protocol/experiment.h"
#include "protocol_api/request_catalog.h"

namespace orvexa {

constexpr uint32_t kNotInExperiment = 0xFFFFFFFF;

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

// The slot index a channel number addresses: N - 1 below kFirstBurstSlot (1001), N - 1001
// from there on.
size_t SlotOfChannelNumber(uint16_t channelNumber);

// The positions (0 = oldest held) of the samples in the window first <= s < first +
// count (unsigned, modulo 2^32) of a slot holding `held` samples from sequence `oldest`
// on, oldest first: at most two runs [from, to).
struct WindowRuns {
  std::pair<uint32_t, uint32_t> runs[2];
  uint64_t Size() const {
    return uint64_t{runs[0].second - runs[0].first} + (runs[1].second - runs[1].first);
  }
};
WindowRuns RunsOfWindow(uint32_t oldest, uint32_t held, uint32_t first, uint32_t count);

class ExperimentReader {
 public:
  // Most samples copied under one hold of ExperimentLock: one full recording slot.
  static constexpr size_t kChunkSamples = 30000;

  // Receives the reply as it is produced: per result, its header and then its samples.
  class Sink {
   public:
    virtual ~Sink() = default;
    virtual void BeginResult(uint16_t channelNumber, uint32_t stored, uint32_t sampleCount) = 0;
    // Samples of the current result, times absolute.
    virtual void Samples(const SampleLog::Sample* samples, size_t count) = 0;
  };

  // Takes the read: orders `entries` by channel number (request order kept within one
  // number) and notes what each requested slot holds now (under ExperimentLock). The
  // experiment must stay alive until Stream has returned.
  ExperimentReader(const Experiment& experiment, std::vector<ExperimentReadEntry> entries);

  // Number of results (distinct channel numbers) and the most samples the reply holds.
  size_t ResultCount() const { return results_.size(); }
  uint64_t SampleCount() const { return samples_; }

  // Hands every result to `sink`, in ascending channel number. `buffer` is the caller's
  // reusable copy buffer; it grows to at most kChunkSamples.
  void Stream(Sink& sink, std::vector<SampleLog::Sample>& buffer) const;

 private:
  struct Result {
    uint16_t channelNumber = 0;
    bool inExperiment = false;
    uint32_t firstEntry = 0;  // its entries are entries_[firstEntry, firstEntry + entryCount)
    uint32_t entryCount = 0;
    uint32_t oldest = 0;  // what the slot held when the read was taken
    uint32_t held = 0;
  };

  const Experiment& experiment_;
  std::vector<ExperimentReadEntry> entries_;
  std::vector<Result> results_;
  uint64_t samples_ = 0;
};

// The whole reply in memory, for tests and small reads. Returns false (results
// unspecified) when it would hold more than `sampleLimit` samples.
bool CollectExperimentData(const Experiment& experiment,
                           const std::vector<ExperimentReadEntry>& entries,
                           std::vector<ExperimentReadResult>* results,
                           size_t sampleLimit = SIZE_MAX);

}  // namespace orvexa
