// Fuzzes the WebSocket upgrade and the frame reader over an in-memory connection. The
// first input byte picks how the bytes arrive (receive size) and whether a valid upgrade
// request is put in front, so that the frame reader is reached without the fuzzer having
// to find a handshake first. Any input must end in a clean refusal (a thrown integer),
// never a crash or a read outside the buffer.
#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/wire_reader.h"
#include "transport/connection_closed.h"
#include "transport/memory_connection.h"
#include "transport/websocket_stream.h"

namespace {

const char kUpgrade[] =
    "GET / HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  uint8_t control = data[0];
  std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  if (control & 0x80) input = kUpgrade + input;
  size_t chunk = (control & 0x0F) + 1;
  if (control & 0x40) chunk = 1 << 20;
  if (input.size() < 2) return 0;

  orvexa::MemoryConnection connection(input.substr(2), chunk);
  static uint8_t buffer[25000];
  buffer[0] = static_cast<uint8_t>(input[0]);
  buffer[1] = static_cast<uint8_t>(input[1]);
  orvexa::WebSocketStream stream(connection, buffer, sizeof buffer, 2);
  try {
    stream.Handshake();
    uint8_t address[4];
    stream.GetPeerAddress(address);
    // Read protocol items of varying sizes until the input ends.
    for (int i = 0;; ++i) {
      switch (i % 4) {
        case 0:
          orvexa::ReadU8(stream);
          break;
        case 1:
          orvexa::ReadU16(stream);
          break;
        case 2:
          orvexa::ReadU32(stream);
          break;
        case 3:
          orvexa::ReadString(stream);
          break;
      }
    }
  } catch (const orvexa::ConnectionClosed&) {
  }
  return 0;
}
