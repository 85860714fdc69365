// Local-time breakdown of calendar seconds for the history filter (hour of day) and
// for the audit lines that print a local date and time. A thin wrapper over
// localtime_r, so the time zone comes from TZ / the system as for every other local
// time the server prints. Stateless; safe from any thread.
#pragma once

#include <cstdint>

namespace orvexa {

struct LocalCalendar {
  int year = 1970;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;   // 0..23
  int minute = 0;
  int second = 0;
};

// The local date and time of `seconds` since 1970 (UTC). A time that the C library
// cannot convert gives the zero-initialised 1970-01-01 00:00:00.
LocalCalendar LocalCalendarOf(int64_t seconds);

// Local hour of day (0..23) of `seconds` since 1970.
int LocalHourOf(int64_t seconds);

}  // namespace orvexa
