// The plain stream over real socket pairs and over memory: reads split across
// receives, compaction of the fixed buffer, limits, and the typed string reader rules.
#include "transport/socket_stream.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "protocol/wire_reader.h"
#include "transport/connection_closed.h"
#include "transport/memory_connection.h"
#include "transport/socket_connection.h"

namespace orvexa {
namespace {

TEST(SocketStreamTest, ReadsSplitAcrossReceivesAndCompactsTheBuffer) {
  std::string input;
  for (int i = 0; i < 40; ++i) input += std::string("\x01\x02\x03\x04\x05", 5);
  MemoryConnection connection(input, 3);
  uint8_t buffer[8];
  SocketStream stream(connection, buffer, sizeof buffer, 0);
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(ReadU32(stream), 0x01020304u);
    ASSERT_EQ(ReadU8(stream), 5);
  }
  EXPECT_THROW(stream.Require(1), ConnectionClosed);
  EXPECT_THROW(stream.Require(9), ConnectionClosed);  // more than the buffer holds
}

TEST(SocketStreamTest, StartsWithTheBytesAlreadyRead) {
  MemoryConnection connection("CD");
  uint8_t buffer[16] = {'A', 'B'};
  SocketStream stream(connection, buffer, sizeof buffer, 2);
  EXPECT_EQ(ReadU16(stream), 0x4142);
  EXPECT_EQ(ReadU16(stream), 0x4344);
  EXPECT_EQ(stream.Require(0), stream.Require(0));
}

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

TEST(SocketIoTest, ReceiveAllAndSendAllOverASocketPair) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  std::string big(300000, 'x');
  std::thread writer([&] { SendAll(fds[0], big.data(), big.size()); });
  std::string got(big.size(), '\0');
  ReceiveAll(fds[1], got.data(), got.size());
  writer.join();
  EXPECT_EQ(got, big);
  ::close(fds[0]);
  char c;
  EXPECT_THROW(ReceiveAll(fds[1], &c, 1), ConnectionClosed);  // peer closed
  EXPECT_THROW(SendAll(fds[1], "x", 1), ConnectionClosed);    // broken pipe, without a signal
  ::close(fds[1]);
}

}  // namespace
}  // namespace orvexa
