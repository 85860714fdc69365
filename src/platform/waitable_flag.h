// WaitableFlag: a flag other threads can wait for. Once Set it stays set for good: every
// waiter wakes and later waits return at once. The server's stop signal and the
// background threads' "finished" signals are of this kind.
//
// Safe from any thread; the internal mutex guards only the flag.
#pragma once

#include <chrono>
#include <condition_variable>

#include "platform/lock_guard.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"
#include "platform/unique_lock.h"

namespace orvexa {

class WaitableFlag {
 public:
  void Set() {
    {
      LockGuard guard(lock_);
      set_ = true;
    }
    changed_.notify_all();
  }
  bool IsSet() const {
    LockGuard guard(lock_);
    return set_;
  }
  void Wait() {
    UniqueLock<Mutex> guard(lock_);
    changed_.wait(guard, [this]() REQUIRES(lock_) { return set_; });
  }
  // True when the flag was set within `timeout`, false on time-out.
  bool WaitFor(std::chrono::milliseconds timeout) {
    UniqueLock<Mutex> guard(lock_);
    return changed_.wait_for(guard, timeout, [this]() REQUIRES(lock_) { return set_; });
  }

 private:
  mutable Mutex lock_;
  std::condition_variable_any changed_;
  bool set_ GUARDED_BY(lock_) = false;
};

}  // namespace orvexa
