#include "protocol/wire_reader.h"

#include <bit>
#include <cstring>

#include "transport/connection_closed.h"

namespace orvexa {

uint8_t ReadU8(ByteStream& in) {
  uint8_t v = *in.Require(1);
  in.Consume(1);
  return v;
}

uint16_t ReadU16(ByteStream& in) {
  const uint8_t* p = in.Require(2);
  uint16_t v = static_cast<uint16_t>(p[0] << 8 | p[1]);
  in.Consume(2);
  return v;
}

uint32_t ReadU32(ByteStream& in) {
  const uint8_t* p = in.Require(4);
  uint32_t v = static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
               static_cast<uint32_t>(p[2]) << 8 | p[3];
  in.Consume(4);
  return v;
}

float ReadF32(ByteStream& in) {
  return std::bit_cast<float>(ReadU32(in));
}

std::string ReadString(ByteStream& in) {
  uint16_t length = ReadU16(in);
  if (length > kMaxStringLength) ThrowProtocolError(0);
  const uint8_t* p = in.Require(length);
  // The value is the text up to the first zero byte.
  size_t used = length;
  if (const void* zero = std::memchr(p, 0, length)) used = static_cast<const uint8_t*>(zero) - p;
  std::string text(reinterpret_cast<const char*>(p), used);
  in.Consume(length);
  return text;
}

}  // namespace orvexa
