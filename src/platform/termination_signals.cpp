#include "platform/termination_signals.h"

#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>

namespace orvexa {
namespace {

sigset_t TerminationSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

IoResult BlockTerminationSignals() {
  ::signal(SIGPIPE, SIG_IGN);
  sigset_t set = TerminationSet();
  int error = ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
  if (error != 0) return IoResult::Failure(ErrnoMessage("pthread_sigmask", "", error));
  return IoResult::Success();
}

void UnblockTerminationSignals() {
  sigset_t set = TerminationSet();
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

TerminationSignalFd::TerminationSignalFd() {
  sigset_t set = TerminationSet();
  fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  if (fd_ < 0) error_ = IoResult::Failure(ErrnoMessage("signalfd", "", errno));
}

TerminationSignalFd::~TerminationSignalFd() {
  if (fd_ >= 0) ::close(fd_);
}

int TerminationSignalFd::Read() {
  if (fd_ < 0) return 0;
  signalfd_siginfo info{};
  for (;;) {
    ssize_t n = ::read(fd_, &info, sizeof info);
    if (n == static_cast<ssize_t>(sizeof info)) return static_cast<int>(info.ssi_signo);
    if (n < 0 && errno == EINTR) continue;
    return 0;
  }
}

}  // namespace orvexa
