// Bounds the refused opening exchanges (a token that does not verify) per client address,
// so that nobody can try tokens or secrets at speed: after kMaxFailures refusals within
// kWindow, the address's new connections are closed at once for kBlockTime. Behind the
// local proxy the address is the one its X-Real-IP names, so it is looked at once the
// upgrade is read; other peers are looked at when they are accepted.
//
// The key is a HostAddress, so IPv4 and IPv6 clients share one table; an IPv6 client
// counts under its /64 network, which one subscriber usually holds whole. The table holds at most
// kMaxAddresses entries; when it is full, entries whose window and block have run out go
// first, then the open entry whose last refusal is oldest, an address still closed last.
//
// Threads: the main thread (accepting) and workers (opening). Its own lock guards the
// table; it is a leaf held for one lookup or update, so one address's refusals never
// slow anybody else's opening.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <unordered_map>

#include "platform/mutex.h"
#include "platform/thread_annotations.h"
#include "transport/host_address.h"

namespace orvexa {

class HelloFailureBound {
 public:
  using Address = HostAddress;

  static constexpr uint32_t kMaxFailures = 10;
  static constexpr int64_t kWindowMs = 60'000;
  static constexpr int64_t kBlockMs = 60'000;
  static constexpr size_t kMaxAddresses = 4096;

  // True when connections from `address` are to be closed at once.
  bool IsBlocked(const Address& address, int64_t nowMs);
  // Counts one refusal; true when it starts the address's block.
  bool RecordFailure(const Address& address, int64_t nowMs);

 private:
  struct Entry {
    int64_t windowStartMs = 0;
    uint32_t failures = 0;
    int64_t blockedUntilMs = 0;
    int64_t lastFailureMs = 0;
  };
  struct AddressHash {
    size_t operator()(const Address& address) const;
  };

  // The table's key: IPv4 as it is, IPv6 cut to its /64 network.
  static Address KeyOf(const Address& address);
  // Makes room for one more entry.
  void MakeRoomLocked(int64_t nowMs) REQUIRES(lock_);

  Mutex lock_;
  std::unordered_map<Address, Entry, AddressHash> entries_ GUARDED_BY(lock_);
};

}  // namespace orvexa
