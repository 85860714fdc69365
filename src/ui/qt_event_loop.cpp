#include "ui/qt_event_loop.h"

#include <poll.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include "platform/termination_signals.h"

namespace orvexa {

QtEventLoop::QtEventLoop() = default;

QtEventLoop::~QtEventLoop() = default;

int QtEventLoop::WatchFd(int fd, short events, FdCallback callback) {
  int id = nextId_++;
  Watch& watch = watches_[id];
  watch.callback = std::make_shared<FdCallback>(std::move(callback));
  std::shared_ptr<FdCallback> shared = watch.callback;
  if (events & POLLIN) {
    watch.read = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(watch.read.get(), &QSocketNotifier::activated, this, [shared] { (*shared)(POLLIN); });
  }
  if (events & POLLOUT) {
    watch.write = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    connect(watch.write.get(), &QSocketNotifier::activated, this, [shared] { (*shared)(POLLOUT); });
  }
  return id;
}

void QtEventLoop::UnwatchFd(int watchId) {
  auto it = watches_.find(watchId);
  if (it == watches_.end()) return;
  // The callback may be the one removing its own watch: the notifiers go later, but
  // stop watching now (the descriptor may be closed right after this call).
  for (std::unique_ptr<QSocketNotifier>* notifier : {&it->second.read, &it->second.write}) {
    if (!*notifier) continue;
    (*notifier)->setEnabled(false);
    notifier->release()->deleteLater();
  }
  watches_.erase(it);
}

int QtEventLoop::AddTimer(std::chrono::milliseconds period, Callback callback) {
  int id = nextId_++;
  Timer& entry = timers_[id];
  entry.timer = std::make_unique<QTimer>();
  entry.timer->setTimerType(Qt::PreciseTimer);
  entry.timer->setInterval(static_cast<int>(std::max<int64_t>(1, period.count())));
  entry.callback = std::make_shared<Callback>(std::move(callback));
  entry.busy = std::make_shared<bool>(false);
  std::shared_ptr<Callback> shared = entry.callback;
  std::shared_ptr<bool> busy = entry.busy;
  // A tick that comes while the callback still runs (a modal box opened from it) is
  // dropped, not queued.
  connect(entry.timer.get(), &QTimer::timeout, this, [shared, busy] {
    if (*busy) return;
    *busy = true;
    (*shared)();
    *busy = false;
  });
  entry.timer->start();
  return id;
}

void QtEventLoop::RemoveTimer(int timerId) {
  auto it = timers_.find(timerId);
  if (it == timers_.end()) return;
  it->second.timer->stop();
  it->second.timer.release()->deleteLater();
  timers_.erase(it);
}

void QtEventLoop::Post(Callback work) {
  // A queued call runs on this object's (the main) thread and never waits for it.
  QMetaObject::invokeMethod(
      this, [work = std::move(work)] { work(); }, Qt::QueuedConnection);
}

IoResult QtEventLoop::EnableTerminationSignals() {
  auto signalFd = std::make_unique<TerminationSignalFd>();
  if (!signalFd->ok()) return signalFd->error();
  signals_ = std::move(signalFd);
  signalNotifier_ = std::make_unique<QSocketNotifier>(signals_->fd(), QSocketNotifier::Read);
  connect(signalNotifier_.get(), &QSocketNotifier::activated, this, [this] {
    if (int signal = signals_->Read()) {
      endingSignal_ = signal;
      Quit();
    }
  });
  return IoResult::Success();
}

int QtEventLoop::Run() {
  if (quit_.load()) return endingSignal_;
  QEventLoop loop;
  running_ = &loop;
  loop.exec();
  running_ = nullptr;
  return endingSignal_;
}

void QtEventLoop::Quit() {
  quit_.store(true);
  QMetaObject::invokeMethod(
      this, [this] { QuitOnMainThread(); }, Qt::QueuedConnection);
}

void QtEventLoop::QuitOnMainThread() {
  // Modal dialogs run loops of their own above the run's loop; rejecting them lets the
  // run end (a plug-in's dialog, the log settings, a message box).
  for (int guard = 0; guard < 16; ++guard) {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) break;
    modal->close();
  }
  if (running_) running_->quit();
}

bool QtEventLoop::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  QElapsedTimer clock;
  clock.start();
  for (;;) {
    if (done()) return true;
    qint64 left = timeout.count() - clock.elapsed();
    if (left <= 0) return done();
    // Short slices: `done` may turn true without any event arriving.
    QEventLoop slice;
    QTimer::singleShot(static_cast<int>(std::min<qint64>(left, 10)), &slice, &QEventLoop::quit);
    slice.exec();
  }
}

}  // namespace orvexa
