#include "logging/log_copy_journal.h"

#include "platform/lock_guard.h"

namespace orvexa {

bool LogCopyJournal::Overwriting(uint32_t slot, const LogRecord& old) {
  LockGuard hold(mutex_);
  if (!reading_ || cancelled_) return false;
  saved_.emplace(slot, old);  // keeps an earlier value of the same slot
  return true;
}

void LogCopyJournal::Cancel() {
  LockGuard hold(mutex_);
  if (reading_) cancelled_ = true;
}

bool LogCopyJournal::Cancelled() const {
  LockGuard hold(mutex_);
  return cancelled_;
}

bool LogCopyJournal::Reading() const {
  LockGuard hold(mutex_);
  return reading_ && !cancelled_;
}

bool LogCopyJournal::FinishReading() {
  LockGuard hold(mutex_);
  if (cancelled_) return false;
  reading_ = false;
  return true;
}

}  // namespace orvexa
