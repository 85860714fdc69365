#include "transport/memory_connection.h"

#include <algorithm>
#include <cstring>

#include "transport/connection_closed.h"

namespace orvexa {

size_t MemoryConnection::ReceiveSome(void* buffer, size_t size) {
  if (position_ >= input_.size() || size == 0) ThrowTransportError(0);
  size_t n = std::min({size, chunk_, input_.size() - position_});
  std::memcpy(buffer, input_.data() + position_, n);
  position_ += n;
  return n;
}

void MemoryConnection::SendAll(const void* data, size_t size) {
  if (sendLimit_ && sent_.size() + size > sendLimit_) ThrowTransportError(32);
  sent_.append(static_cast<const char*>(data), size);
}

}  // namespace orvexa
