#include "logging/sample_log.h"

namespace orvexa {

void SampleLog::Append(uint32_t time, float value) {
  if (!ring_ && Count() == capacity_) return;
  samples_.push_back(Sample{nextSequence_, time, value});
  ++nextSequence_;  // wraps modulo 2^32 by design
  while (samples_.size() > capacity_) samples_.pop_front();
}

void SampleLog::Reset() {
  samples_.clear();
  nextSequence_ = 0;
}

}  // namespace orvexa
