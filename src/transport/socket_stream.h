// ByteStream over the raw bytes of a connection, parsed in place in a fixed receive
// buffer owned by the worker (25000 bytes). The buffer is compacted only when a read
// would not fit behind the unconsumed bytes. Also the raw layer under WebSocketStream.
// One worker thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "transport/byte_stream.h"
#include "transport/raw_connection.h"

namespace orvexa {

class SocketStream : public ByteStream {
 public:
  // `buffer` of `capacity` bytes already holds `alreadyRead` received bytes.
  SocketStream(RawConnection& connection, uint8_t* buffer, size_t capacity, size_t alreadyRead);

  bool GetPeerAddress(uint8_t address[4]) override;
  const uint8_t* Require(size_t n) override;
  void Consume(size_t n) override;

  size_t available() const { return available_; }
  size_t capacity() const { return capacity_; }

 private:
  RawConnection& connection_;
  uint8_t* bufferStart_;
  size_t capacity_;
  uint8_t* readPos_;
  size_t available_;
  size_t freeSpace_;
};

}  // namespace orvexa
