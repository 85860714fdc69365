// ConnectionClosed: how a connection ends. The streams, the writer and the request layer
// throw it (through ThrowTransportError for a failed or closed socket and a broken
// transport limit, ThrowProtocolError for a broken protocol rule); the connection's
// worker catches it by type and runs its close path, so one client's failure never
// touches another. `code` is the socket error code, or 0 when the peer closed or a rule
// was broken; nothing depends on it, it only helps when debugging. Worker threads only.
// It is the server's only exception: every other failure is returned (see the README's
// error rules).
#pragma once

#include <exception>

namespace orvexa {

struct ConnectionClosed : std::exception {
  explicit ConnectionClosed(int errorCode = 0) : code(errorCode) {}
  const char* what() const noexcept override { return "connection closed"; }

  int code = 0;
};

[[noreturn]] inline void ThrowTransportError(int code = 0) {
  throw ConnectionClosed(code);
}
[[noreturn]] inline void ThrowProtocolError(int code = 0) {
  throw ConnectionClosed(code);
}

}  // namespace orvexa
