#include "protocol/history_wire.h"

#include <bit>
#include <cstring>

namespace orvexa {

void EncodeHistory(const LogRecord* first, uint32_t count, std::vector<uint8_t>* out) {
  const size_t at = out->size();
  out->resize(at + size_t{count} * kHistoryWireSize);
  uint8_t* p = out->data() + at;
  for (uint32_t k = 0; k < count; ++k, p += kHistoryWireSize) {
    // Exactly the stored value / 256.0 rounded to a float: scaling by a power of two
    // commutes with the rounding.
    const float value = static_cast<float>(first[k].value) * (1.0f / 256.0f);
    const uint32_t words[2] = {__builtin_bswap32(first[k].time),
                               __builtin_bswap32(std::bit_cast<uint32_t>(value))};
    std::memcpy(p, words, sizeof words);
  }
}

}  // namespace orvexa
