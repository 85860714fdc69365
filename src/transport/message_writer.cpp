#include "transport/message_writer.h"

#include <algorithm>
#include <cstring>

#include "transport/connection_closed.h"
#include "transport/websocket_frame.h"

namespace orvexa {

MessageWriter::MessageWriter(RawConnection& connection, size_t capacity)
    : connection_(connection),
      capacity_(capacity),
      storage_(new uint8_t[kMaxFrameHeader + capacity]),
      bufferStart_(storage_.get() + kMaxFrameHeader),
      writePos_(bufferStart_),
      remaining_(capacity) {}

uint8_t* MessageWriter::Reserve(size_t k) {
  if (remaining_ < k) Flush(false);
  if (remaining_ < k) ThrowTransportError(0);
  return writePos_;
}

void MessageWriter::Put(const void* data, size_t k) {
  uint8_t* p = Reserve(k);
  if (k) std::memcpy(p, data, k);
  Advance(k);
}

void MessageWriter::PutBulk(const void* data, size_t k) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (framed_) {
    // On WebSocket every piece is one frame of at most a buffer, which the 16-bit frame
    // length always holds; a longer frame could not be written at all.
    while (k > 0) {
      if (remaining_ == 0) Flush(false);
      const size_t n = std::min(k, remaining_);
      Put(bytes, n);
      bytes += n;
      k -= n;
    }
    return;
  }
  const size_t head = std::min(k, remaining_);
  Put(bytes, head);
  if (head == k) return;
  Flush(false);
  bytes += head;
  k -= head;
  if (k <= remaining_) {
    Put(bytes, k);
    return;
  }
  connection_.SendAll(bytes, k);
}

void MessageWriter::Flush(bool final) {
  size_t n = capacity_ - remaining_;
  // Empty the buffer first: whatever happens to the send, the piece is gone.
  writePos_ = bufferStart_;
  remaining_ = capacity_;
  if (!framed_) {
    connection_.SendAll(bufferStart_, n);
    return;
  }
  uint8_t header[kMaxFrameHeader];
  uint8_t opcode = midMessage_ ? kOpContinuation : kOpBinary;
  size_t headerSize = EncodeFrameHeader(header, final, opcode, n);
  std::memcpy(bufferStart_ - headerSize, header, headerSize);
  midMessage_ = !final;
  connection_.SendAll(bufferStart_ - headerSize, headerSize + n);
}

void MessageWriter::Close(bool sendPending) {
  if (sendPending) {
    Flush(true);
  } else {
    writePos_ = bufferStart_;
    remaining_ = capacity_;
  }
  if (framed_) SendFrame(connection_, true, kOpClose, nullptr, 0);
}

}  // namespace orvexa
