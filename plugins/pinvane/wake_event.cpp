#include "wake_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>

namespace orvexa::pinvane {

WakeEvent::WakeEvent() {
  fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

WakeEvent::~WakeEvent() {
  if (fd_ >= 0) close(fd_);
}

void WakeEvent::Signal() {
  if (fd_ < 0) return;
  uint64_t one = 1;
  // The counter only grows; a full counter (EAGAIN) is still signalled.
  while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void WakeEvent::Reset() {
  if (fd_ < 0) return;
  uint64_t value;
  while (read(fd_, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

bool WakeEvent::IsSignalled() const {
  return Wait(0);
}

bool WakeEvent::Wait(int milliseconds) const {
  if (fd_ < 0) return true;  // nothing to wait on: behave as stopped rather than spin
  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  int timeout = milliseconds;
  for (;;) {
    pollfd entry{fd_, POLLIN, 0};
    int ready = poll(&entry, 1, timeout);
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
    // Interrupted by a signal: wait out the rest, rounded up so the wait is never short.
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    timeout = left.count() > 0 ? static_cast<int>(left.count()) : 0;
  }
}

}  // namespace orvexa::pinvane
