// The plain stream over real socket pairs and over memory: reads split across
// receives, compaction of the fixed buffer, limits, and the send and receive loops.
#include "transport/socket_stream.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "transport/connection_closed.h"
#include "transport/memory_connection.h"
#include "transport/socket_connection.h"

namespace orvexa {
namespace {

// The next n bytes of the stream, consumed.
std::string Take(ByteStream& stream, size_t n) {
  const uint8_t* p = stream.Require(n);
  std::string bytes(reinterpret_cast<const char*>(p), n);
  stream.Consume(n);
  return bytes;
}

TEST(SocketStreamTest, ReadsSplitAcrossReceivesAndCompactsTheBuffer) {
  std::string input;
  for (int i = 0; i < 40; ++i) input += std::string("\x01\x02\x03\x04\x05", 5);
  MemoryConnection connection(input, 3);
  uint8_t buffer[8];
  SocketStream stream(connection, buffer, sizeof buffer, 0);
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(Take(stream, 4), "\x01\x02\x03\x04");
    ASSERT_EQ(Take(stream, 1), "\x05");
  }
  EXPECT_THROW(stream.Require(1), ConnectionClosed);
  EXPECT_THROW(stream.Require(9), ConnectionClosed);  // more than the buffer holds
}

TEST(SocketStreamTest, StartsWithTheBytesAlreadyRead) {
  MemoryConnection connection("CD");
  uint8_t buffer[16] = {'A', 'B'};
  SocketStream stream(connection, buffer, sizeof buffer, 2);
  EXPECT_EQ(Take(stream, 2), "AB");
  EXPECT_EQ(Take(stream, 2), "CD");
  EXPECT_EQ(stream.Require(0), stream.Require(0));
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
