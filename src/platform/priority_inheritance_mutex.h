// PriorityInheritanceMutex: a mutex that a real-time thread never waits for behind a
// preempted ordinary holder, and that ordinary threads still pass among themselves at
// the cost of a plain mutex. The fast sampler runs at real-time priority and takes the
// device lock, the fast-sample buffers' lock and the experiment lock; a worker of
// ordinary priority holding one of them would otherwise be preempted by every busy
// thread of the machine, and the sampler would wait with it (priority inversion: tens of
// milliseconds on a loaded two-core machine).
//
// Two locks inside. The inner one has priority inheritance (PTHREAD_PRIO_INHERIT): its
// holder runs at the priority of its highest waiter. But the kernel hands an inheritance
// lock over strictly, waking each next owner in turn and never letting a running thread
// take it by, so fifty busy workers queued on it pass it at the pace of context switches
// (half the throughput of a plain mutex). Ordinary threads therefore first take the gate,
// a plain mutex (no hand-over: whoever runs takes it), and only the gate's holder waits
// on the inner lock. Threads marked urgent (the sampler, MarkCallingThreadUrgent), threads
// that already hold one of these mutexes (the sampler may be waiting for them: the logging
// pass appending under the device lock) and timed waits (the main thread's bounded tick
// waits) go to the inner lock directly: they wait behind the one holder at most, never
// behind the crowd at the gate, and the chain of inheritance from the sampler reaches
// every holder it waits for. Uncontended, each lock costs an atomic exchange or two.
//
// Meets the TimedLockable requirements; held through LockGuard or UniqueLock, which the
// thread-safety analysis follows (platform/thread_annotations.h). Any thread; never
// copied or moved. Recursive when constructed so (the device lock): the recursion is
// counted here, the thread that took it releases it.
#pragma once

#include <pthread.h>

#include <atomic>
#include <chrono>

#include "platform/thread_annotations.h"

namespace orvexa {

class CAPABILITY("mutex") PriorityInheritanceMutex {
 public:
  enum class Kind { kPlain, kRecursive };

  explicit PriorityInheritanceMutex(Kind kind = Kind::kPlain);
  ~PriorityInheritanceMutex();
  PriorityInheritanceMutex(const PriorityInheritanceMutex&) = delete;
  PriorityInheritanceMutex& operator=(const PriorityInheritanceMutex&) = delete;

  void lock() ACQUIRE();
  bool try_lock() TRY_ACQUIRE(true);
  // Waits at most `timeout` (on the monotonic clock, so a step of the wall clock does not
  // stretch it) for the lock, queued on the inner lock in the kernel's order: a bare
  // try_lock, or a wait at the gate, can lose to busy threads again and again.
  bool try_lock_for(std::chrono::nanoseconds timeout) TRY_ACQUIRE(true);
  void unlock() RELEASE();

  // Tells the analysis that the calling thread holds the lock where it cannot see the
  // acquisition: code that a plug-in calls back into from inside a host call made with
  // the (recursive) lock held. Checked in debug builds.
  void AssertHeld() const ASSERT_CAPABILITY(this);

  // From now on the calling thread skips the gate of every such mutex: the real-time
  // sampling thread, which must wait behind a holder alone (lifting its priority).
  static void MarkCallingThreadUrgent();

 private:
  // Records the calling thread as the holder, once the inner lock is taken.
  void Took(bool throughGate);
  // True when the calling thread already holds a recursive mutex (counted once more).
  bool Reentered();

  const Kind kind_;
  pthread_mutex_t gate_;
  pthread_mutex_t inner_;
  // The holder, for the recursion check (zero when free); written only by the holder.
  std::atomic<pthread_t> owner_{0};
  // Touched only by the holder, under the inner lock.
  int depth_ = 0;
  bool holderTookGate_ = false;
};

}  // namespace orvexa
