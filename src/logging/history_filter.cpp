#include "logging/history_filter.h"

#include "platform/local_calendar.h"

namespace orvexa {

int32_t ThinningStep(uint32_t code) {
  switch (code) {
    case 25:
      return 60;
    case 26:
      return 600;
    case 27:
      return 3600;
    case 28:
      return 10800;
    case 29:
      return 21600;
    default:
      return 0;
  }
}

const char* ThinningName(uint32_t code) {
  switch (code) {
    case 25:
      return "one sample per minute";
    case 26:
      return "one sample 10 minutes";
    case 27:
      return "one sample per hour";
    case 28:
      return "one sample 3 hours";
    case 29:
      return "one sample 6 hours";
    default:
      return nullptr;
  }
}

void HistoryFilter::FilterReset(uint16_t, uint32_t) {
  hourTaken_ = false;
  windowStarted_ = false;
  lastTaken_ = 0;
  windowEnd_ = 0;
  step_ = 0;
  // The cache is a pure function of the time, but clearing it keeps both rounds of a
  // request doing exactly the same work.
  cacheFrom_ = cacheTo_ = 0;
}

int HistoryFilter::HourOf(uint32_t time) {
  const int64_t t = time;
  if (t >= cacheFrom_ && t < cacheTo_) return cachedHour_;
  const LocalHourSpan span = LocalHourSpanOf(t);
  cacheFrom_ = span.from;
  cacheTo_ = span.to;
  cachedHour_ = span.hour;
  return cachedHour_;
}

bool HistoryFilter::AcceptFirstInHour(int hour, int wanted) {
  if (hour != wanted) {
    hourTaken_ = false;
    return false;
  }
  if (hourTaken_) return false;
  hourTaken_ = true;
  return true;
}

bool HistoryFilter::FilterAccept(uint16_t mode, uint32_t limit, const LogRecord& record) {
  const int64_t t = record.time;
  if (mode == kHistoryAll) return true;
  if (mode == kHistoryFirstInHour) {
    // An hour beyond 23 never matches: nothing is accepted.
    return AcceptFirstInHour(HourOf(record.time), limit > 23 ? -1 : static_cast<int>(limit));
  }
  if (mode != kHistoryWindow) return false;

  const uint32_t code = ThinningCode(limit);
  if (!windowStarted_) {
    // The first record fed after a reset opens the window and is always taken; it does
    // not mark its hour as taken.
    windowStarted_ = true;
    lastTaken_ = t;
    windowEnd_ = t + WindowLength(limit);
    step_ = ThinningStep(code);
    return true;
  }
  if (t > windowEnd_) return false;
  if (t < lastTaken_ + step_) return false;
  if (code < 24) {
    if (!AcceptFirstInHour(HourOf(record.time), static_cast<int>(code))) return false;
    lastTaken_ = t;
    return true;
  }
  lastTaken_ = t;
  return true;
}

}  // namespace orvexa
