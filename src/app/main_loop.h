// The headless main loop: the main thread's event loop while the server runs. It waits
// in poll() on the watched descriptors (the listening socket's accept notifications),
// runs periodic timers (the one-second tick), runs work posted by other threads, and
// ends its run on SIGINT/SIGTERM or Quit(), which starts the orderly shutdown.
//
// Threads: Run, RunUntil, WatchFd, UnwatchFd, AddTimer and RemoveTimer belong to the main
// thread (callbacks may call them). Post and Quit may be called from any thread and
// never wait for the main thread; the post queue's mutex is held only to move items.
// A timer callback is never re-entered: while it runs, its own due ticks are skipped.
//
// With the operator window a MainLoopBackend (the toolkit's loop) is installed before
// the run starts; every operation then goes to it, so callers need not know which loop
// runs the thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "app/main_loop_backend.h"
#include "platform/io_result.h"
#include "platform/mutex.h"
#include "platform/poller.h"  // POLLIN, POLLOUT for WatchFd
#include "platform/termination_signals.h"
#include "platform/thread_annotations.h"
#include "platform/wake_fd.h"

namespace orvexa {

class MainLoop {
 public:
  using FdCallback = std::function<void(short revents)>;
  using Callback = std::function<void()>;

  MainLoop();
  ~MainLoop();
  MainLoop(const MainLoop&) = delete;
  MainLoop& operator=(const MainLoop&) = delete;

  // False when the loop's own wake-up descriptor could not be created.
  bool ok() const { return backend_ != nullptr || wake_.ok(); }

  // Hands every later operation to `backend` (not owned; it outlives the run). Called on
  // the main thread before any other thread starts; null returns to the poll loop.
  void SetBackend(MainLoopBackend* backend) { backend_ = backend; }

  // Calls `callback` on the main thread whenever `fd` reports one of `events` (POLLIN...).
  // Returns a watch id for UnwatchFd.
  int WatchFd(int fd, short events, FdCallback callback);
  void UnwatchFd(int watchId);

  // Calls `callback` every `period` on the main thread, first one period from now. Ticks
  // that fall due while the callback still runs are dropped, not queued.
  int AddTimer(std::chrono::milliseconds period, Callback callback);
  void RemoveTimer(int timerId);

  // Queues `work` for the main thread and wakes the loop. Never blocks on the loop.
  void Post(Callback work);

  // SIGINT and SIGTERM end Run (the signals must have been blocked with
  // BlockTerminationSignals before any thread started). False when the signalfd failed.
  IoResult EnableTerminationSignals();

  // Runs until Quit() or a termination signal. Returns the signal number, or 0.
  int Run();
  // Ends Run from any thread (also before Run: then Run returns at once).
  void Quit();
  bool QuitRequested() const { return quit_.load(); }

  // Keeps serving posted work, timers and watches until `done()` is true or `timeout`
  // passes; for the main thread waiting on another thread. True when `done()` held.
  // Quit and signals do not end it.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

 private:
  struct Watch {
    int fd;
    short events;
    std::shared_ptr<FdCallback> callback;
  };
  struct Timer {
    int64_t periodNs;
    int64_t dueNs;
    bool busy = false;
    std::shared_ptr<Callback> callback;
  };

  // One pass: wait up to `maxWaitMs` (capped by the next timer), then dispatch.
  void RunOnce(int maxWaitMs);
  void RunPosted();
  void RunDueTimers();
  int MillisecondsToNextTimer() const;

  MainLoopBackend* backend_ = nullptr;
  WakeFd wake_;
  std::unique_ptr<TerminationSignalFd> signals_;
  std::atomic<bool> quit_{false};
  int endingSignal_ = 0;

  std::map<int, Watch> watches_;
  std::map<int, Timer> timers_;
  int nextId_ = 1;

  Mutex postedLock_;
  std::vector<Callback> posted_ GUARDED_BY(postedLock_);
};

}  // namespace orvexa
