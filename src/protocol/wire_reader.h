// Typed readers of the request protocol over a connection's ByteStream: u8, u16, u32,
// f32 (big-endian) and strings (u16 length, at most 253 bytes, cut at the first zero
// byte). Used by every request handler on its worker thread; a malformed item throws a
// ConnectionClosed (ThrowProtocolError), and so does a transport failure.
#pragma once

#include <cstdint>
#include <string>

#include "transport/byte_stream.h"

namespace orvexa {

constexpr uint16_t kMaxStringLength = 253;

uint8_t ReadU8(ByteStream& in);
uint16_t ReadU16(ByteStream& in);
uint32_t ReadU32(ByteStream& in);
float ReadF32(ByteStream& in);
std::string ReadString(ByteStream& in);

}  // namespace orvexa
