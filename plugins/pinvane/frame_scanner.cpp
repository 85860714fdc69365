#include "frame_scanner.h"

#include <cmath>
#include <cstring>

namespace orvexa::pinvane {

bool ToOutputValue(float value, uint16_t* out) {
  if (std::isnan(value)) return false;
  // In double, so that 65534.5f and huge values round and clamp without overflow.
  double rounded = std::trunc(static_cast<double>(value) + 0.5);
  if (rounded < 0) rounded = 0;
  if (rounded > kMaxFrameValue) rounded = kMaxFrameValue;
  *out = static_cast<uint16_t>(rounded);
  return true;
}

void FrameScanner::Commit(size_t count) {
  // A device that claims more than was asked for must not push the fill past the end.
  fill_ += count <= FreeSpace() ? count : FreeSpace();
}

size_t FrameScanner::Append(const uint8_t* data, size_t size) {
  size_t taken = size <= FreeSpace() ? size : FreeSpace();
  if (taken != 0) std::memcpy(Space(), data, taken);
  fill_ += taken;
  return taken;
}

bool FrameScanner::Next(Frame* frame) {
  size_t i = 0;
  for (; i + kFrameSize <= fill_; ++i) {
    if (IsFrameAt(buffer_ + i)) {
      frame->channel = buffer_[i + 2];
      frame->value = static_cast<uint16_t>(buffer_[i + 3] | (buffer_[i + 4] << 8));
      DropFront(i + kFrameSize);
      return true;
    }
  }
  DropFront(i);
  return false;
}

void FrameScanner::DropFront(size_t count) {
  if (count == 0) return;
  std::memmove(buffer_, buffer_ + count, fill_ - count);
  fill_ -= count;
}

}  // namespace orvexa::pinvane
