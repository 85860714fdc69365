// ByteStream over the payload of a client's WebSocket frames: reads frame headers as
// they come, unmasks payload bytes in place (each byte once), answers pings, skips text
// frames and ends the connection on a Close frame or anything it does not accept
// (fragmented or unmasked frames, RSV bits, 64-bit lengths, a read crossing the end of a
// frame). Embeds the SocketStream of the raw bytes. One worker thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "transport/byte_stream.h"
#include "transport/host_address.h"
#include "transport/raw_connection.h"
#include "transport/socket_stream.h"

namespace orvexa {

class WebSocketStream : public ByteStream {
 public:
  // `buffer` already holds the `alreadyRead` first bytes of the upgrade request.
  WebSocketStream(RawConnection& connection, uint8_t* buffer, size_t capacity, size_t alreadyRead);

  // Runs the upgrade exchange (throws when it is refused).
  void Handshake();

  // The client's IPv4 address from a local proxy's "X-Real-IP" header; false without
  // one, and for an IPv6 client, which four bytes cannot name (see RealIp).
  bool GetPeerAddress(uint8_t address[4]) override;
  // The address of the "X-Real-IP" header, IPv4 or IPv6; none without a valid one.
  const std::optional<HostAddress>& RealIp() const { return realIp_; }
  const uint8_t* Require(size_t n) override;
  void Consume(size_t n) override;

 private:
  void ReadFrameHeader();
  void SkipPayload();

  SocketStream raw_;
  RawConnection& connection_;
  uint32_t payloadPos_ = 0;
  uint32_t unmaskedEnd_ = 0;
  uint32_t frameLength_ = 0;
  uint8_t maskKey_[4] = {0, 0, 0, 0};
  uint8_t empty_ = 0;
  std::optional<HostAddress> realIp_;
};

}  // namespace orvexa
