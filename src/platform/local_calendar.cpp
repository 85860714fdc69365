#include "platform/local_calendar.h"

#include <ctime>

namespace orvexa {

LocalCalendar LocalCalendarOf(int64_t seconds) {
  LocalCalendar out;
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm parts{};
  if (localtime_r(&t, &parts) == nullptr) return out;
  out.year = parts.tm_year + 1900;
  out.month = parts.tm_mon + 1;
  out.day = parts.tm_mday;
  out.hour = parts.tm_hour;
  out.minute = parts.tm_min;
  out.second = parts.tm_sec;
  return out;
}

int LocalHourOf(int64_t seconds) {
  return LocalCalendarOf(seconds).hour;
}

}  // namespace orvexa
