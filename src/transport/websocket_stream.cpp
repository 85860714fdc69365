#include "transport/websocket_stream.h"

#include <algorithm>
#include <cstring>

#include "transport/connection_closed.h"
#include "transport/websocket_frame.h"
#include "transport/websocket_handshake.h"

namespace orvexa {

WebSocketStream::WebSocketStream(RawConnection& connection, uint8_t* buffer, size_t capacity,
                                 size_t alreadyRead)
    : raw_(connection, buffer, capacity, alreadyRead), connection_(connection) {}

void WebSocketStream::Handshake() {
  WebSocketHandshake handshake(raw_, connection_);
  handshake.Perform();
  realIp_ = handshake.realIp();
}

bool WebSocketStream::GetPeerAddress(uint8_t address[4]) {
  if (!realIp_ || !realIp_->IsV4()) return false;
  const HostAddress::V4Bytes v4 = realIp_->V4();
  std::memcpy(address, v4.data(), v4.size());
  return true;
}

void WebSocketStream::SkipPayload() {
  // Text frames carry nothing the protocol reads: their payload is consumed and dropped
  // so that it can never be taken for a frame header.
  uint32_t left = frameLength_;
  while (left > 0) {
    size_t chunk = std::min<size_t>(left, raw_.capacity());
    raw_.Require(chunk);
    raw_.Consume(chunk);
    left -= static_cast<uint32_t>(chunk);
  }
  frameLength_ = 0;
  payloadPos_ = 0;
  unmaskedEnd_ = 0;
}

void WebSocketStream::ReadFrameHeader() {
  const uint8_t* h = raw_.Require(2);
  bool fin = (h[0] & 0x80) != 0;
  bool rsv = (h[0] & 0x70) != 0;
  bool masked = (h[1] & 0x80) != 0;
  if (!fin || rsv || !masked) ThrowTransportError(0);
  uint8_t opcode = h[0] & 0x0F;
  uint32_t length = h[1] & 0x7F;
  if (length == 127) ThrowTransportError(0);
  raw_.Consume(2);
  if (length == 126) {
    const uint8_t* e = raw_.Require(2);
    length = static_cast<uint32_t>(e[0]) * 256 + e[1];
    raw_.Consume(2);
  }
  std::memcpy(maskKey_, raw_.Require(4), 4);
  raw_.Consume(4);
  payloadPos_ = 0;
  unmaskedEnd_ = 0;
  frameLength_ = length;

  switch (opcode) {
    case kOpBinary:
      return;  // an empty one leaves frameLength_ 0 and the caller reads on
    case kOpClose:
      ThrowTransportError(0);
    case kOpPing: {
      if (length == 0) {
        SendFrame(connection_, true, kOpPong, nullptr, 0);
        return;
      }
      const uint8_t* payload = Require(length);
      SendFrame(connection_, true, kOpPong, payload, length);
      Consume(length);
      return;
    }
    case kOpText:
      SkipPayload();
      return;
    default:
      ThrowTransportError(0);
  }
}

const uint8_t* WebSocketStream::Require(size_t n) {
  if (n == 0) return &empty_;
  while (frameLength_ == 0) ReadFrameHeader();
  if (payloadPos_ + n > frameLength_) ThrowTransportError(0);
  uint8_t* p = const_cast<uint8_t*>(raw_.Require(n));
  // p points at payload position payloadPos_; unmask what is new.
  uint32_t end = payloadPos_ + static_cast<uint32_t>(n);
  for (uint32_t k = std::max(unmaskedEnd_, payloadPos_); k < end; ++k)
    p[k - payloadPos_] ^= maskKey_[k % 4];
  if (end > unmaskedEnd_) unmaskedEnd_ = end;
  return p;
}

void WebSocketStream::Consume(size_t n) {
  if (n == 0) return;
  payloadPos_ += static_cast<uint32_t>(n);
  raw_.Consume(n);
  if (payloadPos_ >= frameLength_) {
    frameLength_ = 0;
    payloadPos_ = 0;
    unmaskedEnd_ = 0;
  }
}

}  // namespace orvexa
