// What every thread of one soak run shares: where the server listens, the channel
// numbers, the prefilled history, the switches that pause and stop the clients, the
// burst limiter and the history samples the clients were served (checked against the
// log files at the end). Built by main before any client thread starts.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <utility>

#include "soak_stats.h"

namespace orvexa::soak {

// Monotonic milliseconds, the clock whose low 32 bits stamp the server's fast samples.
int64_t NowMs();

struct SoakContext {
  int port = 0;
  int clients = 50;
  int maxClients = 60;    // MaxClientCount in orvexa.cfg
  int expirySeconds = 5;  // ConectionExpirationDelay in orvexa.cfg
  int gapMs = 100;        // a longer step between two fast samples is a gap
  uint16_t sine = 0, ramp = 0, setpoint = 0, output = 0;
  // Simulator_Sine.log is prefilled before the start with one record per second:
  // record k at prefillStart + k holds ((k % 512) - 256) / 256.
  uint32_t prefillStart = 0, prefillCount = 0;
  int64_t serverStart = 0;  // calendar seconds just before the server was started

  SoakStats stats;
  std::atomic<bool> stopHealthy{false};
  std::atomic<bool> stopFaults{false};
  std::atomic<bool> pauseFaults{false};
  std::atomic<int> activeFaults{0};
  std::atomic<int> healthyConnected{0};

  // One burst at a time, at least kBurstSpacingMs apart: a burst holds the devices.
  static constexpr int64_t kBurstSpacingMs = 1500;
  std::mutex burstLock;
  bool burstRunning = false;
  int64_t lastBurstEndMs = 0;

  // History samples (time, value x 256) served to the clients from the run's records.
  std::mutex seenLock;
  std::map<uint16_t, std::set<std::pair<uint32_t, int32_t>>> seen;

  static int32_t PrefillFixed(uint32_t k) { return static_cast<int32_t>(k % 512) - 256; }
  bool Logged(uint16_t channel) const {
    return channel == sine || channel == ramp || channel == output;
  }
  // Values a channel can take: Sine in [-1, 1], Ramp in [0, 100]; the setpoint (and the
  // output that follows it) only what the clients write, [0, 64).
  bool Plausible(uint16_t channel, float v) const {
    if (!std::isfinite(v)) return false;
    if (channel == sine) return v >= -1.0001f && v <= 1.0001f;
    if (channel == ramp) return v >= 0.0f && v <= 100.0f;
    return v >= 0.0f && v < 64.0f;
  }
};

}  // namespace orvexa::soak
