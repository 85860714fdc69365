#include "client/protocol_client.h"

#include <bit>
#include <cstring>

namespace orvexa::client {
namespace {

// The largest frame a server may send: replies are cut into 25000-byte frames, so this is
// generous.
constexpr size_t kMaxFrameLength = size_t{1} << 30;

void PutU16(std::string& s, uint16_t v) {
  s += static_cast<char>(v >> 8);
  s += static_cast<char>(v);
}

void PutU32(std::string& s, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) s += static_cast<char>(v >> shift);
}

}  // namespace

std::string EncodeClientFrame(uint8_t opcode, std::string_view payload, bool fin, bool masked,
                              bool longLength, uint32_t maskKey) {
  std::string frame;
  frame += static_cast<char>(opcode | (fin ? 0x80 : 0));
  uint8_t maskBit = masked ? 0x80 : 0;
  if (longLength) {
    frame += static_cast<char>(maskBit | 127);
    PutU32(frame, 0);
    PutU32(frame, static_cast<uint32_t>(payload.size()));
  } else if (payload.size() < 126) {
    frame += static_cast<char>(maskBit | payload.size());
  } else {
    frame += static_cast<char>(maskBit | 126);
    PutU16(frame, static_cast<uint16_t>(payload.size()));
  }
  uint8_t key[4] = {static_cast<uint8_t>(maskKey >> 24), static_cast<uint8_t>(maskKey >> 16),
                    static_cast<uint8_t>(maskKey >> 8), static_cast<uint8_t>(maskKey)};
  if (masked) frame.append(reinterpret_cast<const char*>(key), 4);
  size_t start = frame.size();
  frame.append(payload);
  if (masked)
    for (size_t i = 0; i < payload.size(); ++i) frame[start + i] ^= static_cast<char>(key[i % 4]);
  return frame;
}

ProtocolClient::~ProtocolClient() {
  Close();
}

void ProtocolClient::Close() {
  CloseSocketDescriptor(socket_);
  socket_ = kNoSocket;
}

void ProtocolClient::ConnectRaw(const std::string& host, int port,
                                const std::string& localAddress) {
  Close();
  std::string error;
  socket_ = ConnectTcp(host, port, &error, localAddress);
  if (socket_ == kNoSocket) throw ClientError("connect: " + error);
  SetNoDelay(socket_);
  transport_ = Transport::kTcp;
  raw_.clear();
  reply_.clear();
}

void ProtocolClient::Attach(SocketHandle connected, Transport transport) {
  Close();
  socket_ = connected;
  transport_ = transport;
  raw_.clear();
  reply_.clear();
}

std::string ProtocolClient::UpgradeRequest(const std::vector<std::string>& extraHeaders,
                                           bool replace) {
  std::string text = "GET /orvexa HTTP/1.1\r\n";
  if (!replace)
    text +=
        "Host: localhost\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n";
  for (const auto& h : extraHeaders) text += h + "\r\n";
  return text + "\r\n";
}

void ProtocolClient::Connect(const std::string& host, int port, Transport transport,
                             const std::vector<std::string>& extraHeaders,
                             const std::string& localAddress) {
  ConnectRaw(host, port, localAddress);
  if (transport == Transport::kTcp) return;
  SendRaw(UpgradeRequest(extraHeaders));
  int status = ReadHttpAnswer();
  if (status != 101) throw ClientError("upgrade refused: " + std::to_string(status));
  transport_ = Transport::kWebSocket;
}

int ProtocolClient::ReadHttpAnswer(std::string* text) {
  size_t end;
  while ((end = raw_.find("\r\n\r\n")) == std::string::npos) ReceiveInto(raw_, raw_.size() + 1);
  std::string answer = raw_.substr(0, end + 4);
  raw_.erase(0, end + 4);
  if (text) *text = answer;
  if (answer.compare(0, 9, "HTTP/1.1 ") != 0) return -1;
  return std::atoi(answer.c_str() + 9);
}

