#include "transport/socket_stream.h"

#include <cstring>

#include "transport/connection_closed.h"

namespace orvexa {

SocketStream::SocketStream(RawConnection& connection, uint8_t* buffer, size_t capacity,
                           size_t alreadyRead)
    : connection_(connection),
      bufferStart_(buffer),
      capacity_(capacity),
      readPos_(buffer),
      available_(alreadyRead),
      freeSpace_(capacity - alreadyRead) {}

bool SocketStream::GetPeerAddress(uint8_t address[4]) {
  return connection_.PeerAddress(address);
}

const uint8_t* SocketStream::Require(size_t n) {
  if (available_ >= n) return readPos_;
  if (n > capacity_) ThrowTransportError(0);
  if (freeSpace_ < n - available_) {
    std::memmove(bufferStart_, readPos_, available_);
    readPos_ = bufferStart_;
    freeSpace_ = capacity_ - available_;
  }
  while (available_ < n) {
    if (freeSpace_ == 0) ThrowTransportError(0);
    size_t got = connection_.ReceiveSome(readPos_ + available_, freeSpace_);
    available_ += got;
    freeSpace_ -= got;
  }
  return readPos_;
}

void SocketStream::Consume(size_t n) {
  if (n > available_) n = available_;  // a caller bug must not walk off the buffer
  readPos_ += n;
  available_ -= n;
}

}  // namespace orvexa
