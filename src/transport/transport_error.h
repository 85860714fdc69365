// How a connection ends: a plain integer is thrown (the socket error code, or 0 when
// the peer closed or a limit or protocol rule was broken). Every worker catches every
// exception alike and runs its close path, so the value is never looked at; it only
// helps when debugging. Used by the streams, the writer and the request layer.
#pragma once

namespace orvexa {

using TransportError = int;
using ProtocolError = int;

[[noreturn]] inline void ThrowTransportError(TransportError code = 0) {
  throw code;
}
[[noreturn]] inline void ThrowProtocolError(ProtocolError code = 0) {
  throw code;
}

}  // namespace orvexa
