#include "support/socket_pair_connection.h"

#include <sys/socket.h>
#include <unistd.h>

namespace orvexa::test {

SocketPairConnection::SocketPairConnection() {
  int fds[2];
  ::socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
  socket.handle = fds[0];
  peer = fds[1];
}

SocketPairConnection::~SocketPairConnection() {
  ::close(socket.handle);
  ::close(peer);
}

bool SocketPairConnection::ShutDown() const {
  char c;
  return ::recv(peer, &c, 1, MSG_DONTWAIT) == 0;
}

}  // namespace orvexa::test
