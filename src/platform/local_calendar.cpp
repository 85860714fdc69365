#include "platform/local_calendar.h"

#include <ctime>

namespace orvexa {

int LocalHourOf(int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm parts{};
  if (localtime_r(&t, &parts) == nullptr) return 0;
  return parts.tm_hour;
}

bool LocalHourAndOffset(int64_t seconds, int* hour, int64_t* offset) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm parts{};
  if (localtime_r(&t, &parts) == nullptr) return false;
  *hour = parts.tm_hour;
  *offset = parts.tm_gmtoff;
  return true;
}

LocalHourSpan LocalHourSpanOf(int64_t seconds) {
  LocalHourSpan span{0, seconds, seconds + 1};
  std::time_t at = static_cast<std::time_t>(seconds);
  std::tm parts{};
  if (localtime_r(&at, &parts) == nullptr) return span;
  span.hour = parts.tm_hour;
  // The rest of this local hour keeps the hour as long as the zone's offset does not
  // change inside it: check the last second of the stretch. Leap seconds (a second 60)
  // and odd offsets fall back to the one second.
  const int64_t from = seconds - (parts.tm_min * 60 + parts.tm_sec);
  const int64_t to = from + 3600;
  std::time_t last = static_cast<std::time_t>(to - 1);
  std::tm lastParts{};
  if (parts.tm_sec < 60 && localtime_r(&last, &lastParts) != nullptr &&
      lastParts.tm_hour == parts.tm_hour && lastParts.tm_gmtoff == parts.tm_gmtoff &&
      lastParts.tm_min == 59 && lastParts.tm_sec == 59) {
    span.from = from;
    span.to = to;
  }
  return span;
}

}  // namespace orvexa
