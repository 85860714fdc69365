// Counters of one soak run (bench/soak): requests served by kind, injected faults by kind
// with whether their expected effect was seen, errors of the healthy clients, notes,
// the fast stream's gaps and the time spans of the bursts. Every client thread writes
// here; the reporter thread and main read snapshots. All members lock a mutex of their
// own, so any thread may call them.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace orvexa::soak {

using Counts = std::map<std::string, uint64_t>;

class SoakStats {
 public:
  void Served(const std::string& kind, uint64_t n = 1);
  // A fault was injected; its outcome follows with FaultEffect.
  void FaultEffect(const std::string& kind, bool expected, const std::string& detail = "");
  // Anything a healthy client saw go wrong: never expected.
  void HealthyError(const std::string& kind, const std::string& detail);
  // Outcomes that are neither errors nor requests (e.g. a recording evicted by others).
  void Note(const std::string& kind);
  // Any other failure of the run (leak, lost record, crash): one line each.
  void Failure(const std::string& line);

  // Bursts, in monotonic milliseconds: Begin before the request, End after its reply.
  size_t BurstBegin(int64_t startMs);
  void BurstEnd(size_t index, int64_t endMs);
  // A step longer than the gap threshold between two consecutive fast samples of a
  // channel (monotonic milliseconds). Reported once however many clients see it.
  void FastGap(uint16_t channel, int64_t fromMs, int64_t toMs);

  struct Snapshot {
    Counts served, faults, unexpectedFaults, errors, notes;
    uint64_t requests = 0, faultCount = 0, errorCount = 0, unexpectedFaultCount = 0;
    uint64_t gapsInBursts = 0, gapsOutside = 0, bursts = 0;
    int64_t longestGapOutside = 0;
    std::vector<std::string> failures, firstErrors;
    struct Gap {
      uint16_t channel;
      int64_t fromMs, toMs;
    };
    std::vector<Gap> outside;  // the first 20 gaps outside bursts
  };
  // Gaps are classified against the bursts known so far (a burst still running counts
  // up to now); `slackMs` widens every burst span on both sides.
  Snapshot Take(int64_t nowMs, int64_t slackMs) const;

 private:
  mutable std::mutex lock_;
  Counts served_, faults_, unexpectedFaults_, errors_, notes_;
  std::vector<std::string> failures_, firstErrors_;
  std::vector<std::pair<int64_t, int64_t>> bursts_;  // end -1 while running
  std::map<std::pair<uint16_t, int64_t>, int64_t> gaps_;
};

}  // namespace orvexa::soak
