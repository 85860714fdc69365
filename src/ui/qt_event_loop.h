// QtEventLoop: the main loop's backend while the operator window is up. Qt's event loop
// runs the main thread; descriptor watches become QSocketNotifiers (the listener's
// accept notifications), timers QTimers that are never re-entered (the one-second
// tick), posted work queued calls on an object of the main thread (never waiting), and
// SIGINT/SIGTERM a notifier on the signal descriptor that ends the run.
//
// Construct on the main thread after the QApplication. Post and Quit are safe from any
// thread; everything else belongs to the main thread.
#pragma once

#include <QObject>
#include <QPointer>
#include <atomic>
#include <map>
#include <memory>

#include "app/main_loop_backend.h"

class QEventLoop;
class QSocketNotifier;
class QTimer;

namespace orvexa {

class TerminationSignalFd;

class QtEventLoop : public QObject, public MainLoopBackend {
  Q_OBJECT

 public:
  QtEventLoop();
  ~QtEventLoop() override;

  int WatchFd(int fd, short events, FdCallback callback) override;
  void UnwatchFd(int watchId) override;
  int AddTimer(std::chrono::milliseconds period, Callback callback) override;
  void RemoveTimer(int timerId) override;
  void Post(Callback work) override;
  IoResult EnableTerminationSignals() override;
  int Run() override;
  // Ends the run; modal dialogs still open are closed (rejected) so that it can end.
  void Quit() override;
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) override;

  bool QuitRequested() const { return quit_.load(); }

 private:
  struct Watch {
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
    std::shared_ptr<FdCallback> callback;
  };
  struct Timer {
    std::unique_ptr<QTimer> timer;
    std::shared_ptr<Callback> callback;
    std::shared_ptr<bool> busy;
  };

  void QuitOnMainThread();

  std::atomic<bool> quit_{false};
  int endingSignal_ = 0;
  QPointer<QEventLoop> running_;
  std::map<int, Watch> watches_;
  std::map<int, Timer> timers_;
  int nextId_ = 1;
  std::unique_ptr<TerminationSignalFd> signals_;
  std::unique_ptr<QSocketNotifier> signalNotifier_;
};

}  // namespace orvexa
