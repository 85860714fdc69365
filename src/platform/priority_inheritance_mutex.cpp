#include "platform/priority_inheritance_mutex.h"

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace orvexa {
namespace {

// A failed lock or unlock means a broken invariant of the program itself (unlocking a
// mutex this thread does not hold, or a deadlock the kernel detected), never outside
// input: going on would corrupt what the lock guards.
[[noreturn]] void LockFailure(const char* what, int error) {
  std::fprintf(stderr, "Fatal: %s failed: %s\n", what, std::strerror(error));
  std::abort();
}

}  // namespace

PriorityInheritanceMutex::PriorityInheritanceMutex(Kind kind) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(
      &attributes, kind == Kind::kRecursive ? PTHREAD_MUTEX_RECURSIVE : PTHREAD_MUTEX_NORMAL);
  // Where the kernel lacks priority inheritance the mutex stays an ordinary one.
  if (pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT) != 0)
    pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_NONE);
  const int error = pthread_mutex_init(&mutex_, &attributes);
  pthread_mutexattr_destroy(&attributes);
  if (error != 0) LockFailure("pthread_mutex_init", error);
}

PriorityInheritanceMutex::~PriorityInheritanceMutex() {
  pthread_mutex_destroy(&mutex_);
}

void PriorityInheritanceMutex::lock() {
  const int error = pthread_mutex_lock(&mutex_);
  if (error != 0) LockFailure("pthread_mutex_lock", error);
}

bool PriorityInheritanceMutex::try_lock() {
  const int error = pthread_mutex_trylock(&mutex_);
  if (error == 0) return true;
  if (error == EBUSY) return false;
  LockFailure("pthread_mutex_trylock", error);
}

bool PriorityInheritanceMutex::try_lock_for(std::chrono::nanoseconds timeout) {
  // pthread_mutex_timedlock takes a wall-clock deadline; a clock step during these few
  // milliseconds only lengthens or shortens one wait.
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  const int64_t end = int64_t{deadline.tv_sec} * 1'000'000'000 + deadline.tv_nsec +
                      std::max<int64_t>(timeout.count(), 0);
  deadline.tv_sec = static_cast<time_t>(end / 1'000'000'000);
  deadline.tv_nsec = static_cast<long>(end % 1'000'000'000);
  for (;;) {
    const int error = pthread_mutex_timedlock(&mutex_, &deadline);
    if (error == 0) return true;
    if (error == ETIMEDOUT) return false;
    if (error != EINTR) LockFailure("pthread_mutex_timedlock", error);
  }
}

void PriorityInheritanceMutex::unlock() {
  const int error = pthread_mutex_unlock(&mutex_);
  if (error != 0) LockFailure("pthread_mutex_unlock", error);
}

}  // namespace orvexa
