// Selection behind the fast-sample request: the newest samples of a channel's
// fast-sample buffer, either the last n of them or all since a sequence number, at most
// a given maximum, newest first, with the newest sequence number for gap-free polling.
//
// Called by the request on a client worker thread with the channel's fastSamplesLock
// held (the fast sampler appends to the same buffer under that lock); the copy it makes
// is bounded by the buffer's capacity. No state of its own.
#pragma once

#include <cstdint>
#include <vector>

#include "logging/sample_log.h"

namespace orvexa {

// Request flags: bit 0 selects "all since sequence X" instead of "the last X"; bit 1
// sends each sample's millisecond time instead of its sequence number.
constexpr uint8_t kFastSamplesSince = 1;
constexpr uint8_t kFastSamplesWithTime = 2;

struct FastSampleSelection {
  std::vector<SampleLog::Sample> samples;  // newest first
  uint32_t newest = 0;                     // sequence of the newest held sample (0 when empty)
};

// Whether `sequence` is X or comes after it. Sequence numbers wrap at 2^32 (after 12.4
// days at 3999 Hz), so this is serial-number arithmetic: the half of the number circle
// ahead of X counts as after it.
inline bool SequenceAtOrAfter(uint32_t sequence, uint32_t first) {
  return static_cast<uint32_t>(sequence - first) < 0x80000000u;
}

// `countOrFirst` is the X of the request, `maximum` its M (0 = no maximum).
FastSampleSelection SelectFastSamples(const SampleLog& buffer, uint8_t flags, uint32_t countOrFirst,
                                      uint16_t maximum);

}  // namespace orvexa
