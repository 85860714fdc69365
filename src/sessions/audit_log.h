// The audit log users.log: one line per event of the system (server start and stop,
// connections, writes, history reads, experiments), each line prefixed with the local
// date and time "(d.m.yyyy at h:m:s) " without leading zeros, and on disk as soon as it
// is written.
//
// The file is bounded by size: a line that would take it past the limit first moves it
// aside as users.log.1 (users.log.1 becoming .2 and so on, the oldest beyond the number
// kept dropped) and starts a new users.log. Rotation happens between two lines under the
// same lock as the writes, so no line is ever split or lost; a file whose rename fails
// keeps being appended to (said once on standard error) and rotation is tried again when
// it has grown by another limit.
//
// Opened at start-up in the start directory and closed at shutdown, both on the main
// thread; Write is called from any thread. Its own lock guards the file and is held only
// around the write of one line (and the few renames of a rotation before it). A write
// can wait for the disk, so no caller holds ServerLock (or any lock the fast sampler
// takes) around Write: code that must log while holding it (a plug-in's callback runs
// inside a host call) uses WriteLater, which only keeps the formatted line under a
// short lock of its own (with priority inheritance: ServerLock is held around it); the
// kept lines go to the file, in order and before its own line, with the next Write, or
// with Flush (the housekeeping pass, after the presence tick, Close). Lock order:
// user-table lock, then the audit-log lock, then the kept lines' lock. When the file could
// not be opened no line is written.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/append_file.h"
#include "platform/mutex.h"
#include "platform/priority_inheritance_mutex.h"
#include "platform/thread_annotations.h"

namespace orvexa {

class AuditLog {
 public:
  AuditLog() = default;
  AuditLog(const AuditLog&) = delete;
  AuditLog& operator=(const AuditLog&) = delete;

  // Most old files kept: the rotation renames each of them once.
  static constexpr int kMaxKeptFiles = 1000;

  // Rotates the file before a line would take it past `maxBytes` (0: no limit), keeping
  // `keptFiles` old files (<path>.1 newest; clamped to 1 .. kMaxKeptFiles). Set before
  // Open; without it the file is not bounded.
  void SetRotation(uint64_t maxBytes, int keptFiles);
  // Opens `path` for appending; false (and no lines later) when it cannot be opened.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const;

  // Writes one line: the time prefix, then `format` printed printf-style. A line end is
  // added when the text does not end with one.
  void Write(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void WriteV(const char* format, va_list args);
  // The same line (its time taken now), kept in memory for the next Write or Flush: for
  // callers that hold ServerLock. Never waits for the disk.
  void WriteLater(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Writes the lines kept by WriteLater.
  void Flush();

  // "(d.m.yyyy at h:m:s) " for a calendar time in local time; also used inside lines
  // that name a time range.
  static std::string TimePrefix(int64_t calendarSeconds);

 private:
  // "<path>.<index>": the old file `index` rotations back.
  std::string OldFileName(int index) const REQUIRES(lock_);
  // Moves the full file aside and opens a new one; on failure the current file stays
  // open and in use.
  void Rotate() REQUIRES(lock_);
  // A rotation failed: say so the first time, try again after another maxBytes_.
  void RotationFailed(const std::string& why) REQUIRES(lock_);
  // "(time) text\n" of a line written now.
  static std::string FormatLine(const char* format, va_list args);
  // Appends one finished line, rotating first when it would pass the limit.
  void AppendLocked(const std::string& line) REQUIRES(lock_);
  // Appends the lines kept by WriteLater.
  void AppendKeptLocked() REQUIRES(lock_);

  std::atomic<bool> open_{false};  // file_.IsOpen(), for IsOpen without lock_
  mutable Mutex lock_;
  AppendFile file_ GUARDED_BY(lock_);
  std::string path_ GUARDED_BY(lock_);
  uint64_t maxBytes_ GUARDED_BY(lock_) = 0;
  int keptFiles_ GUARDED_BY(lock_) = 1;
  uint64_t rotateAbove_ GUARDED_BY(lock_) = 0;  // the size a line may not take the file past
  bool rotationFailureReported_ GUARDED_BY(lock_) = false;

  // Taken under ServerLock, and under lock_ when the kept lines are written out.
  PriorityInheritanceMutex keptLock_ ACQUIRED_AFTER(lock_);
  std::vector<std::string> kept_ GUARDED_BY(keptLock_);  // WriteLater's lines, oldest first
};

}  // namespace orvexa
