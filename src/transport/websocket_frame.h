// Server-side WebSocket frames: opcodes and SendFrame, which writes one unmasked frame
// (header with a 7-bit or 16-bit length, then the payload). Used by the message writer
// for replies and by WebSocketStream for pongs. Stateless.
#pragma once

#include <cstddef>
#include <cstdint>

#include "transport/raw_connection.h"

namespace orvexa {

enum WebSocketOpcode : uint8_t {
  kOpContinuation = 0,
  kOpText = 1,
  kOpBinary = 2,
  kOpClose = 8,
  kOpPing = 9,
  kOpPong = 10,
};

constexpr size_t kMaxFrameHeader = 4;

// Writes the frame header for `length` payload bytes into `header` (kMaxFrameHeader
// bytes); returns its size. A length of 65536 or more throws ConnectionClosed.
size_t EncodeFrameHeader(uint8_t* header, bool final, uint8_t opcode, size_t length);

// One frame, header and payload sent together.
void SendFrame(RawConnection& connection, bool final, uint8_t opcode, const void* data,
               size_t length);

}  // namespace orvexa
