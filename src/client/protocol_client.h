// A small client of the Orvexa request protocol over plain TCP or WebSocket: connects,
// runs the upgrade and Hello, builds requests from typed items and reads typed replies.
// It also exposes the raw level (bytes, HTTP answers, single frames) so the integration
// tests can send hostile input. Used by the tests, the benchmark and command-line tools.
// One client object belongs to one thread. Failures throw ClientError.
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/tcp_socket.h"
#include "protocol_api/request_catalog.h"

namespace orvexa::client {

struct ClientError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

enum class Transport { kTcp, kWebSocket };

struct ChannelInfo {
  uint8_t flags = 0;  // bit 0 readable, bit 1 writable
  std::string id;
  std::string description;
};

struct Frame {
  bool fin = false;
  uint8_t opcode = 0;
  std::string payload;
};

using Address = std::array<uint8_t, 4>;

// Builds one client frame: FIN and masking as asked, 7-, 16- or (forced) 64-bit length.
std::string EncodeClientFrame(uint8_t opcode, std::string_view payload, bool fin = true,
                              bool masked = true, bool longLength = false,
                              uint32_t maskKey = 0x37fa213d);

class ProtocolClient {
 public:
  ProtocolClient() = default;
  ~ProtocolClient();
  ProtocolClient(const ProtocolClient&) = delete;
  ProtocolClient& operator=(const ProtocolClient&) = delete;

  // Connects; on WebSocket also runs the upgrade (extra header lines may be added, for
  // example "X-Real-IP: 10.1.2.3"). Throws when the server does not answer 101.
  void Connect(const std::string& host, int port, Transport transport,
               const std::vector<std::string>& extraHeaders = {},
               const std::string& localAddress = "");
  // Only the TCP connection, for raw tests (from `localAddress` when given).
  void ConnectRaw(const std::string& host, int port, const std::string& localAddress = "");
  // Takes over a stream socket that is already connected (and, for kWebSocket, past the
  // upgrade); the client closes it. For the fuzz target, which feeds replies from memory.
  void Attach(SocketHandle connected, Transport transport);
  // The usual upgrade request with `extraHeaders` (and no defaults when `replace`).
  static std::string UpgradeRequest(const std::vector<std::string>& extraHeaders,
                                    bool replace = false);
  // Reads an HTTP answer up to its empty line; returns the status code and the text.
  int ReadHttpAnswer(std::string* text = nullptr);

  // Hello: version, optional forwarded address (kind 2), kind, credential; the answer.
  uint8_t Hello(uint8_t kind = 1, const Address* forwarded = nullptr,
                uint16_t version = kProtocolVersion, std::string_view credential = "");

  // Requests of the protocol.
  std::vector<ChannelInfo> ListChannels();
  // code: FindReadableChannel, FindWritableChannel or FindChannel (raw, for hostile tests).
  uint16_t FindChannel(uint8_t code, std::string_view id);
  std::pair<float, uint32_t> ReadValue(uint16_t channel);
  void WriteValue(uint16_t channel, float value);
  uint32_t WriteValueTimed(uint16_t channel, float value);
  std::pair<int32_t, uint32_t> ControlStatus();
  void BatchReplies(uint8_t count);
  std::vector<Address> ListControllers();

  // Request building: items are collected and Send() puts them on the wire (one binary
  // frame on WebSocket).
  ProtocolClient& U8(uint8_t v);
  ProtocolClient& Code(RequestCode code) { return U8(static_cast<uint8_t>(code)); }
  ProtocolClient& U16(uint16_t v);
  ProtocolClient& U32(uint32_t v);
  ProtocolClient& F32(float v);
  ProtocolClient& Str(std::string_view text);
  void Send();
  void SendRaw(std::string_view bytes);

  // Reply reading (from the byte stream, or from the payload of data frames).
  uint8_t ReadU8();
  uint16_t ReadU16();
  uint32_t ReadU32();
  float ReadF32();
  std::string ReadString();
  std::string ReadBytes(size_t n);

  // WebSocket: the next frame as sent by the server.
  Frame ReceiveFrame();
  // The next whole data message (fragments joined); pings are answered.
  std::string ReceiveMessage();
  // True when the server closes the connection within the time-out (a Close frame and
  // anything still unread are skipped).
  bool WaitClosed(int timeoutMs = 10000);
  // Like WaitClosed, and hands out every byte that arrived before the end (raw).
  bool ReadUntilClosed(std::string* bytes, int timeoutMs = 10000);
  // True when nothing arrives within `timeoutMs`.
  bool Quiet(int timeoutMs);

  void Close();
  void set_timeout_ms(int ms) { timeoutMs_ = ms; }
  bool websocket() const { return transport_ == Transport::kWebSocket; }
  SocketHandle socket() const { return socket_; }

 private:
  void ReceiveInto(std::string& target, size_t atLeast);
  void Need(size_t n);
  void FillFromFrames(size_t n);

  SocketHandle socket_ = kNoSocket;
  Transport transport_ = Transport::kTcp;
  int timeoutMs_ = 10000;
  std::string request_;
  std::string raw_;    // received bytes not yet taken
  std::string reply_;  // reply bytes (payload on WebSocket) not yet read
};

}  // namespace orvexa::client
