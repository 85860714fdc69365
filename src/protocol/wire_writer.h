// Typed writers of the request protocol into a connection's MessageWriter: u8, u16,
// u32, f32 (big-endian) and strings (u16 length, then the bytes). Used by every request
// handler on its worker thread; a full buffer is sent as a piece of the reply.
#pragma once

#include <cstdint>
#include <string_view>

#include "transport/message_writer.h"

namespace orvexa {

void WriteU8(MessageWriter& out, uint8_t value);
void WriteU16(MessageWriter& out, uint16_t value);
void WriteU32(MessageWriter& out, uint32_t value);
void WriteF32(MessageWriter& out, float value);
// Reserves the 2 length bytes and the text separately, so a string never needs more
// than the buffer at once; a text over 65535 bytes cannot be sent and throws.
void WriteString(MessageWriter& out, std::string_view text);

}  // namespace orvexa
