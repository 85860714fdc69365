// The typed reader's string rules: the length limit and the cut at a zero byte.
#include "protocol/wire_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "transport/connection_closed.h"
#include "transport/memory_connection.h"
#include "transport/socket_stream.h"

namespace orvexa {
namespace {

TEST(WireReaderTest, StringLengthLimitAndZeroByteCut) {
  std::string ok = std::string("\x00\xFD", 2) + std::string(253, 'a');
  std::string cut = std::string("\x00\x05", 2) + std::string("ab\0cd", 5) + "Z";
  std::string tooLong = std::string("\x00\xFE", 2) + std::string(254, 'a');
  MemoryConnection connection(ok + cut + tooLong);
  uint8_t buffer[25000];
  SocketStream stream(connection, buffer, sizeof buffer, 0);
  EXPECT_EQ(ReadString(stream).size(), 253u);
  EXPECT_EQ(ReadString(stream), "ab");
  EXPECT_EQ(ReadU8(stream), 'Z');  // the whole string was consumed
  EXPECT_THROW(ReadString(stream), ConnectionClosed);
}

}  // namespace
}  // namespace orvexa
