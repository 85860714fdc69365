// The HTTP upgrade of a WebSocket connection: reads one GET request from the raw
// stream, checks the few headers it recognises and answers 101 (with the accept value
// computed by Crypto++), 400 or 426. Also reads a reverse proxy's "X-Real-IP" header.
// Everything else throws ConnectionClosed without an answer. Runs on the worker thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "transport/host_address.h"
#include "transport/raw_connection.h"
#include "transport/socket_stream.h"

namespace orvexa {

class WebSocketHandshake {
 public:
  WebSocketHandshake(SocketStream& raw, RawConnection& connection)
      : raw_(raw), connection_(connection) {}

  // Returns after the 101 answer was sent; throws otherwise.
  void Perform();

  // The address of a valid "X-Real-IP" header (IPv4 or IPv6, never 0.0.0.0 or "::").
  const std::optional<HostAddress>& realIp() const { return realIp_; }

  // Base64 of SHA-1(key + the protocol's fixed GUID), padded to a multiple of 4.
  static std::string AcceptValue(const std::string& key);

 private:
  uint8_t PeekByte();
  uint8_t NextByte();
  void ReadLineEnd();
  void ReadRequestLine();
  // false at the empty line that ends the header block
  bool ReadHeader(std::string& name, std::string& value);
  void ApplyHeader(const std::string& name, const std::string& value);
  void Answer(const std::string& text);

  SocketStream& raw_;
  RawConnection& connection_;
  bool upgrade_ = false;
  bool connectionUpgrade_ = false;
  bool version_ = false;
  std::string key_;
  std::optional<HostAddress> realIp_;
};

}  // namespace orvexa
