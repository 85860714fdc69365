#include "protocol/wire_writer.h"

#include <bit>

#include "transport/connection_closed.h"

namespace orvexa {

void WriteU8(MessageWriter& out, uint8_t value) {
  *out.Reserve(1) = value;
  out.Advance(1);
}

void WriteU16(MessageWriter& out, uint16_t value) {
  uint8_t* p = out.Reserve(2);
  p[0] = static_cast<uint8_t>(value >> 8);
  p[1] = static_cast<uint8_t>(value);
  out.Advance(2);
}

void WriteU32(MessageWriter& out, uint32_t value) {
  uint8_t* p = out.Reserve(4);
  p[0] = static_cast<uint8_t>(value >> 24);
  p[1] = static_cast<uint8_t>(value >> 16);
  p[2] = static_cast<uint8_t>(value >> 8);
  p[3] = static_cast<uint8_t>(value);
  out.Advance(4);
}

void WriteF32(MessageWriter& out, float value) {
  WriteU32(out, std::bit_cast<uint32_t>(value));
}

void WriteString(MessageWriter& out, std::string_view text) {
  if (text.size() > 0xFFFF) ThrowTransportError(0);
  WriteU16(out, static_cast<uint16_t>(text.size()));
  out.Put(text.data(), text.size());
}

}  // namespace orvexa
