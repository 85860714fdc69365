// Reads one channel's fast samples without gaps, as a well-behaved client does: a first
// read of the newest sample, then every 50 ms all samples from the next sequence number
// on, with the server's millisecond time of each (ReadFastSamples, flags 3). Keeps every
// sample time, so that the achieved rate and the largest gap of any time window can be
// computed from the server's own stamps afterwards. Its own connection and thread, from
// Start to Stop; Measure and WaitPast may be called from any thread meanwhile.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "bench_context.h"

namespace orvexa::interference {

class FastStreamReader {
 public:
  FastStreamReader(const BenchContext& context, uint16_t channel, int frequencyHz);
  ~FastStreamReader();

  void Start();
  void Stop();

  struct Window {
    uint64_t samples = 0;     // stamped within the window
    double expected = 0;      // window length x requested rate
    double ratePercent = 0;   // samples / expected, in %
    double largestGapMs = 0;  // longest part of the window without a sample
    double largestGapPeriods = 0;
    double stepP99Ms = 0;  // 99th percentile of the steps between samples
  };
  // Samples stamped in [fromMs, toMs) (monotonic milliseconds).
  Window Measure(int64_t fromMs, int64_t toMs) const;
  // Waits until a poll that began after `ms` has been answered; false after `timeoutMs`.
  bool WaitPast(int64_t ms, int timeoutMs) const;

  // Samples the server took but the reader missed (its buffer overran between polls):
  // they make a window's rate look lower than the sampler's.
  uint64_t lost() const { return lost_; }
  uint64_t errors() const { return errors_; }

 private:
  void Run();
  void Poll(client::ProtocolClient& client);

  const BenchContext& c_;
  const uint16_t channel_;
  const int frequencyHz_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int64_t> answeredPollStartMs_{0};
  std::atomic<uint64_t> lost_{0}, errors_{0};
  bool haveCursor_ = false;
  uint32_t cursor_ = 0;  // next sequence number wanted
  mutable std::mutex lock_;
  std::vector<int64_t> times_;  // monotonic ms, oldest first
};

}  // namespace orvexa::interference
