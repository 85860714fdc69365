// The Pinvane frame scanner on hostile serial input. The input's first byte picks the
// sizes of the reads the bytes arrive in; the frames found must be exactly those found
// when the whole stream is scanned at once, and none may carry a start mark as its
// channel or 0xFFFF as its value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "frame_scanner.h"

namespace {

using orvexa::pinvane::Frame;
using orvexa::pinvane::FrameScanner;

void Check(bool condition) {
  if (!condition) std::abort();
}

std::vector<Frame> ScanInReads(const uint8_t* data, size_t size, size_t readSize) {
  FrameScanner scanner;
  std::vector<Frame> frames;
  size_t offset = 0;
  Frame frame;
  while (offset < size) {
    size_t chunk = size - offset < readSize ? size - offset : readSize;
    size_t taken = scanner.Append(data + offset, chunk);
    offset += taken;
    bool found = false;
    while (scanner.Next(&frame)) {
      Check(frame.channel != 0xFF && frame.value != 0xFFFF);
      frames.push_back(frame);
      found = true;
    }
    Check(scanner.Fill() <= 4);
    Check(taken != 0 || found || scanner.FreeSpace() != 0);
  }
  return frames;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t readSize = 1 + data[0] % 64;
  ++data;
  --size;
  std::vector<Frame> inReads = ScanInReads(data, size, readSize);
  std::vector<Frame> atOnce = ScanInReads(data, size, FrameScanner::kCapacity);
  Check(inReads.size() == atOnce.size());
  for (size_t i = 0; i < inReads.size(); ++i) {
    Check(inReads[i].channel == atOnce[i].channel && inReads[i].value == atOnce[i].value);
  }
  return 0;
}
