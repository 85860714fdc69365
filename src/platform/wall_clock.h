// Calendar time for the host and logging code: seconds since 1970 and local-time text
// (log-file copy names). Stateless; any thread (localtime_r).
#pragma once

#include <cstdint>
#include <string>

namespace orvexa {

// Current calendar time, seconds since 1970-01-01 00:00 UTC.
int64_t WallClockSeconds();
// `seconds` in local time through strftime's `format`; "" when it cannot be formatted.
std::string FormatLocalTime(int64_t seconds, const char* format);

}  // namespace orvexa
