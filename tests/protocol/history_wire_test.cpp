// The wire form of history samples, for values whose float rounding matters.
#include "protocol/history_wire.h"

#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <vector>

namespace orvexa {
namespace {

// The wire form: big-endian time, then the float nearest to stored value / 256, for
// values whose float rounding matters (beyond 24 significant bits) and the extremes.
TEST(HistoryWireTest, EncodedSamplesAreBigEndianTimeAndValueOver256) {
  const std::vector<LogRecord> records = {{0x01020304, 384},      {7, -1},         {8, 0},
                                          {9, 16777217},          {10, -33554435}, {11, INT32_MAX},
                                          {0xFFFFFFFF, INT32_MIN}};
  std::vector<uint8_t> wire = {0xAA};  // appended after what is there
  EncodeHistory(records.data(), static_cast<uint32_t>(records.size()), &wire);
  ASSERT_EQ(wire.size(), 1 + kHistoryWireSize * records.size());
  for (size_t k = 0; k < records.size(); ++k) {
    const uint8_t* p = wire.data() + 1 + kHistoryWireSize * k;
    auto word = [](const uint8_t* b) {
      return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
    };
    EXPECT_EQ(word(p), records[k].time) << k;
    EXPECT_EQ(std::bit_cast<float>(word(p + 4)), static_cast<float>(records[k].value / 256.0)) << k;
  }
  EXPECT_EQ(std::bit_cast<float>(uint32_t{0x3FC00000}), 1.5f);
  EXPECT_EQ(wire[5], 0x3F);  // 384 is 1.5
}

}  // namespace
}  // namespace orvexa
