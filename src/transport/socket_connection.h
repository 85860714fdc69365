// RawConnection over a connected TCP socket, plus the free functions ReceiveAll and
// SendAll that loop over recv and send. The socket is not owned: the worker closes it.
// Used by one worker thread.
#pragma once

#include <cstddef>

#include "platform/tcp_socket.h"
#include "transport/raw_connection.h"

namespace orvexa {

// Exactly `size` bytes; a failing call throws its error code, a closed peer throws 0.
void ReceiveAll(SocketHandle socket, void* buffer, size_t size);
void SendAll(SocketHandle socket, const void* data, size_t size);

class SocketConnection : public RawConnection {
 public:
  explicit SocketConnection(SocketHandle socket) : socket_(socket) {}
  size_t ReceiveSome(void* buffer, size_t size) override;
  void SendAll(const void* data, size_t size) override;
  bool PeerAddress(uint8_t address[4]) override { return orvexa::PeerAddress(socket_, address); }
  SocketHandle socket() const { return socket_; }

 private:
  SocketHandle socket_;
};

}  // namespace orvexa
