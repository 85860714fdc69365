// PriorityInheritanceMutex: a mutex whose holder runs at the priority of the highest
// waiter (PTHREAD_PRIO_INHERIT). The fast sampler runs at real-time priority and takes
// the device lock, the fast-sample buffers' lock and the experiment lock; a worker of
// ordinary priority holding one of them would otherwise be preempted by every busy
// thread of the machine, and the sampler would wait with it (priority inversion: tens of
// milliseconds on a loaded two-core machine). Inheritance lets the holder finish its
// short hold at once.
//
// Meets the TimedLockable requirements (std::lock_guard, std::unique_lock); any thread; never
// copied or moved. Recursive when constructed so (the device lock).
#pragma once

#include <pthread.h>

#include <chrono>

namespace orvexa {

class PriorityInheritanceMutex {
 public:
  enum class Kind { kPlain, kRecursive };

  explicit PriorityInheritanceMutex(Kind kind = Kind::kPlain);
  ~PriorityInheritanceMutex();
  PriorityInheritanceMutex(const PriorityInheritanceMutex&) = delete;
  PriorityInheritanceMutex& operator=(const PriorityInheritanceMutex&) = delete;

  void lock();
  bool try_lock();
  // Waits at most `timeout` for the lock, queued among the other waiters (a bare
  // try_lock can lose to busy threads again and again).
  bool try_lock_for(std::chrono::nanoseconds timeout);
  void unlock();

 private:
  pthread_mutex_t mutex_;
};

}  // namespace orvexa
