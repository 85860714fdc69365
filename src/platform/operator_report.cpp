#include "platform/operator_report.h"

#include <cstdarg>
#include <cstdio>

namespace orvexa {

void ReportToOperator(const char* format, ...) {
  va_list args;
  va_start(args, format);
  // Held across the line and its end, so another thread's line cannot come in between.
  flockfile(stderr);
  std::vfprintf(stderr, format, args);
  std::fputc('\n', stderr);
  std::fflush(stderr);
  funlockfile(stderr);
  va_end(args);
}

}  // namespace orvexa
