// Admission bookkeeping of client connections: ActiveClientCount and ConnectionSerial
// (guarded by ServerLock; the count test and the count-in are one step on the accepting
// side), and the set of live connections, so that shutdown can end every connection
// (also those that have not finished their opening and are in no user table) and so that
// a connection that never finishes its opening loses its place after the idle delay.
//
// Threads: Admit on the main thread (accepting), the rest from workers, the housekeeping
// thread (ExpireUnopened) and shutdown (ShutdownAll, WaitUntilAllLeft). The tracker's own
// mutex guards the live set and is a leaf lock (nothing is called while holding it
// except shutdown() on a socket).
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "transport/connection_socket.h"

namespace orvexa {

class ConnectionTracker {
 public:
  // Under ServerLock: refuses when `maxClients` connections are counted in, otherwise
  // counts one in and returns its serial number (1, 2, ...).
  std::optional<uint32_t> Admit(uint32_t maxClients);
  // Under ServerLock: counts one connection out (the last step of its worker).
  void Leave();
  uint32_t ActiveCount();
  uint32_t LastSerial();

  // The live set. `deadlineMs` (monotonic milliseconds) is when a connection that has
  // not finished its opening exchange is ended.
  void Track(ConnectionSocket* socket, int64_t deadlineMs);
  // The opening is done: from now on the user table's idle time-out applies.
  void MarkOpened(ConnectionSocket* socket);
  // Called by the worker before it closes its socket.
  void Untrack(ConnectionSocket* socket);
  // Shuts down every live connection (their workers end through their close paths).
  void ShutdownAll();
  // Shuts down the connections whose opening deadline has passed; returns how many.
  int ExpireUnopened(int64_t nowMs);
  // Waits until every worker has counted itself out; false when `timeout` passed first.
  bool WaitUntilAllLeft(std::chrono::milliseconds timeout);

 private:
  struct Live {
    ConnectionSocket* socket;
    int64_t deadlineMs;
    bool opened;
  };

  // Under ServerLock.
  uint32_t activeClientCount_ = 0;
  uint32_t connectionSerial_ = 0;

  std::mutex liveLock_;  // guards live_
  std::vector<Live> live_;
};

}  // namespace orvexa
