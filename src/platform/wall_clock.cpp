#include "platform/wall_clock.h"

#include <ctime>

namespace orvexa {

int64_t WallClockSeconds() {
  return static_cast<int64_t>(::time(nullptr));
}

std::string FormatLocalTime(int64_t seconds, const char* format) {
  time_t when = static_cast<time_t>(seconds);
  struct tm local {};
  if (::localtime_r(&when, &local) == nullptr) return "";
  char text[128];
  size_t length = ::strftime(text, sizeof text, format, &local);
  return std::string(text, length);
}

}  // namespace orvexa
