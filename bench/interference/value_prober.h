// The well-behaved client whose latency the interference benchmark reports: one
// ReadValue at a time on its own connection, a short pause between requests, each
// round trip timed. Used by main's thread only (Measure blocks for the whole window).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "bench_context.h"

namespace orvexa::interference {

class ValueProber {
 public:
  explicit ValueProber(const BenchContext& context) : c_(context) {}

  // Round trips (ms) of ReadValue requests sent one after the other for `seconds`, with
  // `pauseMs` between a reply and the next request. A request that fails or times out
  // counts with the time it took, and the prober connects again.
  std::vector<double> Measure(double seconds, int pauseMs);
  uint64_t errors() const { return errors_; }

 private:
  const BenchContext& c_;
  std::unique_ptr<client::ProtocolClient> client_;
  uint64_t errors_ = 0;
};

}  // namespace orvexa::interference
