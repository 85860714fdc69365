// One well-behaved client of the soak (bench/soak): it connects once, over plain TCP or
// WebSocket, as a controlling client or an observer (some through a forwarded address),
// then runs a random mix of every request with short sleeps and checks each reply:
// listings and look-ups, reads, writes by the client in control read back, control
// status, history (recent, thinned windows of the prefilled log, the 131072-sample cap),
// gap-free fast polling, recordings, bursts and batched replies. A failure of any kind
// is a healthy-client error, never an expected one; the client then connects again.
// Runs on a thread of its own until SoakContext::stopHealthy.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "client/protocol_client.h"
#include "soak_context.h"

namespace orvexa::soak {

class HealthyClient {
 public:
  HealthyClient(SoakContext& context, int index, uint32_t seed);
  void Run();

 private:
  struct Recording {
    uint32_t id = 0;
    uint32_t capacity = 0;
    bool ring = false;
    bool autoStop = false;  // the plug-in ends it after 1 s
    int64_t startMs = 0, stopAfterMs = 0;
    std::vector<uint16_t> channels;  // ascending
  };

  void Connect();
  void Step();
  void FastPoll();
  void LastSamples();
  void ReadValues(bool batch);
  void Control();
  void Listing();
  void Find();
  void Controllers();
  void History(int kind);  // 0 recent, 1 the capped 131072, 2 a window of the prefill
  void RecordingStep();
  void ReadRecording(int64_t recordedMs);
  bool Listed(uint32_t id);
  void Burst();
  void ListOwn();
  int Uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
  uint16_t AnyLogged() {
    return Uniform(0, 2) == 0 ? c_.sine : Uniform(0, 1) ? c_.ramp : c_.output;
  }

  SoakContext& c_;
  const int index_;
  std::mt19937 rng_;
  const bool websocket_, observer_, forwarded_;
  const uint32_t owner_;
  const uint16_t fastChannel_;
  std::unique_ptr<client::ProtocolClient> client_;
  std::optional<uint32_t> cursor_;  // next fast-sample sequence number wanted
  int64_t lastSampleMs_ = 0, lastPollMs_ = 0;
  uint32_t writes_ = 0;
  std::optional<Recording> recording_;
  std::set<uint32_t> myIds_;
};

}  // namespace orvexa::soak
