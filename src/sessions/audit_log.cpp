#include "sessions/audit_log.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/lock_guard.h"
#include "platform/operator_report.h"

namespace orvexa {

void AuditLog::SetRotation(uint64_t maxBytes, int keptFiles) {
  LockGuard guard(lock_);
  maxBytes_ = maxBytes;
  keptFiles_ = std::clamp(keptFiles, 1, kMaxKeptFiles);
  rotateAbove_ = maxBytes;
}

bool AuditLog::Open(const std::string& path) {
  LockGuard guard(lock_);
  path_ = path;
  rotateAbove_ = maxBytes_;
  rotationFailureReported_ = false;
  const bool opened = file_.Open(path).ok;
  open_.store(file_.IsOpen());
  return opened;
}

void AuditLog::Close() {
  LockGuard guard(lock_);
  if (file_.IsOpen()) AppendKeptLocked();
  file_.Close();
  open_.store(false);
}

bool AuditLog::IsOpen() const {
  // Without lock_, which a write holds while it waits for the disk.
  return open_.load();
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

std::string AuditLog::FormatLine(const char* format, va_list args) {
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
  return line;
}

void AuditLog::WriteV(const char* format, va_list args) {
  if (!IsOpen()) return;
  // Format outside the lock; the lock covers only the writes of finished lines.
  const std::string line = FormatLine(format, args);
  LockGuard guard(lock_);
  if (!file_.IsOpen()) return;
  AppendKeptLocked();
  AppendLocked(line);
}

void AuditLog::WriteLater(const char* format, ...) {
  if (!IsOpen()) return;
  va_list args;
  va_start(args, format);
  std::string line = FormatLine(format, args);
  va_end(args);
  LockGuard guard(keptLock_);
  kept_.push_back(std::move(line));
}

void AuditLog::Flush() {
  LockGuard guard(lock_);
  if (file_.IsOpen()) AppendKeptLocked();
}

void AuditLog::AppendKeptLocked() {
  std::vector<std::string> lines;
  {
    LockGuard guard(keptLock_);
    lines.swap(kept_);
  }
  for (const std::string& line : lines) AppendLocked(line);
}

void AuditLog::AppendLocked(const std::string& line) {
  // A line longer than the limit still goes whole into a file of its own.
  if (maxBytes_ > 0 && file_.Size() > 0 && file_.Size() + line.size() > rotateAbove_) Rotate();
  file_.WriteAll(line);
}

std::string AuditLog::OldFileName(int index) const {
  return path_ + "." + std::to_string(index);
}

void AuditLog::Rotate() {
  // Oldest first, so that no rename replaces a file before it has moved on; the oldest
  // kept one is replaced by its predecessor. A gap (a missing file) is no failure.
  bool missing = false;
  for (int index = keptFiles_ - 1; index >= 1; --index) {
    IoResult moved = RenameFile(OldFileName(index), OldFileName(index + 1), &missing);
    if (!moved.ok && !missing) return RotationFailed(moved.message);
  }
  IoResult moved = RenameFile(path_, OldFileName(1), &missing);
  // A users.log removed from under the server is simply started again; the open
  // descriptor would only write into the removed file.
  if (!moved.ok && !missing) return RotationFailed(moved.message);
  AppendFile next;
  IoResult opened = next.Open(path_);
  if (!opened.ok) {
    // Lines go on into the file just moved aside; put it back under its name.
    if (!missing) RenameFile(OldFileName(1), path_);
    return RotationFailed(opened.message);
  }
  file_ = std::move(next);
  rotateAbove_ = maxBytes_;
}

void AuditLog::RotationFailed(const std::string& why) {
  rotateAbove_ = file_.Size() + maxBytes_;
  if (rotationFailureReported_) return;
  rotationFailureReported_ = true;
  ReportToOperator("Warning: audit log %s not rotated (%s); lines are still appended to it",
                   path_.c_str(), why.c_str());
  std::fflush(stderr);
}

}  // namespace orvexa
