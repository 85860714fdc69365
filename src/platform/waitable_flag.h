// WaitableFlag: a flag other threads can wait for. Once Set it stays set for good: every
// waiter wakes and later waits return at once. The server's stop signal and the
// background threads' "finished" signals are of this kind.
//
// Safe from any thread; the internal mutex guards only the flag.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace orvexa {

class WaitableFlag {
 public:
  void Set() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      set_ = true;
    }
    changed_.notify_all();
  }
  bool IsSet() const {
    std::lock_guard<std::mutex> guard(lock_);
    return set_;
  }
  void Wait() {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [this] { return set_; });
  }
  // True when the flag was set within `timeout`, false on time-out.
  bool WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, timeout, [this] { return set_; });
  }

 private:
  mutable std::mutex lock_;  // guards set_
  std::condition_variable changed_;
  bool set_ = false;
};

}  // namespace orvexa
