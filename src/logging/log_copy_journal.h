// LogCopyJournal: what a log copy needs to be exact while the logger goes on appending.
// A copy is the log as it stood at one instant (its header then, and every record
// slot's value then); the copy reads the file afterwards, on its own thread, without
// holding the log lock. The journal keeps the header of that instant and, for each
// slot that LogFile::Append overwrites while the copy is still reading, the value the
// slot held at that instant; the copy writes those back over what it read (a slot read
// while it was being rewritten may even be torn; it is in the journal too). Every
// other slot did not change between the instant and its read.
//
// Created by LogFile::StartCopy with the log lock held; Overwriting and Cancel are
// called by LogFile with its log lock held (main thread); FinishReading, Cancelled and
// the accessors by the copying thread. Its own mutex is a leaf below the log lock: held
// only for a map insert or a flag; with priority inheritance, like the log lock above it,
// so a preempted copier never holds up the appending thread.
#pragma once

#include <cstdint>
#include <map>

#include "logging/log_record.h"
#include "platform/priority_inheritance_mutex.h"
#include "platform/thread_annotations.h"

namespace orvexa {

class LogCopyJournal {
 public:
  explicit LogCopyJournal(const LogFileHeader& header) : header_(header) {}

  // `slot` is about to be overwritten; `old` is what it holds. The first value seen for a
  // slot is kept (that is its value at the copy's instant). False once reading is over
  // or the copy is cancelled: the log file may then drop the journal.
  bool Overwriting(uint32_t slot, const LogRecord& old);
  // The file is being closed (or reopened): it may change from now on without the
  // journal seeing it, so a copy still reading is dropped. Nothing after FinishReading.
  void Cancel();
  bool Cancelled() const;
  // Neither finished reading nor cancelled.
  bool Reading() const;
  // The copy has read every byte, or gave up: the journal stops growing. False when
  // cancelled first. After a true result Saved() no longer changes and is read without
  // the lock. Calling it again changes nothing.
  bool FinishReading();

  const LogFileHeader& Header() const { return header_; }
  // Without the lock: only read once FinishReading returned true, after which the map no
  // longer changes, which the analysis cannot know.
  const std::map<uint32_t, LogRecord>& Saved() const NO_THREAD_SAFETY_ANALYSIS { return saved_; }

 private:
  mutable PriorityInheritanceMutex mutex_;
  const LogFileHeader header_;
  std::map<uint32_t, LogRecord> saved_ GUARDED_BY(mutex_);
  bool reading_ GUARDED_BY(mutex_) = true;
  bool cancelled_ GUARDED_BY(mutex_) = false;
};

}  // namespace orvexa
