// The 5-byte frame the board and the plug-in exchange in both directions:
//   0xFF 0xFF <channel 0x00..0xFE> <value low> <value high>
// 0xFF as channel and 0xFFFF as value never occur, which is what lets a receiver that
// lost step find the next frame start. Shared by the plug-in's reader thread, the board
// simulator and the tests; plain functions, no state, callable from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvexa::pinvane {

constexpr size_t kFrameSize = 5;
constexpr uint8_t kStartMark = 0xFF;
constexpr uint16_t kMaxFrameValue = 0xFFFE;  // 0xFFFF would read as a start mark

struct Frame {
  uint8_t channel = 0;
  uint16_t value = 0;
};

// Writes the frame for (channel, value) into out[0..4]. A value of 0xFFFF is sent as
// 0xFFFE and a channel of 0xFF as 0xFE, so the frame can never be mistaken for a start.
inline void EncodeFrame(uint8_t channel, uint16_t value, uint8_t out[kFrameSize]) {
  if (value > kMaxFrameValue) value = kMaxFrameValue;
  if (channel == kStartMark) channel = kStartMark - 1;
  out[0] = kStartMark;
  out[1] = kStartMark;
  out[2] = channel;
  out[3] = static_cast<uint8_t>(value & 0xFF);
  out[4] = static_cast<uint8_t>(value >> 8);
}

// True when bytes[0..4] form a frame start that a receiver accepts.
inline bool IsFrameAt(const uint8_t* bytes) {
  return bytes[0] == kStartMark && bytes[1] == kStartMark && bytes[2] != kStartMark &&
         (bytes[3] | (bytes[4] << 8)) != 0xFFFF;
}

// The value an output channel stores for a write of `value`: rounded half up (value + 0.5
// truncated toward zero) and clamped to 0..65534. Returns false, storing nothing, for a
// value that is not a number: there is no sensible output level to drive for it.
bool ToOutputValue(float value, uint16_t* out);

}  // namespace orvexa::pinvane
