// MainLoopBackend: another event loop that takes the main loop's place on the main
// thread. With the operator window, the toolkit's own loop has to run the thread (it
// owns the windows and the modal dialogs), so the window installs a backend into
// MainLoop and every caller of MainLoop (the listener's accept watch, the one-second
// tick, work posted by other threads, the shutdown waits) goes on unchanged.
//
// Threads: as MainLoop. Post and Quit are called from any thread and must not wait for
// the main thread; everything else is called on the main thread.
#pragma once

#include <chrono>
#include <functional>

#include "platform/io_result.h"

namespace orvexa {

class MainLoopBackend {
 public:
  using FdCallback = std::function<void(short revents)>;
  using Callback = std::function<void()>;

  virtual ~MainLoopBackend() = default;

  virtual int WatchFd(int fd, short events, FdCallback callback) = 0;
  virtual void UnwatchFd(int watchId) = 0;
  virtual int AddTimer(std::chrono::milliseconds period, Callback callback) = 0;
  virtual void RemoveTimer(int timerId) = 0;
  virtual void Post(Callback work) = 0;
  virtual IoResult EnableTerminationSignals() = 0;
  // Runs until Quit or a termination signal; the signal number, or 0.
  virtual int Run() = 0;
  virtual void Quit() = 0;
  virtual bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) = 0;
};

}  // namespace orvexa
