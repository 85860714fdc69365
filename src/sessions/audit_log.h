// The audit log users.log: one line per event of the system (server start and stop,
// connections, writes, history reads, experiments), each line prefixed with the local
// date and time "(d.m.yyyy at h:m:s) " without leading zeros, and on disk as soon as it
// is written.
//
// Opened at start-up in the start directory and closed at shutdown, both on the main
// thread; Write is called from any thread. Its own lock guards the file and is held only
// around the one write of a line, so it is the last lock in the order (user-table lock,
// ServerLock, audit-log lock). When the file could not be opened no line is written.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/append_file.h"

namespace orvexa {

class AuditLog {
 public:
  AuditLog() = default;
  AuditLog(const AuditLog&) = delete;
  AuditLog& operator=(const AuditLog&) = delete;

  // Opens `path` for appending; false (and no lines later) when it cannot be opened.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const;

  // Writes one line: the time prefix, then `format` printed printf-style. A line end is
  // added when the text does not end with one.
  void Write(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void WriteV(const char* format, va_list args);

  // "(d.m.yyyy at h:m:s) " for a calendar time in local time; also used inside lines
  // that name a time range.
  static std::string TimePrefix(int64_t calendarSeconds);

 private:
  mutable std::mutex lock_;  // guards file_
  AppendFile file_;
};

}  // namespace orvexa
