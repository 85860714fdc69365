// LockGuard: holds a lock (Mutex, PriorityInheritanceMutex, MovableMutex) from its
// construction to the end of its scope, like std::lock_guard, but known to the
// thread-safety analysis, so the members the lock guards may be used inside the scope.
//
// Any thread; lives on the stack of the thread that took the lock.
#pragma once

#include "platform/thread_annotations.h"

namespace orvexa {

template <typename Lockable>
class SCOPED_CAPABILITY LockGuard {
 public:
  explicit LockGuard(Lockable& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~LockGuard() RELEASE() { mutex_.unlock(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lockable& mutex_;
};

}  // namespace orvexa
