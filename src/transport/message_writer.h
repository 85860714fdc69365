// The output side of a connection: replies are built in a fixed 25000-byte buffer and
// sent on a final Flush, as plain bytes or (once the WebSocket handshake succeeded) as
// one binary WebSocket message. A reply larger than the buffer goes out in pieces: one
// fragmented message on WebSocket (binary frame without FIN, continuations, a final
// continuation). Owned and used by one worker thread; failures throw ConnectionClosed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "transport/raw_connection.h"

namespace orvexa {

class MessageWriter {
 public:
  static constexpr size_t kCapacity = 25000;

  explicit MessageWriter(RawConnection& connection, size_t capacity = kCapacity);

  // Room for k more bytes: a full buffer is sent as a non-final piece first; k larger
  // than the whole buffer throws. Returns where the k bytes go; Advance(k) keeps them.
  uint8_t* Reserve(size_t k);
  void Advance(size_t k) {
    writePos_ += k;
    remaining_ -= k;
  }
  void Put(const void* data, size_t k);
  // Any number of bytes as part of the reply: what fits tops up the buffer. On plain TCP
  // the rest of a large block (a history reply of up to a megabyte) goes out straight
  // from `data` as one further piece; on WebSocket it goes out in buffer-sized frames.
  void PutBulk(const void* data, size_t k);

  // Sends what is buffered as a further (final = false) or the last piece of the reply.
  // A framed final flush sends a frame even when nothing is buffered.
  void Flush(bool final);
  // Sends (sendPending) or drops what is buffered; a framed writer then sends a Close
  // frame without payload.
  void Close(bool sendPending);

  void set_framed(bool framed) { framed_ = framed; }
  bool framed() const { return framed_; }
  size_t buffered() const { return capacity_ - remaining_; }

 private:
  RawConnection& connection_;
  size_t capacity_;
  // The frame header is written just in front of the payload so that one send carries
  // the whole frame.
  std::unique_ptr<uint8_t[]> storage_;
  uint8_t* bufferStart_;
  uint8_t* writePos_;
  size_t remaining_;
  bool framed_ = false;
  bool midMessage_ = false;
};

}  // namespace orvexa
