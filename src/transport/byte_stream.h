// The input side of a connection as seen by the request protocol: a byte stream that
// hands out at least n contiguous bytes (Require) and drops them once decoded (Consume).
// SocketStream reads plain TCP, WebSocketStream the payload of WebSocket frames.
// A stream belongs to one worker thread; failures throw ConnectionClosed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvexa {

class ByteStream {
 public:
  virtual ~ByteStream() = default;
  // The address the stream attributes the data to (a forwarding proxy's header); false
  // and `address` untouched when the stream knows nothing better than the socket.
  virtual bool GetPeerAddress(uint8_t address[4]) = 0;
  // At least n readable bytes; the same bytes again until they are consumed.
  virtual const uint8_t* Require(size_t n) = 0;
  // Drops the first n bytes (no more than the last Require guaranteed).
  virtual void Consume(size_t n) = 0;
};

}  // namespace orvexa
