// What every thread of one interference run shares: where the server listens, the
// channel numbers, the prefilled log's extent and the finished recording that the
// experiment reads ask for; plus the two helpers every client uses (an observer's
// connection, the largest ReadExperiment request). Filled by main before any client
// thread starts and read-only afterwards, so any thread may read it.
#pragma once

#include <cstdint>
#include <memory>

#include "client/protocol_client.h"
#include "platform/clock.h"

namespace orvexa::interference {

// Monotonic milliseconds: the clock whose low 32 bits stamp the server's fast samples.
inline int64_t NowMs() {
  return MonotonicNanoseconds() / 1'000'000;
}

// The most samples one ReadExperiment may ask for (the server refuses more).
constexpr uint32_t kMaxReadSamples = 4'194'304;

struct BenchContext {
  int port = 0;
  uint16_t logged = 0;       // Simulator_Sine: its log prefilled with 15 M records, one a second
  uint16_t slow = 0;         // Simulator_Ramp: fast-sampled at slowHz
  uint16_t fast = 0;         // Simulator_Output: fast-sampled at fastHz
  uint16_t steppedBack = 0;  // Simulator_Setpoint: 14 M records, the clock set back once
  int slowHz = 100, fastHz = 3999;
  uint32_t slowBuffer = 10000, fastBuffer = 40000;  // their FastLogSize
  uint32_t logOldest = 0;                           // time of the log's oldest record
  uint32_t steppedBackOldest = 0;                   // the same for the stepped-back log
  uint32_t experimentId = 0;                        // a finished recording of `fast`
  uint32_t experimentStored = 0;                    // its samples
};

// Connects over `transport` and says Hello as an observer (client kind 3). Throws
// client::ClientError when the server refuses or does not answer within `timeoutMs`.
std::unique_ptr<client::ProtocolClient> ConnectObserver(const BenchContext& c,
                                                        client::Transport transport, int timeoutMs);

// Sends (without reading the reply) one ReadExperiment of the recording whose entries
// repeat its whole window as often as fits under kMaxReadSamples: a reply of about 4 M
// samples, 50 MB.
void SendLargestExperimentRead(client::ProtocolClient& client, const BenchContext& c);

}  // namespace orvexa::interference
