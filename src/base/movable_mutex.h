// MovableMutex: a mutex (with priority inheritance: the real-time sampler takes the
// fast-sample buffers' one) that lets the object holding it be moved. A move gives the
// target a fresh, unlocked mutex of its own and leaves the source's alone, which is
// right only while nobody else can reach either object: the records that carry one
// (log files, channel logging state) are moved into the registry at start-up, before
// any other thread sees them, and never move while the server runs.
//
// Held through LockGuard or UniqueLock (platform/), which the thread-safety analysis
// follows; any thread.
#pragma once

#include "platform/priority_inheritance_mutex.h"
#include "platform/thread_annotations.h"

namespace orvexa {

class CAPABILITY("mutex") MovableMutex {
 public:
  MovableMutex() = default;
  MovableMutex(MovableMutex&&) noexcept {}
  MovableMutex& operator=(MovableMutex&&) noexcept { return *this; }
  MovableMutex(const MovableMutex&) = delete;
  MovableMutex& operator=(const MovableMutex&) = delete;

  // Forwarded to the inner mutex, which the analysis knows as a different lock.
  void lock() ACQUIRE() NO_THREAD_SAFETY_ANALYSIS { mutex_.lock(); }
  bool try_lock() TRY_ACQUIRE(true) NO_THREAD_SAFETY_ANALYSIS { return mutex_.try_lock(); }
  void unlock() RELEASE() NO_THREAD_SAFETY_ANALYSIS { mutex_.unlock(); }

 private:
  PriorityInheritanceMutex mutex_;
};

}  // namespace orvexa
