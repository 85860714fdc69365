// The reply writer: plain bytes, single frames, and replies larger than the buffer sent
// as one fragmented message.
#include "transport/message_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transport/connection_closed.h"
#include "transport/memory_connection.h"

namespace orvexa {
namespace {

struct ParsedFrame {
  uint8_t first;
  std::string payload;
};

// Splits server frames (unmasked, 7-, 16- or 64-bit lengths).
std::vector<ParsedFrame> SplitFrames(const std::string& bytes) {
  std::vector<ParsedFrame> frames;
  size_t i = 0;
  while (i < bytes.size()) {
    uint8_t first = static_cast<uint8_t>(bytes[i]);
    size_t length = static_cast<uint8_t>(bytes[i + 1]);
    EXPECT_EQ(length & 0x80, 0u);
    i += 2;
    if (length == 126) {
      length = static_cast<size_t>(static_cast<uint8_t>(bytes[i])) << 8 |
               static_cast<uint8_t>(bytes[i + 1]);
      i += 2;
    } else if (length == 127) {
      length = 0;
      for (int k = 0; k < 8; ++k) length = length << 8 | static_cast<uint8_t>(bytes[i + k]);
      i += 8;
    }
    frames.push_back({first, bytes.substr(i, length)});
    i += length;
  }
  return frames;
}

void Fill(MessageWriter& writer, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    uint8_t c = static_cast<uint8_t>(i);
    writer.Put(&c, 1);
  }
}

TEST(MessageWriterTest, PlainFlushSendsBytesAndEmptyFlushSendsNothing) {
  MemoryConnection connection("");
  MessageWriter writer(connection);
  writer.Put("abc", 3);
  writer.Flush(true);
  writer.Flush(true);
  EXPECT_EQ(connection.sent(), "abc");
  EXPECT_EQ(writer.buffered(), 0u);
}

TEST(MessageWriterTest, FramedRepliesOfExactlyOneBufferAndEmptyReplies) {
  MemoryConnection connection("");
  MessageWriter writer(connection);
  writer.set_framed(true);
  writer.Flush(true);  // an empty reply is still one message
  Fill(writer, MessageWriter::kCapacity);
  writer.Flush(true);
  auto frames = SplitFrames(connection.sent());
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].first, 0x82);
  EXPECT_EQ(frames[0].payload.size(), 0u);
  EXPECT_EQ(frames[1].first, 0x82);
  EXPECT_EQ(frames[1].payload.size(), MessageWriter::kCapacity);
}

TEST(MessageWriterTest, OversizedReplyBecomesOneFragmentedMessage) {
  MemoryConnection connection("");
  MessageWriter writer(connection);
  writer.set_framed(true);
  Fill(writer, 2 * MessageWriter::kCapacity + 1);
  writer.Flush(true);
  Fill(writer, 5);  // the next reply starts a new message
  writer.Flush(true);
  auto frames = SplitFrames(connection.sent());
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(frames[0].first, 0x02);  // binary, not final
  EXPECT_EQ(frames[1].first, 0x00);  // continuation, not final
  EXPECT_EQ(frames[2].first, 0x80);  // continuation, final
  EXPECT_EQ(frames[2].payload.size(), 1u);
  EXPECT_EQ(static_cast<uint8_t>(frames[2].payload[0]),
            static_cast<uint8_t>(2 * MessageWriter::kCapacity));
  EXPECT_EQ(frames[3].first, 0x82);
}

// A block larger than the buffer: the buffer is topped up and sent. On plain TCP the
// rest goes out as one piece; on WebSocket in frames of at most a buffer, since a frame
// length must fit 16 bits (a 131072-sample history reply is over a megabyte). The bytes
// and their order are those of Put, and on WebSocket it all stays one message that the
// next reply does not join.
TEST(MessageWriterTest, BulkBlockTopsUpTheBufferAndSendsTheRest) {
  std::string block(5 * MessageWriter::kCapacity + 7, '\0');  // beyond 65535 after the head
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7);
  for (bool framed : {false, true}) {
    MemoryConnection connection("");
    MessageWriter writer(connection);
    writer.set_framed(framed);
    writer.Put("head", 4);
    writer.PutBulk(block.data(), block.size());
    writer.PutBulk("tail", 4);  // small blocks just go into the buffer
    writer.Flush(true);
    writer.Put("next", 4);
    writer.Flush(true);
    const std::string expected = "head" + block + "tail";
    if (!framed) {
      EXPECT_EQ(connection.sent(), expected + "next");
      continue;
    }
    auto frames = SplitFrames(connection.sent());
    ASSERT_EQ(frames.size(), 7u);
    EXPECT_EQ(frames[0].first, 0x02);  // a full buffer: binary, not final
    std::string joined;
    for (size_t i = 0; i + 1 < frames.size(); ++i) {
      if (i > 0) {
        EXPECT_EQ(frames[i].first, i + 2 < frames.size() ? 0x00 : 0x80);
      }
      EXPECT_LE(frames[i].payload.size(), MessageWriter::kCapacity);
      joined += frames[i].payload;
    }
    EXPECT_EQ(joined, expected);
    EXPECT_EQ(frames[6].first, 0x82);
    EXPECT_EQ(frames[6].payload, "next");
  }
}

TEST(MessageWriterTest, ItemLargerThanTheBufferThrowsAndCloseSendsCloseFrame) {
  MemoryConnection connection("");
  MessageWriter writer(connection);
  writer.set_framed(true);
  writer.Put("pending", 7);
  writer.Close(false);  // drops what is pending
  EXPECT_EQ(connection.sent(), std::string("\x88\x00", 2));
  EXPECT_THROW(writer.Reserve(MessageWriter::kCapacity + 1), ConnectionClosed);
}

TEST(MessageWriterTest, SendFailureThrowsAndLeavesTheWriterEmpty) {
  MemoryConnection connection("");
  connection.set_send_limit(3);
  MessageWriter writer(connection);
  writer.Put("abcdef", 6);
  EXPECT_THROW(writer.Flush(true), ConnectionClosed);
  EXPECT_EQ(writer.buffered(), 0u);
}

}  // namespace
}  // namespace orvexa
