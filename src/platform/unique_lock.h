// UniqueLock: a lock holder that may start unlocked, try, wait a bounded time, release
// early and take the lock again, like std::unique_lock, but known to the thread-safety
// analysis. The analysis follows lock(), the try functions inside an `if`, and unlock();
// it does not follow owns_lock(), so code branches on the try's result instead. Also the
// lock that std::condition_variable_any waits with.
//
// Any thread; lives on the stack of the thread that took the lock.
#pragma once

#include <chrono>
#include <mutex>

#include "platform/thread_annotations.h"

namespace orvexa {

template <typename Lockable>
class SCOPED_CAPABILITY UniqueLock {
 public:
  explicit UniqueLock(Lockable& mutex) ACQUIRE(mutex) : mutex_(mutex) { lock(); }
  UniqueLock(Lockable& mutex, std::defer_lock_t) EXCLUDES(mutex) : mutex_(mutex) {}
  // Releases the lock when it is held at the end of the scope.
  ~UniqueLock() RELEASE() {
    if (owns_) mutex_.unlock();
  }
  UniqueLock(const UniqueLock&) = delete;
  UniqueLock& operator=(const UniqueLock&) = delete;

  void lock() ACQUIRE() {
    mutex_.lock();
    owns_ = true;
  }
  bool try_lock() TRY_ACQUIRE(true) { return owns_ = mutex_.try_lock(); }
  bool try_lock_for(std::chrono::nanoseconds timeout) TRY_ACQUIRE(true) {
    return owns_ = mutex_.try_lock_for(timeout);
  }
  void unlock() RELEASE() {
    mutex_.unlock();
    owns_ = false;
  }
  bool owns_lock() const { return owns_; }

 private:
  Lockable& mutex_;
  bool owns_ = false;
};

}  // namespace orvexa
