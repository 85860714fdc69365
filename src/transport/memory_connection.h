// RawConnection over memory: hands out a fixed input (in pieces of at most `chunk`
// bytes, to exercise reads split across receives) and collects everything sent. The
// end of the input throws like a closed peer. For unit tests and fuzz targets.
#pragma once

#include <cstdint>
#include <string>

#include "transport/raw_connection.h"

namespace orvexa {

class MemoryConnection : public RawConnection {
 public:
  explicit MemoryConnection(std::string input, size_t chunk = 1 << 20)
      : input_(std::move(input)), chunk_(chunk ? chunk : 1) {}
  size_t ReceiveSome(void* buffer, size_t size) override;
  void SendAll(const void* data, size_t size) override;

  const std::string& sent() const { return sent_; }
  size_t unread() const { return input_.size() - position_; }
  // A limit on what may be sent before sending fails (0: none), to test send errors.
  void set_send_limit(size_t limit) { sendLimit_ = limit; }

 private:
  std::string input_;
  size_t position_ = 0;
  size_t chunk_;
  std::string sent_;
  size_t sendLimit_ = 0;
};

}  // namespace orvexa
