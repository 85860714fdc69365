// Admission bookkeeping of client connections: ActiveClientCount and ConnectionSerial
// (the count test and the count-in are one step on the accepting side), the live
// connections, so that shutdown can end every connection (also those that have not
// finished their opening and are in no user table), and the opening of each live
// connection: one that does not finish its handshake and Hello by its opening deadline
// is ended, and at most MaxOpeningPerAddress connections of one address may be in their
// opening at once.
//
// Threads: Admit on the main thread (accepting), Track right after it on the main
// thread, the rest from workers, the main loop's opening check and the housekeeping
// thread (ExpireUnopened) and shutdown (ShutdownAll, WaitUntilAllLeft).
//
// The admission lock (lock_) guards everything here. It is a leaf: nothing is called
// while holding it except shutdown() on a socket, so the accept path and Hello never
// wait for the device lock (ServerLock) or for anything a burst may hold. Any thread may
// take it whatever it holds.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/mutex.h"
#include "platform/thread_annotations.h"
#include "transport/connection_socket.h"
#include "transport/host_address.h"

namespace orvexa {

class ConnectionTracker {
 public:
  // A client's address, IPv4 or IPv6 (a proxy's "X-Real-IP" may name either).
  using Address = HostAddress;

  // Refuses when `maxClients` connections are counted in, otherwise counts one in and
  // returns its serial number (1, 2, ...).
  std::optional<uint32_t> Admit(uint32_t maxClients);
  // The same for an accepted socket from `address`, which is also refused when that
  // address already has MaxOpeningPerAddress connections in their opening. An admitted
  // socket enters the live set at once, in its opening, until Track gives its deadline.
  // A socket from 127.0.0.1 is not counted: behind the local proxy every client comes
  // from there (a page opening many connections at once must not be refused for the
  // proxy's sake); Readdress counts it once its handshake names the client's address.
  std::optional<uint32_t> Admit(uint32_t maxClients, SocketHandle handle, const Address& address);
  // Gives back the connection's place among MaxClientCount. The close path calls it
  // before its last steps, which may wait for the devices (a control-changed message
  // during a burst): a newcomer need not wait for them. At most once per connection.
  void FreePlace();
  // The last step of a connection's worker: counts it out of the running workers, and
  // gives back its place too unless FreePlace already did (`placeFreed`).
  void Leave(bool placeFreed = false);
  // Connections holding a place (ActiveClientCount).
  uint32_t ActiveCount();
  // Workers that have not yet taken their last step; shutdown waits for these, as they
  // still use the user table, the audit log and the experiments.
  uint32_t RunningCount();
  uint32_t LastSerial();

  // At most this many connections of one address in their opening (at least 1).
  void SetMaxOpeningPerAddress(uint32_t limit) { maxOpening_.store(limit < 1 ? 1 : limit); }

  // The live set. `deadlineMs` (monotonic milliseconds) is when the connection is ended
  // if it has not finished its opening. Joins the entry Admit made for the same handle.
  void Track(ConnectionSocket* socket, int64_t deadlineMs);
  // The worker read the client's own address from the handshake (a local proxy's
  // X-Real-IP, IPv4 or IPv6): the opening counts under that address from now on.
  // False, leaving the count unchanged, when that address already has the maximum in
  // their opening (the worker then ends the connection).
  bool Readdress(ConnectionSocket* socket, const Address& address);
  // The opening is done (Hello answered): from now on the user table's idle time-out
  // applies.
  void MarkOpened(ConnectionSocket* socket);
  // Called by the worker before it closes its socket (and by the accepting side for a
  // socket whose worker did not start).
  void Untrack(ConnectionSocket* socket);
  void Untrack(SocketHandle handle);
  // Shuts down every live connection (their workers end through their close paths).
  void ShutdownAll();
  // Shuts down the connections whose opening deadline has passed; returns how many.
  int ExpireUnopened(int64_t nowMs);
  // Waits until every worker has taken its last step (RunningCount 0); false when
  // `timeout` passed first.
  bool WaitUntilAllLeft(std::chrono::milliseconds timeout);

 private:
  struct Live {
    SocketHandle handle;
    ConnectionSocket* socket;  // null between Admit and Track
    Address address;
    bool counted;  // false for a local socket until its handshake names its address
    int64_t deadlineMs;
    bool opening;  // handshake and Hello not finished, deadline not passed
  };

  uint32_t OpeningFromLocked(const Address& address) const REQUIRES(lock_);

  Mutex lock_;  // the admission lock
  uint32_t activeClientCount_ GUARDED_BY(lock_) = 0;  // places taken
  uint32_t runningWorkers_ GUARDED_BY(lock_) = 0;     // admitted, last step not yet taken
  uint32_t connectionSerial_ GUARDED_BY(lock_) = 0;
  std::vector<Live> live_ GUARDED_BY(lock_);

  std::atomic<uint32_t> maxOpening_{8};
};

}  // namespace orvexa
