// A manual-reset event: once Set it stays signalled (every waiter wakes, later waits
// return at once) until Reset. The server's stop event and the threads' finished events
// are of this kind.
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

class ManualResetEvent {
 public:
  void Set() {
    {
      LockGuard guard(lock_);
      set_ = true;
    }
    changed_.notify_all();
  }
  void Reset() {
    LockGuard guard(lock_);
    set_ = false;
  }
  bool IsSet() const {
    LockGuard guard(lock_);
    return set_;
  }
  void Wait() {
    UniqueLock<Mutex> guard(lock_);
    changed_.wait(guard, [this]() REQUIRES(lock_) { return set_; });
  }
  // True when the event was signalled within `timeout`, false on time-out.
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
