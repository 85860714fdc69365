// Time sources of the server: calendar seconds (wire, log files, configuration), the
// monotonic clock in nanoseconds (the high-resolution counter, frequency 10^9), the
// 32-bit millisecond tick carried by fast samples, and the local-time breakdown used by
// audit lines and log-copy names.
//
// Stateless functions over clock_gettime/localtime_r; safe from any thread.
#pragma once

#include <cstdint>
#include <ctime>

namespace orvexa {

// Seconds since 1970 (UTC), as the full-width system value.
int64_t CalendarSeconds();
// Seconds since 1970 truncated to 32 bits, as stored on the wire and in log files.
uint32_t CalendarTime32();
// Seconds since 1970 (UTC) with the fraction, for times that viewers compare with their
// own clocks (live data).
double CalendarSecondsPrecise();
// CLOCK_MONOTONIC in nanoseconds; never goes back.
int64_t MonotonicNanoseconds();
// Frequency of MonotonicNanoseconds (ticks per second).
constexpr int64_t kMonotonicFrequency = 1000000000;
// CLOCK_MONOTONIC in milliseconds truncated to 32 bits (wraps after about 49.7 days).
uint32_t MillisecondTick();

// One calendar time broken down in the local time zone (TZ).
struct LocalTime {
  int year = 1970;  // four digits
  int month = 1;    // 1..12
  int day = 1;      // 1..31
  int hour = 0;     // 0..23
  int minute = 0;
  int second = 0;
  int weekday = 0;  // 0 = Sunday
  int yearDay = 0;  // 0..365
};
LocalTime LocalTimeOf(int64_t calendarSeconds);
LocalTime LocalTimeNow();
// strftime over the local time of `calendarSeconds`; "" when the result does not fit.
// `size` bounds the result including the NUL.
size_t FormatLocalTime(char* out, size_t size, const char* format, int64_t calendarSeconds);

// Blocks the calling thread for `milliseconds` (restarted after signals).
void SleepMilliseconds(int64_t milliseconds);

}  // namespace orvexa