void ProtocolClient::ReceiveInto(std::string& target, size_t atLeast) {
  char buffer[65536];
  while (target.size() < atLeast) {
    if (!WaitReadable(socket_, timeoutMs_)) throw ClientError("time-out waiting for the server");
    int error = 0;
    long n = ReceiveSome(socket_, buffer, sizeof buffer, &error);
    if (n <= 0) throw ClientError("connection closed by the server");
    target.append(buffer, static_cast<size_t>(n));
  }
}

Frame ProtocolClient::ReceiveFrame() {
  if (raw_.size() < 2) ReceiveInto(raw_, 2);
  auto byte = [&](size_t i) { return static_cast<uint8_t>(raw_[i]); };
  Frame frame;
  frame.fin = (byte(0) & 0x80) != 0;
  frame.opcode = byte(0) & 0x0F;
  size_t length = byte(1) & 0x7F;
  size_t header = 2;
  if (length == 126) {
    ReceiveInto(raw_, 4);
    length = static_cast<size_t>(byte(2)) << 8 | byte(3);
    header = 4;
  } else if (length == 127) {
    ReceiveInto(raw_, 10);
    length = 0;
    for (int i = 2; i < 10; ++i) length = length << 8 | byte(i);
    header = 10;
  }
  if (byte(1) & 0x80) throw ClientError("masked server frame");
  // No reply comes near this; a larger length is garbage (and header + length must not
  // wrap around).
  if (length > kMaxFrameLength) throw ClientError("frame length beyond any reply");
  ReceiveInto(raw_, header + length);
  frame.payload = raw_.substr(header, length);
  raw_.erase(0, header + length);
  return frame;
}

void ProtocolClient::FillFromFrames(size_t n) {
  while (reply_.size() < n) {
    Frame frame = ReceiveFrame();
    if (frame.opcode == 2 || frame.opcode == 0) {
      reply_ += frame.payload;
    } else if (frame.opcode == 9) {
      SendRaw(EncodeClientFrame(10, frame.payload));
    } else if (frame.opcode == 8) {
      throw ClientError("server sent a Close frame");
    }
  }
}

std::string ProtocolClient::ReceiveMessage() {
  std::string message;
  for (;;) {
    Frame frame = ReceiveFrame();
    if (frame.opcode == 8) throw ClientError("server sent a Close frame");
    if (frame.opcode == 9) {
      SendRaw(EncodeClientFrame(10, frame.payload));
      continue;
    }
    message += frame.payload;
    if (frame.fin) return message;
  }
}

void ProtocolClient::Need(size_t n) {
  if (reply_.size() >= n) return;
  if (websocket()) {
    FillFromFrames(n);
  } else {
    ReceiveInto(raw_, n - reply_.size());
    reply_ += raw_;
    raw_.clear();
  }
}

std::string ProtocolClient::ReadBytes(size_t n) {
  Need(n);
  std::string bytes = reply_.substr(0, n);
  reply_.erase(0, n);
  return bytes;
}

uint8_t ProtocolClient::ReadU8() {
  return static_cast<uint8_t>(ReadBytes(1)[0]);
}

uint16_t ProtocolClient::ReadU16() {
  std::string b = ReadBytes(2);
  return static_cast<uint16_t>(static_cast<uint8_t>(b[0]) << 8 | static_cast<uint8_t>(b[1]));
}

uint32_t ProtocolClient::ReadU32() {
  std::string b = ReadBytes(4);
  uint32_t v = 0;
  for (char c : b) v = v << 8 | static_cast<uint8_t>(c);
  return v;
}

float ProtocolClient::ReadF32() {
  return std::bit_cast<float>(ReadU32());
}

std::string ProtocolClient::ReadString() {
  return ReadBytes(ReadU16());
}

ProtocolClient& ProtocolClient::U8(uint8_t v) {
  request_ += static_cast<char>(v);
  return *this;
}

ProtocolClient& ProtocolClient::U16(uint16_t v) {
  PutU16(request_, v);
  return *this;
}

ProtocolClient& ProtocolClient::U32(uint32_t v) {
  PutU32(request_, v);
  return *this;
}

ProtocolClient& ProtocolClient::F32(float v) {
  return U32(std::bit_cast<uint32_t>(v));
}

