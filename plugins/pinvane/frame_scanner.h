// Finds the board's frames in the bytes received from the serial line, resynchronising
// after lost or corrupted bytes. Pure: it owns a 1000-byte receive buffer and never
// touches a device, so the fuzz target and the tests drive it directly. The reader
// thread (FrameReader) fills it; one thread at a time, no lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame_format.h"

namespace orvexa::pinvane {

class FrameScanner {
 public:
  static constexpr size_t kCapacity = 1000;

  // Where new bytes go and how many fit; Commit(n) adds n bytes written there.
  uint8_t* Space() { return buffer_ + fill_; }
  size_t FreeSpace() const { return kCapacity - fill_; }
  void Commit(size_t count);
  // Copies up to FreeSpace() bytes in; returns how many were taken.
  size_t Append(const uint8_t* data, size_t size);

  // Returns true with the first complete frame in the buffer and drops it together with
  // the bytes before it. Otherwise keeps at most the last 4 bytes (the start of a frame
  // still arriving) and returns false.
  bool Next(Frame* frame);

  size_t Fill() const { return fill_; }
  void Clear() { fill_ = 0; }

 private:
  void DropFront(size_t count);

  uint8_t buffer_[kCapacity];
  size_t fill_ = 0;
};

}  // namespace orvexa::pinvane
