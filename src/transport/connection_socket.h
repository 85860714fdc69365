// The socket of one client connection as shared between its worker and the tables that
// may end it (the user table on expiry, kick or shutdown; the connection tracker for a
// connection that never finished its opening). The worker owns the handle and is the
// only one that ever closes it; the others only shut it down, which wakes the worker's
// blocked receive or send, and mark it so that it is shut down at most once.
// `open` is guarded by the lock of whoever shuts the socket down (user-table lock,
// tracker lock); the handle never changes while the worker is registered anywhere.
// `expiry` is the idle deadline of a registered connection: the worker restarts it with
// every request without taking the table lock; the maintenance pass reads it.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/tcp_socket.h"

namespace orvexa {

struct ConnectionSocket {
  SocketHandle handle = kNoSocket;
  bool open = true;
  std::atomic<int64_t> expiry{0};  // calendar seconds
};

}  // namespace orvexa
