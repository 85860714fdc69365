#include "platform/clock.h"

#include <cerrno>

namespace orvexa {
namespace {

timespec Now(clockid_t clock) {
  timespec now{};
  ::clock_gettime(clock, &now);
  return now;
}

bool BreakDown(int64_t calendarSeconds, std::tm* out) {
  time_t seconds = static_cast<time_t>(calendarSeconds);
  return ::localtime_r(&seconds, out) != nullptr;
}

}  // namespace

int64_t CalendarSeconds() {
  return static_cast<int64_t>(Now(CLOCK_REALTIME).tv_sec);
}

double CalendarSecondsPrecise() {
  const timespec now = Now(CLOCK_REALTIME);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

uint32_t CalendarTime32() {
  return static_cast<uint32_t>(CalendarSeconds());
}

int64_t MonotonicNanoseconds() {
  timespec now = Now(CLOCK_MONOTONIC);
  return static_cast<int64_t>(now.tv_sec) * kMonotonicFrequency + now.tv_nsec;
}

uint32_t MillisecondTick() {
  return static_cast<uint32_t>(static_cast<uint64_t>(MonotonicNanoseconds() / 1000000));
}

LocalTime LocalTimeOf(int64_t calendarSeconds) {
  LocalTime result;
  std::tm parts{};
  if (!BreakDown(calendarSeconds, &parts)) return result;
  result.year = parts.tm_year + 1900;
  result.month = parts.tm_mon + 1;
  result.day = parts.tm_mday;
  result.hour = parts.tm_hour;
  result.minute = parts.tm_min;
  result.second = parts.tm_sec;
  result.weekday = parts.tm_wday;
  result.yearDay = parts.tm_yday;
  return result;
}

LocalTime LocalTimeNow() {
  return LocalTimeOf(CalendarSeconds());
}

size_t FormatLocalTime(char* out, size_t size, const char* format, int64_t calendarSeconds) {
  if (size == 0) return 0;
  out[0] = '\0';
  std::tm parts{};
  if (!BreakDown(calendarSeconds, &parts)) return 0;
  size_t n = std::strftime(out, size, format, &parts);
  if (n == 0) out[0] = '\0';
  return n;
}

void SleepMilliseconds(int64_t milliseconds) {
  if (milliseconds <= 0) return;
  timespec request{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>((milliseconds % 1000) * 1000000)};
  timespec remaining{};
  while (::nanosleep(&request, &remaining) != 0 && errno == EINTR) request = remaining;
}

}  // namespace orvexa
