#include "transport/websocket_frame.h"

#include <cstring>
#include <vector>

#include "transport/connection_closed.h"

namespace orvexa {

size_t EncodeFrameHeader(uint8_t* header, bool final, uint8_t opcode, size_t length) {
  if (length >= 65536) ThrowTransportError(0);
  header[0] = static_cast<uint8_t>(opcode | (final ? 0x80 : 0));
  if (length < 126) {
    header[1] = static_cast<uint8_t>(length);
    return 2;
  }
  header[1] = 126;
  header[2] = static_cast<uint8_t>(length >> 8);
  header[3] = static_cast<uint8_t>(length);
  return 4;
}

void SendFrame(RawConnection& connection, bool final, uint8_t opcode, const void* data,
               size_t length) {
  // One send per frame: a header sent apart would wait for the peer's delayed
  // acknowledgement of the first segment.
  std::vector<uint8_t> frame(kMaxFrameHeader + length);
  size_t headerSize = EncodeFrameHeader(frame.data(), final, opcode, length);
  if (length) std::memcpy(frame.data() + headerSize, data, length);
  connection.SendAll(frame.data(), headerSize + length);
}

}  // namespace orvexa
