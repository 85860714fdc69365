// How long a new client waits to be admitted: connect (and, on WebSocket, the upgrade)
// plus Hello, timed from before the connect to the Hello answer; alone, and while
// another client runs a burst (RunBurst "sweep", which keeps the devices to itself for
// its whole duration). Called from main's thread; the burst probes run on threads of
// their own, started at fixed times during the burst whether or not earlier ones have
// been answered.
#pragma once

#include <vector>

#include "bench_context.h"

namespace orvexa::interference {

// Milliseconds from connect to the Hello answer; negative when the server refused or
// did not answer within `timeoutMs`.
double HelloLatencyMs(const BenchContext& c, client::Transport transport, int timeoutMs);

struct BurstHellos {
  double burstMs = 0;          // the RunBurst round trip
  bool burstAnswered = false;  // RunBurst answered an experiment id
  std::vector<double> hellos;  // ms; negative: not answered within the time-out
};

// Runs one burst of `burstMs` and `probes` Hello probes spread over its first
// 0.5 s .. burstMs - 1 s (TCP and WebSocket alternately).
BurstHellos MeasureHellosDuringBurst(const BenchContext& c, int burstMs, int probes);

}  // namespace orvexa::interference
