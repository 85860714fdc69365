// Mutex: a plain mutex (std::mutex) that the thread-safety analysis knows as a lock, for
// the locks no real-time thread takes (the user table's, the admission lock, the audit
// log's, the main loop's posted tasks, ...). Held through LockGuard or UniqueLock; waits
// on a condition go through std::condition_variable_any with a UniqueLock.
//
// Any thread; never copied or moved.
#pragma once

#include <mutex>

#include "platform/thread_annotations.h"

namespace orvexa {

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  // std::mutex is no capability to the analysis: these are where it starts to count.
  void lock() ACQUIRE() NO_THREAD_SAFETY_ANALYSIS { mutex_.lock(); }
  bool try_lock() TRY_ACQUIRE(true) NO_THREAD_SAFETY_ANALYSIS { return mutex_.try_lock(); }
  void unlock() RELEASE() NO_THREAD_SAFETY_ANALYSIS { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

}  // namespace orvexa
