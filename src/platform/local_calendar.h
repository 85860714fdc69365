// Local hour of day of calendar seconds, for the history filter that picks the first
// record of each stretch in one local hour. LocalHourSpanOf also gives the stretch of
// time around the moment that is known to lie in the same local hour, so that a walk
// over millions of records needs one conversion per hour. Wraps localtime_r, so the time
// zone comes from TZ / the system. Stateless; safe from any thread.
#pragma once

#include <cstdint>

namespace orvexa {

// Local hour of day (0..23) of `seconds` since 1970; 0 when it cannot be converted.
int LocalHourOf(int64_t seconds);

struct LocalHourSpan {
  int hour = 0;
  int64_t from = 0;  // [from, to) lies in `hour`; at least [seconds, seconds + 1)
  int64_t to = 0;
};
LocalHourSpan LocalHourSpanOf(int64_t seconds);

// Local hour of day and the zone's offset from UTC in seconds at `seconds`; false when
// it cannot be converted. Lets a search step over whole hours while the offset holds.
bool LocalHourAndOffset(int64_t seconds, int* hour, int64_t* offset);

}  // namespace orvexa
