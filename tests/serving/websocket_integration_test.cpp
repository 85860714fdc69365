// The WebSocket side of the real server: telling the transports apart by the first two
// bytes, the 101/400/426 answers, X-Real-IP, pings, text frames, refused frames, and a
// reply larger than the writer's buffer going out as one fragmented message.
#include <gtest/gtest.h>

#include "running_server.h"

namespace orvexa::test {
namespace {

using client::EncodeClientFrame;

TEST(WebSocketServingTest, FirstTwoBytesChooseTheTransport) {
  RunningServer server;
  for (const char* start : {"GX", "ge"}) {
    client::ProtocolClient c;
    c.ConnectRaw("127.0.0.1", server.port);
    c.SendRaw(std::string(start) + "\x01" + std::string("\x00\x00", 2));
    EXPECT_EQ(c.ReadU8(), 3) << start;  // read as protocol version 0x4758 / 0x6765
    EXPECT_TRUE(c.WaitClosed());
  }
  client::ProtocolClient ws;
  ws.ConnectRaw("127.0.0.1", server.port);
  ws.SendRaw(client::ProtocolClient::UpgradeRequest({}));
  std::string answer;
  EXPECT_EQ(ws.ReadHttpAnswer(&answer), 101);
  EXPECT_NE(answer.find("Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"),
            std::string::npos);
}

TEST(WebSocketServingTest, RefusedUpgradesAreAnsweredAndClosed) {
  RunningServer server;
  struct Case {
    std::vector<std::string> headers;
    int status;
  } cases[] = {
      {{"Upgrade: websocket", "Connection: Upgrade", "Sec-WebSocket-Key: abc"}, 400},
      {{"Sec-WebSocket-Version: 8"}, 426},
      {{"Upgrade: websocket", "Connection: upgraded", "Sec-WebSocket-Key: abc",
        "Sec-WebSocket-Version: 13"},
       400},
  };
  for (const auto& c : cases) {
    client::ProtocolClient client;
    client.ConnectRaw("127.0.0.1", server.port);
    client.SendRaw(client::ProtocolClient::UpgradeRequest(c.headers, true));
    std::string answer;
    EXPECT_EQ(client.ReadHttpAnswer(&answer), c.status);
    if (c.status == 426) {
      EXPECT_NE(answer.find("Sec-WebSocket-Version: 13\r\n"), std::string::npos);
    }
    std::string rest;
    EXPECT_TRUE(client.ReadUntilClosed(&rest));
    EXPECT_EQ(rest, "");  // no Close frame: the connection never became a WebSocket one
  }
  EXPECT_TRUE(server.WaitForAudit("Users 3 connection closed"));
}

TEST(WebSocketServingTest, RealIpHeaderGivesTheClientAddress) {
  RunningServer server;
  auto proxied = server.Connect(Transport::kWebSocket, 1, {"X-Real-IP: 10.1.2.3"});
  // Hello is answered before the user is entered in the table: a request of its own
  // shows that it is (so the queue order below is known).
  EXPECT_EQ(proxied->ReadValue(1).first, 21.5f);
  auto invalid = server.Connect(Transport::kWebSocket, 1, {"X-Real-IP: 10.1.2.300"});
  EXPECT_TRUE(server.WaitForAudit("User connected from:10.1.2.3 (over 127.0.0.1) Using ID:1"));
  EXPECT_TRUE(server.WaitForAudit("User connected from:127.0.0.1 (over 127.0.0.1) Using ID:2"));
  EXPECT_EQ(invalid->ReadValue(1).first, 21.5f);
  auto controllers = proxied->ListControllers();
  ASSERT_EQ(controllers.size(), 2u);
  EXPECT_EQ(controllers[0], (client::Address{10, 1, 2, 3}));
  // From any other peer the header is not believed.
  client::ProtocolClient remote;
  remote.Connect("127.0.0.1", server.port, Transport::kWebSocket, {"X-Real-IP: 10.1.2.3"},
                 "127.0.0.2");
  ASSERT_EQ(remote.Hello(), 0);
  EXPECT_TRUE(server.WaitForAudit("User connected from:127.0.0.2 (over 127.0.0.2) Using ID:3"));
  // Behind the proxy a browser cannot override the proxy's header with a forwarded
  // address of its own in Hello.
  client::ProtocolClient spoofing;
  spoofing.Connect("127.0.0.1", server.port, Transport::kWebSocket, {"X-Real-IP: 10.1.2.4"});
  const client::Address claimed{10, 9, 9, 9};
  ASSERT_EQ(spoofing.Hello(1, &claimed), 0);
  EXPECT_TRUE(server.WaitForAudit("User connected from:10.1.2.4 (over 127.0.0.1) Using ID:4"));
}

TEST(WebSocketServingTest, PingsAndTextFramesBetweenRequests) {
  RunningServer server;
  auto c = server.Connect(Transport::kWebSocket);
  c->SendRaw(EncodeClientFrame(9, "are you there"));
  client::Frame pong = c->ReceiveFrame();
  EXPECT_EQ(pong.opcode, 10);
  EXPECT_EQ(pong.payload, "are you there");
  c->SendRaw(EncodeClientFrame(9, ""));
  EXPECT_EQ(c->ReceiveFrame().opcode, 10);
  // A text frame's payload is dropped, never read as a frame header.
  c->SendRaw(EncodeClientFrame(1, std::string("\x82\x83\x00\x00\x00\x00\x05\x00\x01", 9)));
  EXPECT_EQ(c->ReadValue(1).first, 21.5f);
  // A 200-byte argument in a frame with the 16-bit length form.
  EXPECT_EQ(c->FindChannel(20, std::string(198, 'y')), 0);
}

TEST(WebSocketServingTest, RefusedFramesEndTheConnectionWithACloseFrame) {
  RunningServer server;
  std::string request = std::string("\x05\x00\x01", 3);
  const std::string frames[] = {
      EncodeClientFrame(2, request, true, /*masked=*/false),
      EncodeClientFrame(2, request, true, true, /*longLength=*/true),
      EncodeClientFrame(2, request, /*fin=*/false),
      // the channel number split over two frames
      EncodeClientFrame(2, request.substr(0, 2)) + EncodeClientFrame(2, request.substr(2)),
      EncodeClientFrame(8, ""),
  };
  uint32_t serial = 0;
  for (const auto& bytes : frames) {
    auto c = server.Connect(Transport::kWebSocket);
    ++serial;
    c->SendRaw(bytes);
    std::string rest;
    EXPECT_TRUE(c->ReadUntilClosed(&rest));
    EXPECT_EQ(rest, std::string("\x88\x00", 2));
    EXPECT_TRUE(server.WaitForAudit("Users " + std::to_string(serial) + " connection closed"));
  }
}

TEST_P(BothTransportsTest, ReplyOfOneByteMoreThanTheBufferGoesOutInTwoPieces) {
  RunningServer server;
  auto c = server.Connect(GetParam());
  // Build the batch by hand: every request is its own frame on WebSocket.
  std::string wire;
  auto add = [&](const std::string& request) {
    wire += c->websocket() ? EncodeClientFrame(2, request) : request;
  };
  std::vector<std::string> requests = {"\x02", std::string("\x14\x00\x0bProbe_Input", 14),
                                       std::string("\x13\x00\x02\x3f\x80\x00\x00", 7)};
  for (int i = 0; i < 3112; ++i) requests.push_back(std::string("\x05\x00\x01", 3));
  int left = 0;
  for (const auto& r : requests) {
    if (left == 0) {
      add(std::string("\x0a\xff", 2));
      left = 254;
    }
    add(r);
    --left;
  }
  add(std::string("\x0a\x00", 2));  // ends the batch: the reply goes out
  c->SendRaw(wire);
  if (c->websocket()) {
    client::Frame first = c->ReceiveFrame();
    client::Frame second = c->ReceiveFrame();
    EXPECT_EQ(first.opcode, 2);
    EXPECT_FALSE(first.fin);
    // The buffer is sent when the next item no longer fits (here a 4-byte time).
    EXPECT_LE(first.payload.size(), 25000u);
    EXPECT_GT(first.payload.size(), 24990u);
    EXPECT_EQ(second.opcode, 0);
    EXPECT_TRUE(second.fin);
    EXPECT_EQ(first.payload.size() + second.payload.size(), 25001u);
  } else {
    EXPECT_EQ(c->ReadBytes(25001).size(), 25001u);
    EXPECT_TRUE(c->Quiet(200));
  }
  EXPECT_EQ(c->ReadValue(1).first, 21.5f);
}

}  // namespace
}  // namespace orvexa::test
