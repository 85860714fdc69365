#include "transport/hello_failure_bound.h"

#include <algorithm>

namespace orvexa {

size_t HelloFailureBound::AddressHash::operator()(const Address& address) const {
  uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (uint8_t byte : address.bytes()) hash = (hash ^ byte) * 1099511628211ull;
  return static_cast<size_t>(hash);
}

bool HelloFailureBound::IsBlocked(const Address& address, int64_t nowMs) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = entries_.find(address);
  return it != entries_.end() && it->second.blockedUntilMs > nowMs;
}

bool HelloFailureBound::RecordFailure(const Address& address, int64_t nowMs) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = entries_.find(address);
  if (it == entries_.end()) {
    MakeRoomLocked(nowMs);
    it = entries_.emplace(address, Entry{nowMs, 0, 0, nowMs}).first;
  }
  Entry& entry = it->second;
  if (nowMs - entry.windowStartMs >= kWindowMs) {
    entry.windowStartMs = nowMs;
    entry.failures = 0;
  }
  entry.lastFailureMs = nowMs;
  if (++entry.failures < kMaxFailures || entry.blockedUntilMs > nowMs) return false;
  entry.blockedUntilMs = nowMs + kBlockMs;
  entry.windowStartMs = nowMs;
  entry.failures = 0;
  return true;
}

void HelloFailureBound::MakeRoomLocked(int64_t nowMs) {
  if (entries_.size() < kMaxAddresses) return;
  std::erase_if(entries_, [nowMs](const auto& item) {
    const Entry& e = item.second;
    return e.blockedUntilMs <= nowMs && nowMs - e.windowStartMs >= kWindowMs;
  });
  if (entries_.size() < kMaxAddresses) return;
  auto oldest = std::min_element(
      entries_.begin(), entries_.end(),
      [](const auto& a, const auto& b) { return a.second.lastFailureMs < b.second.lastFailureMs; });
  entries_.erase(oldest);
}

}  // namespace orvexa
