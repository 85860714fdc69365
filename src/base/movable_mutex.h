// MovableMutex: a mutex (with priority inheritance: the real-time sampler takes the
// fast-sample buffers' one) that lets the object holding it be moved. A move gives the
// target a fresh, unlocked mutex of its own and leaves the source's alone, which is
// right only while nobody else can reach either object: the records that carry one
// (log files, channel logging state) are moved into the registry at start-up, before
// any other thread sees them, and never move while the server runs.
//
// Used like std::mutex (lock_guard, unique_lock); any thread.
#pragma once

#include "platform/priority_inheritance_mutex.h"

namespace orvexa {

class MovableMutex {
 public:
  MovableMutex() = default;
  MovableMutex(MovableMutex&&) noexcept {}
  MovableMutex& operator=(MovableMutex&&) noexcept { return *this; }
  MovableMutex(const MovableMutex&) = delete;
  MovableMutex& operator=(const MovableMutex&) = delete;

  void lock() { mutex_.lock(); }
  bool try_lock() { return mutex_.try_lock(); }
  void unlock() { mutex_.unlock(); }

 private:
  PriorityInheritanceMutex mutex_;
};

}  // namespace orvexa
