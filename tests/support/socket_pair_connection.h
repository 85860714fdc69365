// SocketPairConnection: a ConnectionSocket over one end of a local socket pair, for tests
// of the tables that shut connections down (user table, connection tracker). The far end
// tells whether the socket was shut down. One test thread; closes both ends at the end.
#pragma once

#include "transport/connection_socket.h"

namespace orvexa::test {

class SocketPairConnection {
 public:
  SocketPairConnection();
  ~SocketPairConnection();
  SocketPairConnection(const SocketPairConnection&) = delete;
  SocketPairConnection& operator=(const SocketPairConnection&) = delete;

  // True once the near end was shut down (the far end reads end of file).
  bool ShutDown() const;

  ConnectionSocket socket;
  int peer = -1;
};

}  // namespace orvexa::test
