#include "app/main_loop.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/lock_guard.h"
#include "platform/poller.h"

namespace orvexa {

MainLoop::MainLoop() = default;
MainLoop::~MainLoop() = default;

int MainLoop::WatchFd(int fd, short events, FdCallback callback) {
  if (backend_ != nullptr) return backend_->WatchFd(fd, events, std::move(callback));
  int id = nextId_++;
  watches_[id] = Watch{fd, events, std::make_shared<FdCallback>(std::move(callback))};
  return id;
}

void MainLoop::UnwatchFd(int watchId) {
  if (backend_ != nullptr) return backend_->UnwatchFd(watchId);
  watches_.erase(watchId);
}

int MainLoop::AddTimer(std::chrono::milliseconds period, Callback callback) {
  if (backend_ != nullptr) return backend_->AddTimer(period, std::move(callback));
  int id = nextId_++;
  int64_t periodNs = std::max<int64_t>(1, period.count()) * 1000000;
  timers_[id] = Timer{periodNs, MonotonicNanoseconds() + periodNs, false,
                      std::make_shared<Callback>(std::move(callback))};
  return id;
}

void MainLoop::RemoveTimer(int timerId) {
  if (backend_ != nullptr) return backend_->RemoveTimer(timerId);
  timers_.erase(timerId);
}

void MainLoop::Post(Callback work) {
  if (backend_ != nullptr) return backend_->Post(std::move(work));
  {
    LockGuard guard(postedLock_);
    posted_.push_back(std::move(work));
  }
  wake_.Signal();
}

IoResult MainLoop::EnableTerminationSignals() {
  if (backend_ != nullptr) return backend_->EnableTerminationSignals();
  auto signals = std::make_unique<TerminationSignalFd>();
  if (!signals->ok()) return signals->error();
  signals_ = std::move(signals);
  return IoResult::Success();
}

void MainLoop::Quit() {
  quit_.store(true);
  if (backend_ != nullptr) return backend_->Quit();
  wake_.Signal();
}

int MainLoop::Run() {
  if (backend_ != nullptr) {
    if (quit_.load()) return 0;
    int signal = backend_->Run();
    quit_.store(true);
    return signal;
  }
  while (!quit_.load()) RunOnce(-1);
  return endingSignal_;
}

bool MainLoop::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  if (backend_ != nullptr) return backend_->RunUntil(done, timeout);
  int64_t end = MonotonicNanoseconds() + timeout.count() * 1000000;
  for (;;) {
    if (done()) return true;
    int64_t left = end - MonotonicNanoseconds();
    if (left <= 0) return done();
    // Short slices: `done` may turn true without anything waking the poll.
    RunOnce(static_cast<int>(std::min<int64_t>(left / 1000000 + 1, 10)));
  }
}

int MainLoop::MillisecondsToNextTimer() const {
  if (timers_.empty()) return -1;
  int64_t now = MonotonicNanoseconds();
  int64_t next = INT64_MAX;
  for (const auto& [id, timer] : timers_) next = std::min(next, timer.dueNs);
  if (next <= now) return 0;
  return static_cast<int>(std::min<int64_t>((next - now + 999999) / 1000000, 60000));
}

void MainLoop::RunOnce(int maxWaitMs) {
  std::vector<pollfd> fds;
  std::vector<int> ids;  // watch id per entry; 0 = wake fd, -1 = signal fd
  fds.push_back(pollfd{wake_.fd(), POLLIN, 0});
  ids.push_back(0);
  if (signals_) {
    fds.push_back(pollfd{signals_->fd(), POLLIN, 0});
    ids.push_back(-1);
  }
  for (const auto& [id, watch] : watches_) {
    fds.push_back(pollfd{watch.fd, watch.events, 0});
    ids.push_back(id);
  }

  int wait = MillisecondsToNextTimer();
  if (maxWaitMs >= 0 && (wait < 0 || maxWaitMs < wait)) wait = maxWaitMs;
  {
    LockGuard guard(postedLock_);
    if (!posted_.empty()) wait = 0;
  }
  int ready = PollDescriptors(fds, wait);

  if (ready > 0) {
    for (size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      if (ids[i] == 0) {
        wake_.Drain();
      } else if (ids[i] == -1) {
        if (int signal = signals_->Read()) {
          endingSignal_ = signal;
          quit_.store(true);
        }
      } else {
        auto it = watches_.find(ids[i]);
        // The watch may have been removed by an earlier callback of this pass.
        if (it == watches_.end()) continue;
        std::shared_ptr<FdCallback> callback = it->second.callback;
        (*callback)(fds[i].revents);
      }
    }
  }
  RunPosted();
  RunDueTimers();
}

void MainLoop::RunPosted() {
  std::vector<Callback> work;
  {
    LockGuard guard(postedLock_);
    work.swap(posted_);
  }
  for (auto& item : work) item();
}

void MainLoop::RunDueTimers() {
  std::vector<int> due;
  int64_t now = MonotonicNanoseconds();
  for (const auto& [id, timer] : timers_)
    if (timer.dueNs <= now && !timer.busy) due.push_back(id);
  for (int id : due) {
    auto it = timers_.find(id);
    if (it == timers_.end() || it->second.busy) continue;
    Timer& timer = it->second;
    // Next tick one period after this one; a late tick does not cause a burst of ticks.
    timer.dueNs += timer.periodNs;
    if (timer.dueNs <= now) timer.dueNs = now + timer.periodNs;
    timer.busy = true;
    std::shared_ptr<Callback> callback = timer.callback;
    (*callback)();
    auto after = timers_.find(id);
    if (after != timers_.end()) after->second.busy = false;
  }
}

}  // namespace orvexa
