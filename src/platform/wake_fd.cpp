#include "platform/wake_fd.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace orvexa {

WakeFd::WakeFd() {
  fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd_ < 0) error_ = IoResult::Failure(ErrnoMessage("eventfd", "", errno));
}

WakeFd::~WakeFd() {
  if (fd_ >= 0) ::close(fd_);
}

void WakeFd::Signal() {
  if (fd_ < 0) return;
  uint64_t one = 1;
  // Non-blocking: a counter at its maximum already means "wake up", so EAGAIN is fine.
  while (::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void WakeFd::Drain() {
  if (fd_ < 0) return;
  uint64_t value = 0;
  while (::read(fd_, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

}  // namespace orvexa
