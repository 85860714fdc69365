#include "sessions/audit_log.h"

#include <cstdio>

#include "platform/clock.h"

namespace orvexa {

bool AuditLog::Open(const std::string& path) {
  std::lock_guard<std::mutex> guard(lock_);
  return file_.Open(path).ok;
}

void AuditLog::Close() {
  std::lock_guard<std::mutex> guard(lock_);
  file_.Close();
}

bool AuditLog::IsOpen() const {
  std::lock_guard<std::mutex> guard(lock_);
  return file_.IsOpen();
}

std::string AuditLog::TimePrefix(int64_t calendarSeconds) {
  LocalTime t = LocalTimeOf(calendarSeconds);
  char buffer[96];
  int n = std::snprintf(buffer, sizeof buffer, "(%d.%d.%d at %d:%d:%d) ", t.day, t.month, t.year,
                        t.hour, t.minute, t.second);
  return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

void AuditLog::Write(const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteV(format, args);
  va_end(args);
}

void AuditLog::WriteV(const char* format, va_list args) {
  if (!IsOpen()) return;
  // Format outside the lock; the lock covers only the one write of the finished line.
  std::string line = TimePrefix(CalendarSeconds());
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n > 0) {
    size_t start = line.size();
    line.resize(start + static_cast<size_t>(n) + 1);
    std::vsnprintf(line.data() + start, static_cast<size_t>(n) + 1, format, args);
    line.resize(start + static_cast<size_t>(n));
  }
  if (line.back() != '\n') line += '\n';
  std::lock_guard<std::mutex> guard(lock_);
  file_.WriteAll(line);
}

}  // namespace orvexa
