// Reads a channel's log file back after the server has stopped, through the server's own
// LogFile and record layout, and checks that no record is lost or torn: the prefilled
// records unchanged, then one record per second of the run with consecutive times (a
// tick that slipped over a second boundary shows as a missing second next to a doubled
// one and is counted apart), plausible values, and every record a client was served
// still there. Called by the soak's main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace orvexa::soak {

struct LogExpectation {
  std::string path;
  uint32_t prefillStart = 0, prefillCount = 0;  // count 0: no prefill
  int64_t runStart = 0, runEnd = 0;             // calendar seconds
  std::function<bool(float)> plausible;
  std::set<std::pair<uint32_t, int32_t>> served;  // (time, value x 256) seen by clients
};

struct LogCheckResult {
  uint64_t records = 0, runRecords = 0, servedChecked = 0;
  int slippedTicks = 0;
  std::vector<std::string> faults;
};

LogCheckResult CheckLogFile(const LogExpectation& expected);

}  // namespace orvexa::soak
