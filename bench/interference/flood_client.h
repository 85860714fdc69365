// One hostile client of the interference benchmark: on a thread of its own it repeats
// one of the heaviest requests as fast as the server answers, as an observer:
//   kHistoryHourly   ReadHistory mode 1 over the whole 15 M-record log (first sample of
//                    a random hour of each day),
//   kHistoryWindow   ReadHistory mode 2 over 194 days from near the log's start, thinned
//                    to a random hour, one sample a minute (capped at 131072) or an hour,
//   kExperimentUnread ReadExperiment of about 4 M samples, twice, never read back: it
//                    holds the connection with the replies unread for a second, closes
//                    and starts again,
//   kFastSamples     ReadFastSamples of each fast channel's whole buffer,
//   kChurn           connect (TCP or WebSocket), Hello, one ReadValue, close,
//   kHistorySteppedBack ReadHistory mode 1 over the whole 14 M-record log whose clock
//                    was once set back by 2 s (its records are not all in time order).
// Counts its replies (or, for the unread reads and the churn, its cycles) and times them.
// Start, then RequestStop and Join from the thread that owns the object.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "bench_context.h"

namespace orvexa::interference {

enum class FloodKind {
  kHistoryHourly,
  kHistoryWindow,
  kExperimentUnread,
  kFastSamples,
  kChurn,
  kHistorySteppedBack
};
constexpr int kFloodKinds = 6;
const char* FloodKindName(FloodKind kind);

class FloodClient {
 public:
  FloodClient(const BenchContext& context, FloodKind kind, uint32_t seed);
  ~FloodClient();

  void Start();
  void RequestStop() { stop_ = true; }
  void Join();

  FloodKind kind() const { return kind_; }
  // After Join: what was done and how long each took (ms).
  uint64_t cycles() const { return cycles_; }
  uint64_t errors() const { return errors_; }
  const std::vector<double>& durations() const { return durations_; }

 private:
  void Run();
  void Cycle();
  void HistoryHourly(uint16_t channel, uint32_t oldest);
  void HistoryWindow();
  void ExperimentUnread();
  void FastSamples();
  void Churn();
  void ReadHistoryReply();
  client::ProtocolClient& Connected();

  const BenchContext& c_;
  const FloodKind kind_;
  std::mt19937 rng_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::unique_ptr<client::ProtocolClient> client_;
  uint64_t cycles_ = 0, errors_ = 0;
  std::vector<double> durations_;
};

}  // namespace orvexa::interference
