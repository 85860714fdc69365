#include "log_check.h"

#include <map>

#include "logging/log_file.h"

namespace orvexa::soak {

LogCheckResult CheckLogFile(const LogExpectation& e) {
  LogCheckResult result;
  auto fault = [&](const std::string& text) { result.faults.push_back(e.path + ": " + text); };
  LogFile log(e.path);
  if (!log.Open(false)) {
    fault("cannot open: " + log.LastError());
    return result;
  }
  const LogFileHeader header = *log.Header();
  if (header.capacity != kLogCapacity || header.count > header.capacity ||
      header.nextIndex != header.count) {
    fault("header next " + std::to_string(header.nextIndex) + " count " +
          std::to_string(header.count) + " capacity " + std::to_string(header.capacity));
    return result;
  }
  const LogRecord* records = log.Records();
  result.records = header.count;
  if (header.count < e.prefillCount) {
    fault("fewer records than were prefilled");
    return result;
  }
  for (uint32_t k = 0; k < e.prefillCount; ++k) {
    const int32_t value = static_cast<int32_t>(k % 512) - 256;
    if (records[k].time != e.prefillStart + k || records[k].value != value) {
      fault("prefilled record " + std::to_string(k) + " changed");
      return result;
    }
  }

  std::map<uint32_t, int> perSecond;
  std::multiset<std::pair<uint32_t, int32_t>> inFile;
  uint32_t previous = 0;
  int badTimes = 0, badValues = 0;
  for (uint32_t k = e.prefillCount; k < header.count; ++k) {
    const LogRecord& r = records[k];
    if (r.time < previous || r.time + int64_t{1} < e.runStart || r.time > e.runEnd + 1) ++badTimes;
    if (!e.plausible(static_cast<float>(r.value) / 256.0f)) ++badValues;
    previous = r.time;
    ++perSecond[r.time];
    inFile.insert({r.time, r.value});
  }
  result.runRecords = header.count - e.prefillCount;
  if (badTimes > 0)
    fault(std::to_string(badTimes) + " records with times out of order or outside the run");
  if (badValues > 0) fault(std::to_string(badValues) + " records with implausible (torn) values");
  if (perSecond.empty()) {
    fault("no record of the run");
    return result;
  }
  const uint32_t first = perSecond.begin()->first, last = perSecond.rbegin()->first;
  // The first pass runs a second after start-up; the last one at most a second before
  // the stop.
  if (first > e.runStart + 3)
    fault("first record " + std::to_string(first - e.runStart) + " s after the start");
  if (last + int64_t{2} < e.runEnd)
    fault("last record " + std::to_string(e.runEnd - last) + " s before the stop");
  auto doubled = [&](uint32_t s) {
    auto it = perSecond.find(s);
    return it != perSecond.end() && it->second > 1;
  };
  std::vector<uint32_t> lost;
  for (uint32_t s = first; s <= last; ++s) {
    if (perSecond.count(s)) continue;
    if (doubled(s - 1) || doubled(s + 1))
      ++result.slippedTicks;
    else
      lost.push_back(s);
  }
  if (!lost.empty())
    fault(std::to_string(lost.size()) + " seconds of the run without a record, the first at " +
          std::to_string(lost.front() - e.runStart) + " s after the start");
  int missing = 0;
  for (const auto& sample : e.served) {
    ++result.servedChecked;
    if (!inFile.count(sample)) ++missing;
  }
  if (missing > 0)
    fault(std::to_string(missing) + " records served to clients are not in the file");
  return result;
}

}  // namespace orvexa::soak
