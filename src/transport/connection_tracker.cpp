#include "transport/connection_tracker.h"

#include <algorithm>
#include <limits>
#include <thread>

#include "platform/lock_guard.h"

namespace orvexa {
namespace {

// The local reverse proxy's address: its connections are counted by the client address
// the handshake gives.
constexpr ConnectionTracker::Address kLocalProxy(127, 0, 0, 1);

}  // namespace

std::optional<uint32_t> ConnectionTracker::Admit(uint32_t maxClients) {
  LockGuard guard(lock_);
  if (activeClientCount_ >= maxClients) return std::nullopt;
  ++activeClientCount_;
  ++runningWorkers_;
  return ++connectionSerial_;
}

std::optional<uint32_t> ConnectionTracker::Admit(uint32_t maxClients, SocketHandle handle,
                                                 const Address& address) {
  LockGuard guard(lock_);
  if (activeClientCount_ >= maxClients) return std::nullopt;
  const bool counted = address != kLocalProxy;
  if (counted && OpeningFromLocked(address) >= maxOpening_.load()) return std::nullopt;
  ++activeClientCount_;
  ++runningWorkers_;
  // No deadline until Track: the accepting thread tracks it before anything else runs.
  live_.push_back({handle, nullptr, address, counted, std::numeric_limits<int64_t>::max(), true});
  return ++connectionSerial_;
}

void ConnectionTracker::FreePlace() {
  LockGuard guard(lock_);
  if (activeClientCount_ > 0) --activeClientCount_;
}

void ConnectionTracker::Leave(bool placeFreed) {
  LockGuard guard(lock_);
  if (!placeFreed && activeClientCount_ > 0) --activeClientCount_;
  if (runningWorkers_ > 0) --runningWorkers_;
}

uint32_t ConnectionTracker::RunningCount() {
  LockGuard guard(lock_);
  return runningWorkers_;
}

uint32_t ConnectionTracker::ActiveCount() {
  LockGuard guard(lock_);
  return activeClientCount_;
}

uint32_t ConnectionTracker::LastSerial() {
  LockGuard guard(lock_);
  return connectionSerial_;
}

uint32_t ConnectionTracker::OpeningFromLocked(const Address& address) const {
  uint32_t count = 0;
  for (const Live& l : live_)
    if (l.opening && l.counted && l.address == address) ++count;
  return count;
}

void ConnectionTracker::Track(ConnectionSocket* socket, int64_t deadlineMs) {
  LockGuard guard(lock_);
  for (Live& l : live_) {
    if (l.socket == nullptr && l.handle == socket->handle) {
      l.socket = socket;
      l.deadlineMs = deadlineMs;
      return;
    }
  }
  live_.push_back({socket->handle, socket, Address{}, true, deadlineMs, true});
}

bool ConnectionTracker::Readdress(ConnectionSocket* socket, const Address& address) {
  LockGuard guard(lock_);
  auto it = std::find_if(live_.begin(), live_.end(),
                         [socket](const Live& l) { return l.socket == socket; });
  if (it == live_.end() || !it->opening || (it->counted && it->address == address)) return true;
  if (OpeningFromLocked(address) >= maxOpening_.load()) return false;
  it->address = address;
  it->counted = true;
  return true;
}

void ConnectionTracker::MarkOpened(ConnectionSocket* socket) {
  LockGuard guard(lock_);
  for (auto& l : live_)
    if (l.socket == socket) l.opening = false;
}

void ConnectionTracker::Untrack(ConnectionSocket* socket) {
  LockGuard guard(lock_);
  live_.erase(std::remove_if(live_.begin(), live_.end(),
                             [socket](const Live& l) { return l.socket == socket; }),
              live_.end());
}

void ConnectionTracker::Untrack(SocketHandle handle) {
  LockGuard guard(lock_);
  live_.erase(std::remove_if(live_.begin(), live_.end(),
                             [handle](const Live& l) { return l.handle == handle; }),
              live_.end());
}

void ConnectionTracker::ShutdownAll() {
  LockGuard guard(lock_);
  // The handles stay valid: a worker leaves the set before it closes its socket.
  for (auto& l : live_) ShutdownSocket(l.handle);
}

int ConnectionTracker::ExpireUnopened(int64_t nowMs) {
  LockGuard guard(lock_);
  int count = 0;
  for (auto& l : live_) {
    if (!l.opening || l.deadlineMs > nowMs) continue;
    ShutdownSocket(l.handle);
    l.opening = false;  // once is enough; it no longer holds its address's place
    ++count;
  }
  return count;
}

bool ConnectionTracker::WaitUntilAllLeft(std::chrono::milliseconds timeout) {
  auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (RunningCount() == 0) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace orvexa
