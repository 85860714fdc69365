// The byte pipe under a connection's streams and writer: receive what has arrived, send
// everything. SocketConnection is the real one; MemoryConnection feeds tests and fuzz
// targets from memory. One connection belongs to one worker thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvexa {

class RawConnection {
 public:
  virtual ~RawConnection() = default;
  // Receives between 1 and `size` bytes; throws ConnectionClosed on failure or when the
  // peer has closed.
  virtual size_t ReceiveSome(void* buffer, size_t size) = 0;
  // Sends exactly `size` bytes (nothing for 0); throws ConnectionClosed on failure.
  virtual void SendAll(const void* data, size_t size) = 0;
  // The IPv4 address of the peer in network order; false when there is none.
  virtual bool PeerAddress(uint8_t address[4]) {
    (void)address;
    return false;
  }
};

}  // namespace orvexa
