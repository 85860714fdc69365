// The frame scanner and the output rounding, without a device: resynchronisation after
// lost step, rejected candidates, frames split across reads, a full buffer.
#include "frame_scanner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace orvexa::pinvane {
namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Frame> ScanAll(FrameScanner& scanner, const Bytes& bytes) {
  EXPECT_EQ(scanner.Append(bytes.data(), bytes.size()), bytes.size());
  std::vector<Frame> frames;
  Frame frame;
  while (scanner.Next(&frame)) frames.push_back(frame);
  return frames;
}

Bytes FrameBytes(uint8_t channel, uint16_t value) {
  uint8_t out[kFrameSize];
  EncodeFrame(channel, value, out);
  return Bytes(out, out + kFrameSize);
}

TEST(FrameScannerTest, RejectedCandidatesMoveTheScanOneByteOn) {
  FrameScanner scanner;
  // Channel 0xFF at the first mark: the frame starts at the second 0xFF.
  auto frames = ScanAll(scanner, {0xFF, 0xFF, 0xFF, 0x00, 0x10, 0x00});
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].channel, 0);
  EXPECT_EQ(frames[0].value, 0x0010);
  EXPECT_EQ(scanner.Fill(), 0u);

  // Value 0xFFFF is never a frame, even when a real one follows right behind it.
  frames = ScanAll(scanner, {0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x05, 0x00});
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].value, 5);
  frames = ScanAll(scanner, {0xFF, 0xFF, 0x00, 0xFF, 0xFF});
  EXPECT_TRUE(frames.empty());
}

TEST(FrameScannerTest, GarbageBetweenFramesIsSkipped) {
  FrameScanner scanner;
  Bytes bytes = {0x12, 0x00, 0xFF};
  for (uint16_t value : {100, 0xFFFE, 0}) {
    Bytes frame = FrameBytes(0, value);
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    bytes.insert(bytes.end(), {0xFF, 0x34, 0xFF});  // a lone mark, then half of one
  }
  Bytes other = FrameBytes(7, 9);
  bytes.insert(bytes.end(), other.begin(), other.end());
  auto frames = ScanAll(scanner, bytes);
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(frames[0].value, 100);
  EXPECT_EQ(frames[1].value, 0xFFFE);
  EXPECT_EQ(frames[2].value, 0);
  // Other channels come through the scanner; the reader thread drops them.
  EXPECT_EQ(frames[3].channel, 7);
  EXPECT_EQ(frames[3].value, 9);
}

TEST(FrameScannerTest, FramesSplitAcrossReadsComplete) {
  FrameScanner scanner;
  Bytes stream;
  for (uint16_t value : {0x0102, 0x00FF, 0xFF00}) {
    Bytes frame = FrameBytes(0, value);
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  std::vector<Frame> frames;
  for (uint8_t byte : stream) {  // one byte per read
    auto found = ScanAll(scanner, {byte});
    frames.insert(frames.end(), found.begin(), found.end());
    EXPECT_LE(scanner.Fill(), 4u);  // only the start of a frame still arriving is kept
  }
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].value, 0x0102);
  EXPECT_EQ(frames[1].value, 0x00FF);
  EXPECT_EQ(frames[2].value, 0xFF00);

  // A split right after a rejected candidate still finds the frame.
  EXPECT_TRUE(ScanAll(scanner, {0xFF, 0xFF, 0xFF, 0x00}).empty());
  auto found = ScanAll(scanner, {0x10, 0x00});
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].value, 0x10);
}

TEST(FrameScannerTest, FullBufferIsConsumedAndNeverOverflows) {
  FrameScanner scanner;
  Bytes garbage(FrameScanner::kCapacity + 50, 0xFF);  // marks only: never a frame
  EXPECT_EQ(scanner.Append(garbage.data(), garbage.size()), FrameScanner::kCapacity);
  EXPECT_EQ(scanner.FreeSpace(), 0u);
  Frame frame;
  EXPECT_FALSE(scanner.Next(&frame));
  EXPECT_EQ(scanner.Fill(), 4u);

  // 200 frames fill the buffer exactly; each Next hands out one, in order.
  scanner.Clear();
  Bytes frames;
  for (int i = 0; i < 200; ++i) {
    Bytes one = FrameBytes(0, static_cast<uint16_t>(i));
    frames.insert(frames.end(), one.begin(), one.end());
  }
  auto found = ScanAll(scanner, frames);
  ASSERT_EQ(found.size(), 200u);
  EXPECT_EQ(found[199].value, 199);
  EXPECT_EQ(scanner.Fill(), 0u);

  // A device claiming more bytes than there was room for cannot push past the end.
  scanner.Commit(FrameScanner::kCapacity * 2);
  EXPECT_EQ(scanner.Fill(), FrameScanner::kCapacity);
}

TEST(FrameFormatTest, EncodingNeverProducesAMarkInsideTheFrame) {
  EXPECT_EQ(FrameBytes(0, 65534), (Bytes{0xFF, 0xFF, 0x00, 0xFE, 0xFF}));
  EXPECT_EQ(FrameBytes(1, 0xFFFF), (Bytes{0xFF, 0xFF, 0x01, 0xFE, 0xFF}));
  EXPECT_EQ(FrameBytes(0xFF, 3), (Bytes{0xFF, 0xFF, 0xFE, 0x03, 0x00}));
}

TEST(FrameFormatTest, OutputValuesRoundHalfUpAndClamp) {
  struct Case {
    float written;
    uint16_t stored;
  } cases[] = {{2.5f, 3},
               {2.4f, 2},
               {-3.0f, 0},
               {-0.4f, 0},
               {65534.0f, 65534},
               {65535.0f, 65534},
               {70000.0f, 65534},
               {1e30f, 65534},
               {std::numeric_limits<float>::infinity(), 65534},
               {-std::numeric_limits<float>::infinity(), 0},
               {0.49f, 0}};
  for (const Case& c : cases) {
    uint16_t stored = 12345;
    ASSERT_TRUE(ToOutputValue(c.written, &stored)) << c.written;
    EXPECT_EQ(stored, c.stored) << c.written;
  }
  uint16_t untouched = 77;
  EXPECT_FALSE(ToOutputValue(std::nanf(""), &untouched));
  EXPECT_EQ(untouched, 77);
}

}  // namespace
}  // namespace orvexa::pinvane
