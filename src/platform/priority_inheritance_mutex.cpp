#include "platform/priority_inheritance_mutex.h"

#include <time.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/operator_report.h"

namespace orvexa {
namespace {

thread_local bool tUrgent = false;
// How many of these mutexes the calling thread holds (recursion counted once).
thread_local int tHeld = 0;

// The gate is for threads that hold none of these mutexes yet. One that holds one may be
// what the sampler waits for: it must not queue behind the crowd, nor wait where its own
// holder does not inherit its priority (the chain of inheritance would break there).
bool TakesGate() {
  return !tUrgent && tHeld == 0;
}

#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif

// A failed lock or unlock means a broken invariant of the program itself (unlocking a
// mutex this thread does not hold, or a deadlock the kernel detected), never outside
// input: going on would corrupt what the lock guards.
[[noreturn]] void LockFailure(const char* what, int error) {
  ReportToOperator("Fatal: %s failed: %s", what, std::strerror(error));
  std::abort();
}

void Check(const char* what, int error) {
  if (error != 0) LockFailure(what, error);
}

int64_t MonotonicNow() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

timespec ToTimespec(int64_t ns) {
  timespec t{};
  t.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
  t.tv_nsec = static_cast<long>(ns % 1'000'000'000);
  return t;
}

}  // namespace

PriorityInheritanceMutex::PriorityInheritanceMutex(Kind kind) : kind_(kind) {
  Check("pthread_mutex_init", pthread_mutex_init(&gate_, nullptr));
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  // Where the kernel lacks priority inheritance the inner lock stays an ordinary one.
  if (pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT) != 0)
    pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_NONE);
  const int error = pthread_mutex_init(&inner_, &attributes);
  pthread_mutexattr_destroy(&attributes);
  Check("pthread_mutex_init", error);
}

PriorityInheritanceMutex::~PriorityInheritanceMutex() {
  pthread_mutex_destroy(&inner_);
  pthread_mutex_destroy(&gate_);
}

void PriorityInheritanceMutex::MarkCallingThreadUrgent() {
  tUrgent = true;
}

bool PriorityInheritanceMutex::Reentered() {
  // Only this thread ever stores its own id, so a relaxed read that finds it is exact.
  if (kind_ != Kind::kRecursive || owner_.load(std::memory_order_relaxed) != pthread_self())
    return false;
  ++depth_;
  return true;
}

void PriorityInheritanceMutex::Took(bool throughGate) {
  owner_.store(pthread_self(), std::memory_order_relaxed);
  ++tHeld;
  depth_ = 1;
  holderTookGate_ = throughGate;
}

// The lock functions themselves take the pthread mutexes, which the analysis does not know.
void PriorityInheritanceMutex::lock() NO_THREAD_SAFETY_ANALYSIS {
  if (Reentered()) return;
  const bool throughGate = TakesGate();
  if (throughGate) Check("pthread_mutex_lock", pthread_mutex_lock(&gate_));
  Check("pthread_mutex_lock", pthread_mutex_lock(&inner_));
  Took(throughGate);
}

bool PriorityInheritanceMutex::try_lock() NO_THREAD_SAFETY_ANALYSIS {
  if (Reentered()) return true;
  const bool throughGate = TakesGate();
  if (throughGate) {
    const int error = pthread_mutex_trylock(&gate_);
    if (error == EBUSY) return false;
    Check("pthread_mutex_trylock", error);
  }
  const int error = pthread_mutex_trylock(&inner_);
  if (error == 0) {
    Took(throughGate);
    return true;
  }
  if (error != EBUSY) LockFailure("pthread_mutex_trylock", error);
  if (throughGate) Check("pthread_mutex_unlock", pthread_mutex_unlock(&gate_));
  return false;
}

bool PriorityInheritanceMutex::try_lock_for(std::chrono::nanoseconds timeout)
    NO_THREAD_SAFETY_ANALYSIS {
  if (Reentered()) return true;
  const int64_t end = MonotonicNow() + std::max<int64_t>(timeout.count(), 0);
  const timespec deadline = ToTimespec(end);
  // ThreadSanitizer does not see pthread_mutex_clocklock (it would take the lock for
  // unheld); under it the wait is polled.
  for (bool blocking = !kThreadSanitizer; blocking;) {
    const int error = pthread_mutex_clocklock(&inner_, CLOCK_MONOTONIC, &deadline);
    if (error == 0) {
      Took(false);
      return true;
    }
    if (error == ETIMEDOUT) return false;
    // EINVAL: a kernel without monotonic waits on inheritance locks.
    if (error == EINVAL) blocking = false;
    if (error != EINVAL && error != EINTR) LockFailure("pthread_mutex_clocklock", error);
  }
  // Polled instead, still against the monotonic clock.
  for (;;) {
    const int error = pthread_mutex_trylock(&inner_);
    if (error == 0) {
      Took(false);
      return true;
    }
    if (error != EBUSY) LockFailure("pthread_mutex_trylock", error);
    if (MonotonicNow() >= end) return false;
    const timespec pause = ToTimespec(100'000);
    nanosleep(&pause, nullptr);
  }
}

void PriorityInheritanceMutex::unlock() NO_THREAD_SAFETY_ANALYSIS {
  if (--depth_ > 0) return;
  // Read before the inner lock goes: the next holder rewrites it.
  const bool throughGate = holderTookGate_;
  owner_.store(0, std::memory_order_relaxed);
  --tHeld;
  Check("pthread_mutex_unlock", pthread_mutex_unlock(&inner_));
  // The gate last, so that the next ordinary thread finds the inner lock free.
  if (throughGate) Check("pthread_mutex_unlock", pthread_mutex_unlock(&gate_));
}

void PriorityInheritanceMutex::AssertHeld() const {
  assert(owner_.load(std::memory_order_relaxed) == pthread_self());
}

}  // namespace orvexa