ProtocolClient& ProtocolClient::Str(std::string_view text) {
  U16(static_cast<uint16_t>(text.size()));
  request_.append(text);
  return *this;
}

void ProtocolClient::Send() {
  std::string bytes = websocket() ? EncodeClientFrame(2, request_) : request_;
  request_.clear();
  SendRaw(bytes);
}

void ProtocolClient::SendRaw(std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    int error = 0;
    long n = SendSome(socket_, bytes.data() + done, bytes.size() - done, &error);
    if (n <= 0) throw ClientError("send failed");
    done += static_cast<size_t>(n);
  }
}

bool ProtocolClient::WaitClosed(int timeoutMs) {
  char buffer[4096];
  for (;;) {
    if (!WaitReadable(socket_, timeoutMs)) return false;
    int error = 0;
    long n = ReceiveSome(socket_, buffer, sizeof buffer, &error);
    if (n <= 0) return true;
  }
}

bool ProtocolClient::ReadUntilClosed(std::string* bytes, int timeoutMs) {
  *bytes = raw_;
  raw_.clear();
  char buffer[4096];
  for (;;) {
    if (!WaitReadable(socket_, timeoutMs)) return false;
    int error = 0;
    long n = ReceiveSome(socket_, buffer, sizeof buffer, &error);
    if (n <= 0) return true;
    bytes->append(buffer, static_cast<size_t>(n));
  }
}

bool ProtocolClient::Quiet(int timeoutMs) {
  if (!raw_.empty() || !reply_.empty()) return false;
  return !WaitReadable(socket_, timeoutMs);
}

uint8_t ProtocolClient::Hello(uint8_t kind, const Address* forwarded, uint16_t version,
                              std::string_view credential) {
  U16(version);
  if (forwarded) {
    U8(2);  // client kind 2: a forwarded address, then the real kind
    for (uint8_t b : *forwarded) U8(b);
  }
  U8(kind).Str(credential);
  Send();
  return ReadU8();
}

std::vector<ChannelInfo> ProtocolClient::ListChannels() {
  Code(RequestCode::kListChannels).Send();
  // The count comes from the wire: entries are added as they are read, so a wrong count
  // ends in a read error, not in a huge allocation.
  const uint32_t n = ReadU32();
  std::vector<ChannelInfo> channels;
  for (uint32_t i = 0; i < n; ++i) {
    ChannelInfo& c = channels.emplace_back();
    c.flags = ReadU8();
    c.id = ReadString();
    c.description = ReadString();
  }
  return channels;
}

uint16_t ProtocolClient::FindChannel(uint8_t code, std::string_view id) {
  U8(code).Str(id).Send();
  return ReadU16();
}

std::pair<float, uint32_t> ProtocolClient::ReadValue(uint16_t channel) {
  Code(RequestCode::kReadValue).U16(channel).Send();
  float value = ReadF32();
  return {value, ReadU32()};
}

void ProtocolClient::WriteValue(uint16_t channel, float value) {
  Code(RequestCode::kWriteValue).U16(channel).F32(value).Send();
  // WebSocket: the final flush of a reply-less request is an empty message.
  if (websocket()) ReceiveMessage();
}

uint32_t ProtocolClient::WriteValueTimed(uint16_t channel, float value) {
  Code(RequestCode::kWriteValueTimed).U16(channel).F32(value).Send();
  return ReadU32();
}

std::pair<int32_t, uint32_t> ProtocolClient::ControlStatus() {
  Code(RequestCode::kControlStatus).Send();
  int32_t state = static_cast<int32_t>(ReadU32());
  return {state, ReadU32()};
}

void ProtocolClient::BatchReplies(uint8_t count) {
  Code(RequestCode::kBatchReplies).U8(count).Send();
  if (count == 0 && websocket()) ReceiveMessage();
}

std::vector<Address> ProtocolClient::ListControllers() {
  Code(RequestCode::kListControllers).Send();
  const uint32_t n = ReadU32();
  std::vector<Address> addresses;
  for (uint32_t i = 0; i < n; ++i)
    for (auto& b : addresses.emplace_back()) b = ReadU8();
  return addresses;
}

}  // namespace orvexa::client
