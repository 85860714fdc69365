// The WebSocket upgrade and frame reader over an in-memory connection: the answers
// 101/400/426, header parsing rules, X-Real-IP, and every frame the reader refuses.
#include "transport/websocket_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "client/protocol_client.h"
#include "transport/connection_closed.h"
#include "transport/memory_connection.h"
#include "transport/websocket_handshake.h"

namespace orvexa {
namespace {

using client::EncodeClientFrame;

const char kBrowserRequest[] =
    "GET /chat HTTP/1.1\r\nHost: lab\r\nUpgrade: websocket\r\n"
    "Connection: keep-alive, Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
    "Sec-WebSocket-Version: 13\r\n\r\n";

// Runs the handshake over `input` (fed in `chunk`-byte receives); the stream is left for
// further reads. Returns whether the handshake succeeded.
struct Session {
  explicit Session(std::string input, size_t chunk = 1 << 20)
      : connection(std::move(input), chunk) {
    // The worker has read the first two bytes before it knows the transport.
    size_t first = connection.ReceiveSome(buffer, 2);
    if (first == 1) first += connection.ReceiveSome(buffer + 1, 1);
    stream = std::make_unique<WebSocketStream>(connection, buffer, sizeof buffer, first);
  }
  bool Handshake() {
    try {
      stream->Handshake();
      return true;
    } catch (const ConnectionClosed&) {
      return false;
    }
  }
  MemoryConnection connection;
  uint8_t buffer[25000];
  std::unique_ptr<WebSocketStream> stream;
};

TEST(WebSocketHandshakeTest, AcceptValueMatchesTheProtocolExample) {
  EXPECT_EQ(WebSocketHandshake::AcceptValue("dGhlIHNhbXBsZSBub25jZQ=="),
            "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
}

TEST(WebSocketHandshakeTest, BrowserRequestGets101EvenByteByByte) {
  for (size_t chunk : {size_t(1), size_t(1 << 20)}) {
    Session s(kBrowserRequest, chunk);
    ASSERT_TRUE(s.Handshake());
    EXPECT_EQ(s.connection.sent(),
              "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: "
              "Upgrade\r\nSec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n");
    uint8_t address[4] = {9, 9, 9, 9};
    EXPECT_FALSE(s.stream->GetPeerAddress(address));
    EXPECT_EQ(address[0], 9);
  }
}

std::string Request(const std::string& headers, const std::string& line = "GET / HTTP/1.1") {
  return line + "\r\n" + headers + "\r\n";
}

const std::string kGood =
    "upgrade: WebSocket\r\nCONNECTION: upgrade\r\nsec-websocket-key: abc\r\n"
    "Sec-WebSocket-Version: 13\r\n";

TEST(WebSocketHandshakeTest, HeaderRulesAndAnswers) {
  struct Case {
    std::string request;
    bool accepted;
    std::string answerStart;  // "" = nothing sent
  } cases[] = {
      {Request(kGood), true, "HTTP/1.1 101"},
      {Request(kGood, "GET / HTTP/1.1000"), true, "HTTP/1.1 101"},
      {Request(kGood, "GET / HTTP/1.0"), false, ""},
      {Request(kGood, "GET / HTTP/1.1001"), false, ""},
      {Request(kGood, "GET / HTTP/1.0000001"), true, "HTTP/1.1 101"},  // read as a number
      {Request(kGood, "GET / http/1.1"), false, ""},
      {Request(kGood, "GET  HTTP/1.1"), false, ""},
      {Request(kGood, "GET /HTTP/1.1"), false, ""},
      {"GET / HTTP/1.1\n" + kGood + "\n", true, "HTTP/1.1 101"},  // bare LF line ends
      {"GET / HTTP/1.1\r\r" + kGood + "\r\n", false, ""},
      {Request("Sec-WebSocket-Version: 8\r\n"), false, "HTTP/1.1 426 Upgrade Required\r\n"},
      {Request("Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: k\r\n"), false,
       "HTTP/1.1 400 Bad Request"},
      {Request("Upgrade: websocket\r\nConnection: upgraded\r\nSec-WebSocket-Key: k\r\n"
               "Sec-WebSocket-Version: 13\r\n"),
       false, "HTTP/1.1 400"},
      {Request("Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key:   \r\n"
               "Sec-WebSocket-Version: 13\r\n"),
       false, "HTTP/1.1 400"},
      {Request("Broken header line\r\n" + kGood), false, ""},
      {Request(std::string(1000, 'x') + ": y\r\n" + kGood), false, ""},
      {Request("X-Long: " + std::string(1000, 'v') + "\r\n" + kGood), false, ""},
      {Request("X-Long:" + std::string(999, 'v') + "\r\n" + kGood), true, "HTTP/1.1 101"},
  };
  for (const auto& c : cases) {
    Session s(c.request);
    EXPECT_EQ(s.Handshake(), c.accepted) << c.request;
    EXPECT_EQ(s.connection.sent().substr(0, c.answerStart.size()), c.answerStart) << c.request;
    if (c.answerStart.empty()) {
      EXPECT_EQ(s.connection.sent(), "") << c.request;
    }
  }
}

TEST(WebSocketHandshakeTest, RealIpHeaderOnlyWhenValid) {
  struct Case {
    std::string value;
    bool used;
  } cases[] = {{"10.1.2.3", true}, {"10.1.2.3:8080", true}, {"10.1.2.300", false},
               {"0.0.0.0", false}, {"10.1.2", false},       {"abc", false}};
  for (const auto& c : cases) {
    Session s(Request(kGood + "X-Real-IP: " + c.value + "\r\n"));
    ASSERT_TRUE(s.Handshake());
    uint8_t address[4] = {127, 0, 0, 1};
    EXPECT_EQ(s.stream->GetPeerAddress(address), c.used) << c.value;
    if (c.used) {
      EXPECT_EQ(address[3], 3);
    }
  }
}

// A stream after a good handshake, followed by `frames`.
std::unique_ptr<Session> Framed(const std::string& frames, size_t chunk = 1 << 20) {
  auto s = std::make_unique<Session>(kBrowserRequest + frames, chunk);
  EXPECT_TRUE(s->Handshake());
  return s;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

TEST(WebSocketStreamTest, DeliversPayloadAcrossFramesSkippingControlAndTextFrames) {
  std::string big(200, 'q');  // 16-bit length form
  auto s = Framed(EncodeClientFrame(2, Bytes({0, 100})) + EncodeClientFrame(9, "hi") +
                      EncodeClientFrame(1, "text payload") + EncodeClientFrame(2, "") +
                      EncodeClientFrame(9, "") + EncodeClientFrame(2, big),
                  3);
  size_t handshakeBytes = s->connection.sent().size();
  EXPECT_EQ(std::memcmp(s->stream->Require(2), "\x00\x64", 2), 0);
  s->stream->Consume(2);
  const uint8_t* p = s->stream->Require(200);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), 200), big);
  s->stream->Consume(200);
  EXPECT_EQ(s->connection.sent().substr(handshakeBytes), Bytes({0x8A, 2, 'h', 'i', 0x8A, 0}));
  EXPECT_THROW(s->stream->Require(1), ConnectionClosed);  // end of input
}

TEST(WebSocketStreamTest, RequireTwiceUnmasksOnce) {
  auto s = Framed(EncodeClientFrame(2, "abcd"));
  s->stream->Require(2);
  const uint8_t* p = s->stream->Require(4);
  EXPECT_EQ(std::memcmp(p, "abcd", 4), 0);
}

TEST(WebSocketStreamTest, RefusedFrames) {
  std::string value = Bytes({0, 0, 0, 1});
  const std::string cases[] = {
      EncodeClientFrame(2, value, /*fin=*/false),
      EncodeClientFrame(2, value, true, /*masked=*/false),
      EncodeClientFrame(2, value, true, true, /*longLength=*/true),
      EncodeClientFrame(8, ""),
      EncodeClientFrame(0, value),
      EncodeClientFrame(10, value),
      EncodeClientFrame(3, value),
      Bytes({0xC2, 0x84, 1, 2, 3, 4, 0, 0, 0, 0}),  // RSV1 set
      // a 4-byte value split over two frames
      EncodeClientFrame(2, value.substr(0, 2)) + EncodeClientFrame(2, value.substr(2)),
  };
  for (const auto& frames : cases) {
    auto s = Framed(frames);
    EXPECT_THROW(s->stream->Require(4), ConnectionClosed);
  }
}

}  // namespace
}  // namespace orvexa
