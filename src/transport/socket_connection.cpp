#include "transport/socket_connection.h"

#include <cstdint>

#include "transport/connection_closed.h"

namespace orvexa {

void ReceiveAll(SocketHandle socket, void* buffer, size_t size) {
  auto* p = static_cast<uint8_t*>(buffer);
  while (size > 0) {
    int error = 0;
    long n = orvexa::ReceiveSome(socket, p, size, &error);
    if (n < 0) ThrowTransportError(error);
    if (n == 0) ThrowTransportError(0);
    p += n;
    size -= static_cast<size_t>(n);
  }
}

void SendAll(SocketHandle socket, const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    int error = 0;
    long n = SendSome(socket, p, size, &error);
    if (n < 0) ThrowTransportError(error);
    if (n == 0) ThrowTransportError(0);
    p += n;
    size -= static_cast<size_t>(n);
  }
}

size_t SocketConnection::ReceiveSome(void* buffer, size_t size) {
  int error = 0;
  long n = orvexa::ReceiveSome(socket_, buffer, size, &error);
  // Inside a stream every receive failure ends the connection the same way.
  if (n <= 0) ThrowTransportError(0);
  return static_cast<size_t>(n);
}

void SocketConnection::SendAll(const void* data, size_t size) {
  orvexa::SendAll(socket_, data, size);
}

}  // namespace orvexa
