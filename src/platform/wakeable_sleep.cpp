#include "platform/wakeable_sleep.h"

#include <signal.h>
#include <time.h>

#include <cerrno>
#include <mutex>

namespace orvexa {
namespace {

int WakeSignal() {
  return SIGRTMIN + 2;
}

extern "C" void OnWakeSignal(int) {}

// The handler is process-wide; install it once, before the first sleep or wake.
void InstallWakeHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_handler = OnWakeSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // clock_nanosleep still ends with EINTR
    sigaction(WakeSignal(), &action, nullptr);
  });
}

}  // namespace

WakeableSleep::WakeableSleep() {
  InstallWakeHandler();
}

bool WakeableSleep::SleepUntil(int64_t deadlineNs) {
  if (!pthread_equal(sleeper_.load(), pthread_self())) {
    // A new sleeper: it must be able to receive the wake signal.
    sigset_t wake;
    sigemptyset(&wake);
    sigaddset(&wake, WakeSignal());
    pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);
    sleeper_.store(pthread_self());
  }
  // Announce the sleep before looking for a pending wake: a Wake that comes after the
  // look sees the announcement and sends the signal.
  sleeping_.store(true);
  bool slept = !requested_.exchange(false);
  if (slept && deadlineNs >= 0) {
    timespec due;
    due.tv_sec = static_cast<time_t>(deadlineNs / 1000000000);
    due.tv_nsec = static_cast<long>(deadlineNs % 1000000000);
    int result;
    while ((result = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr)) == EINTR) {
      if (requested_.exchange(false)) {
        slept = false;
        break;
      }
    }
  }
  sleeping_.store(false);
  // A signal that raced the start of the sleep left its request behind: the next sleep
  // returns at once, so the sleeper looks at its schedule again without delay.
  return slept;
}

void WakeableSleep::Wake() {
  requested_.store(true);
  if (sleeping_.load()) pthread_kill(sleeper_.load(), WakeSignal());
}

}  // namespace orvexa
