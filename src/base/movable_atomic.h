// MovableAtomic: a std::atomic that lets the object holding it be moved, like
// MovableMutex: a move copies the value, which is right only while nobody else can
// reach either object (the channel records that carry one are moved into the registry
// at start-up, before any other thread sees them, and never move while the server runs).
//
// Used like the atomic it wraps (load, store); any thread.
#pragma once

#include <atomic>

namespace orvexa {

template <typename T>
class MovableAtomic {
 public:
  MovableAtomic() = default;
  explicit MovableAtomic(T value) : value_(value) {}
  MovableAtomic(MovableAtomic&& other) noexcept : value_(other.load()) {}
  MovableAtomic& operator=(MovableAtomic&& other) noexcept {
    store(other.load());
    return *this;
  }
  MovableAtomic(const MovableAtomic&) = delete;
  MovableAtomic& operator=(const MovableAtomic&) = delete;

  T load(std::memory_order order = std::memory_order_seq_cst) const { return value_.load(order); }
  void store(T value, std::memory_order order = std::memory_order_seq_cst) {
    value_.store(value, order);
  }

 private:
  std::atomic<T> value_{};
};

}  // namespace orvexa
