// The history sample filter: decides record by record which logged records a history
// request sends (every record, the first record of each stretch in one local hour, or a
// window thinned to a minimum spacing). ReadHistory feeds the same records twice, once
// to count and once to copy, with FilterReset before each round; the filter accepts the
// same records both times.
//
// One instance per request (it lives on the worker's stack), so requests never share
// state; it holds no lock and reads records that the caller keeps valid under the
// log file's lock.
#pragma once

#include <cstdint>

#include "logging/log_record.h"

namespace orvexa {

// Modes of a history request.
constexpr uint16_t kHistoryAll = 0;
constexpr uint16_t kHistoryFirstInHour = 1;
constexpr uint16_t kHistoryWindow = 2;

// Mode 2: bits 0-23 of the limit are the window length in seconds, bits 24-28 the
// thinning code.
inline uint32_t WindowLength(uint32_t limit) {
  return limit & 0xFFFFFF;
}
inline uint32_t ThinningCode(uint32_t limit) {
  return (limit >> 24) & 31;
}
// Minimum spacing in seconds of thinning code `code` (0 for codes without one).
int32_t ThinningStep(uint32_t code);
// The name audit lines use for a spacing code (25..29), or nullptr.
const char* ThinningName(uint32_t code);

class HistoryFilter {
 public:
  // Starts a new round: clears the hour and window state.
  void FilterReset(uint16_t mode, uint32_t limit);
  bool FilterAccept(uint16_t mode, uint32_t limit, const LogRecord& record);

  // Mode 2 state, read by the searching query to skip records the filter would reject
  // without changing its state.
  bool WindowStarted() const { return windowStarted_; }
  int64_t LastTaken() const { return lastTaken_; }
  int64_t WindowEnd() const { return windowEnd_; }
  int32_t Step() const { return step_; }

 private:
  bool AcceptFirstInHour(int hour, int wanted);
  int HourOf(uint32_t time);

  bool hourTaken_ = false;
  bool windowStarted_ = false;
  int64_t lastTaken_ = 0;
  int64_t windowEnd_ = 0;
  int32_t step_ = 0;

  // Local-hour cache: [from, to) is a stretch of time known to lie in local hour
  // cachedHour_, so a walk over millions of records needs one conversion per hour.
  int64_t cacheFrom_ = 0;
  int64_t cacheTo_ = 0;
  int cachedHour_ = 0;
};

}  // namespace orvexa
