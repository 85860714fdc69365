#include "transport/connection_tracker.h"

#include <algorithm>
#include <thread>

#include "base/server_lock.h"

namespace orvexa {

std::optional<uint32_t> ConnectionTracker::Admit(uint32_t maxClients) {
  std::lock_guard<std::recursive_mutex> guard(ServerLock());
  if (activeClientCount_ >= maxClients) return std::nullopt;
  ++activeClientCount_;
  return ++connectionSerial_;
}

void ConnectionTracker::Leave() {
  std::lock_guard<std::recursive_mutex> guard(ServerLock());
  if (activeClientCount_ > 0) --activeClientCount_;
}

uint32_t ConnectionTracker::ActiveCount() {
  std::lock_guard<std::recursive_mutex> guard(ServerLock());
  return activeClientCount_;
}

uint32_t ConnectionTracker::LastSerial() {
  std::lock_guard<std::recursive_mutex> guard(ServerLock());
  return connectionSerial_;
}

void ConnectionTracker::Track(ConnectionSocket* socket, int64_t deadlineMs) {
  std::lock_guard<std::mutex> guard(liveLock_);
  live_.push_back({socket, deadlineMs, false});
}

void ConnectionTracker::MarkOpened(ConnectionSocket* socket) {
  std::lock_guard<std::mutex> guard(liveLock_);
  for (auto& l : live_)
    if (l.socket == socket) l.opened = true;
}

void ConnectionTracker::Untrack(ConnectionSocket* socket) {
  std::lock_guard<std::mutex> guard(liveLock_);
  live_.erase(std::remove_if(live_.begin(), live_.end(),
                             [socket](const Live& l) { return l.socket == socket; }),
              live_.end());
}

void ConnectionTracker::ShutdownAll() {
  std::lock_guard<std::mutex> guard(liveLock_);
  // The handles stay valid: a worker leaves the set before it closes its socket.
  for (auto& l : live_) ShutdownSocket(l.socket->handle);
}

int ConnectionTracker::ExpireUnopened(int64_t nowMs) {
  std::lock_guard<std::mutex> guard(liveLock_);
  int count = 0;
  for (auto& l : live_) {
    if (l.opened || l.deadlineMs > nowMs) continue;
    ShutdownSocket(l.socket->handle);
    l.opened = true;  // once is enough
    ++count;
  }
  return count;
}

bool ConnectionTracker::WaitUntilAllLeft(std::chrono::milliseconds timeout) {
  auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (ActiveCount() == 0) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace orvexa
