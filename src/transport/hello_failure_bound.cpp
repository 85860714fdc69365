#include "transport/hello_failure_bound.h"

#include <algorithm>

#include "platform/lock_guard.h"

namespace orvexa {

size_t HelloFailureBound::AddressHash::operator()(const Address& address) const {
  uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (uint8_t byte : address.bytes()) hash = (hash ^ byte) * 1099511628211ull;
  return static_cast<size_t>(hash);
}

HelloFailureBound::Address HelloFailureBound::KeyOf(const Address& address) {
  if (address.IsV4()) return address;
  HostAddress::Bytes network = address.bytes();
  std::fill(network.begin() + 8, network.end(), 0);
  return HostAddress::FromBytes(network);
}

bool HelloFailureBound::IsBlocked(const Address& address, int64_t nowMs) {
  LockGuard guard(lock_);
  auto it = entries_.find(KeyOf(address));
  return it != entries_.end() && it->second.blockedUntilMs > nowMs;
}

bool HelloFailureBound::RecordFailure(const Address& address, int64_t nowMs) {
  const Address key = KeyOf(address);
  LockGuard guard(lock_);
  auto it = entries_.find(key);
  if (it == entries_.end()) {
    MakeRoomLocked(nowMs);
    it = entries_.emplace(key, Entry{nowMs, 0, 0, nowMs}).first;
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
  // An address still closed goes last, or filling the table would open it again: first
  // the oldest refusal among the open ones, else the block that ends first.
  auto first =
      std::min_element(entries_.begin(), entries_.end(), [nowMs](const auto& a, const auto& b) {
        const bool aBlocked = a.second.blockedUntilMs > nowMs,
                   bBlocked = b.second.blockedUntilMs > nowMs;
        if (aBlocked != bBlocked) return !aBlocked;
        return aBlocked ? a.second.blockedUntilMs < b.second.blockedUntilMs
                        : a.second.lastFailureMs < b.second.lastFailureMs;
      });
  entries_.erase(first);
}

}  // namespace orvexa
