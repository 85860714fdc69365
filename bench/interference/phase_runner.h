// Runs the measured phases of the interference benchmark: the two gap-free fast-sample
// readers (100 Hz and 3999 Hz channels) run from StartReaders to StopReaders, and each
// phase times the well-behaved client's ReadValue round trips for its length, then takes
// both readers' windows for the same span and the server's CPU and memory. Loaded runs a
// phase while flooding clients hammer the server. Main's thread only.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <vector>

#include "../soak/process_probe.h"
#include "bench_context.h"
#include "fast_stream_reader.h"
#include "flood_client.h"
#include "latency_summary.h"
#include "value_prober.h"

namespace orvexa::interference {

struct PhaseResult {
  FastStreamReader::Window slow, fast;
  LatencySummary value;             // ReadValue round trips, ms
  uint64_t valueErrors = 0;         // ReadValue requests that failed
  uint64_t lost = 0;                // fast samples the readers missed
  double cpuPercent = 0;            // the server's CPU time, % of one core
  double rssMb = 0, rssAnonMb = 0;  // the server's memory at the end
};

class PhaseRunner {
 public:
  PhaseRunner(const BenchContext& context, pid_t server);

  bool Alive() const;
  soak::ProcessSample Sample() const;

  // False when a reader has no answer within 10 s.
  bool StartReaders();
  void StopReaders();

  PhaseResult Measure(double seconds);
  // `count` flooders, kinds taken in turn from `kinds`, flooding for a second before the
  // phase of `seconds` and until its end. With `print`, a line per kind of what they did.
  PhaseResult Loaded(const std::vector<FloodKind>& kinds, int count, double seconds, bool print);
  // The scheduling floor: a phase while `threads` threads of this process only spin, so
  // that both cores are as busy as under a flood but the server has nothing else to do.
  PhaseResult Spinning(int threads, double seconds);

 private:
  const BenchContext& c_;
  const pid_t server_;
  FastStreamReader slow_, fast_;
  ValueProber prober_;
};

// The alone and loaded figures side by side, with their ratios.
void PrintComparison(const BenchContext& c, const PhaseResult& alone, const PhaseResult& loaded);

}  // namespace orvexa::interference
