// The request protocol against the real server on both transports: the channel
// requests, control rules for observers and waiting users, batching, wrong versions and
// malformed requests, forwarded addresses, and the audit lines they write.
#include <gtest/gtest.h>

#include <ctime>

#include "running_server.h"

namespace orvexa::test {
namespace {

constexpr uint32_t kNoLimit = 0xFFFFFFFF;

bool NearNow(uint32_t time) {
  long now = static_cast<long>(std::time(nullptr));
  return time + 5 >= now && time <= now + 5;
}

TEST_P(BothTransportsTest, ChannelRequestsAndControlRules) {
  RunningServer server;  // no orvexa.cfg: multiple control is limited
  auto c = server.Connect(GetParam());
  auto channels = c->ListChannels();
  ASSERT_EQ(channels.size(), 4u);
  EXPECT_EQ(channels[0].id, "Probe_Input");
  EXPECT_EQ(channels[0].flags, 1);
  EXPECT_EQ(channels[0].description, "Constant input");
  EXPECT_EQ(channels[1].flags, 3);
  EXPECT_EQ(channels[2].flags, 2);
  EXPECT_EQ(c->FindChannel(3, "Probe_WriteOnly"), 0);
  EXPECT_EQ(c->FindChannel(20, "Probe_WriteOnly"), 3);
  EXPECT_EQ(c->FindChannel(4, "Probe_Output"), 2);
  EXPECT_EQ(c->FindChannel(3, "burst_3"), 1004);
  EXPECT_EQ(c->FindChannel(4, "burst_3"), 0);

  auto [input, time] = c->ReadValue(1);
  EXPECT_EQ(input, 21.5f);
  EXPECT_TRUE(NearNow(time));
  auto [none, noneTime] = c->ReadValue(0);
  EXPECT_EQ(none, 0.0f);
  EXPECT_TRUE(NearNow(noneTime));

  EXPECT_TRUE(NearNow(c->WriteValueTimed(2, 2.5f)));
  EXPECT_EQ(c->ReadValue(2).first, 2.5f);
  c->WriteValue(2, 3.0f);
  EXPECT_EQ(c->ReadValue(2).first, 3.0f);
  EXPECT_EQ(c->ControlStatus(), std::make_pair(0, kNoLimit));  // alone: no limit

  // An observer and a waiting user may read but their writes change nothing.
  auto observer = server.Connect(GetParam(), 3);
  auto waiting = server.Connect(GetParam(), 1);
  EXPECT_TRUE(NearNow(observer->WriteValueTimed(2, 9.0f)));
  waiting->WriteValue(2, 8.0f);
  EXPECT_TRUE(NearNow(waiting->WriteValueTimed(2, 8.0f)));
  EXPECT_EQ(waiting->ReadValue(2).first, 3.0f);
  EXPECT_EQ(observer->ControlStatus().first, 1);  // behind the controller
  EXPECT_EQ(waiting->ControlStatus().first, 1);
  EXPECT_EQ(c->ControlStatus().first, 0);
  auto controllers = c->ListControllers();
  ASSERT_EQ(controllers.size(), 2u);  // the observer is not listed
  EXPECT_EQ(controllers[0], (client::Address{127, 0, 0, 1}));

  EXPECT_TRUE(server.WaitForAudit("User 1 sets device ID:\"Probe_Output\" to value:2.500000"));
  EXPECT_TRUE(server.WaitForAudit("User 1 sets device ID:\"Probe_Output\" to value:3.000000"));
  EXPECT_EQ(CountOf(server.Audit(), "sets device"), 2u);
  EXPECT_EQ(CountOf(server.ProbeLog(), "write "), 2u);
  c->Close();
  EXPECT_TRUE(server.WaitForAudit("Users 1 connection closed"));
  EXPECT_TRUE(server.WaitForAudit("User connected from:127.0.0.1 (over 127.0.0.1) Using ID:3"));
  // The waiting user moved up when the controller left.
  EXPECT_EQ(waiting->ControlStatus(), std::make_pair(0, kNoLimit));
  waiting->WriteValue(2, 8.0f);
  EXPECT_EQ(waiting->ReadValue(2).first, 8.0f);
}

TEST_P(BothTransportsTest, BatchedRepliesComeInOneMessage) {
  RunningServer server;
  auto c = server.Connect(GetParam());
  c->U8(10).U8(3).Send();
  for (int i = 0; i < 3; ++i) c->U8(5).U16(1).Send();
  if (c->websocket()) {
    client::Frame frame = c->ReceiveFrame();
    EXPECT_EQ(frame.opcode, 2);
    EXPECT_TRUE(frame.fin);
    EXPECT_EQ(frame.payload.size(), 24u);
  } else {
    EXPECT_EQ(c->ReadBytes(24).size(), 24u);
    EXPECT_TRUE(c->Quiet(200));
  }
  c->U8(10).U8(0).Send();
  if (c->websocket()) {
    client::Frame frame = c->ReceiveFrame();  // an empty message at once
    EXPECT_EQ(frame.opcode, 2);
    EXPECT_EQ(frame.payload.size(), 0u);
  } else {
    EXPECT_TRUE(c->Quiet(300));  // nothing on plain TCP
  }
  EXPECT_EQ(c->ReadValue(1).first, 21.5f);
}

TEST_P(BothTransportsTest, WrongVersionAndMalformedRequestsEndOnlyThatConnection) {
  RunningServer server;
  auto bystander = server.Connect(GetParam());

  client::ProtocolClient old;
  old.Connect("127.0.0.1", server.port, GetParam());
  old.U16(99).U8(1).Str("").Send();
  EXPECT_EQ(old.ReadU8(), 3);
  std::string rest;
  EXPECT_TRUE(old.ReadUntilClosed(&rest));
  EXPECT_EQ(rest, "");

  struct Bad {
    const char* name;
    std::function<void(client::ProtocolClient&)> send;
  } cases[] = {
      {"code 9", [](client::ProtocolClient& c) { c.U8(9).Send(); }},
      {"code 21", [](client::ProtocolClient& c) { c.U8(21).Send(); }},
      {"string of 254",
       [](client::ProtocolClient& c) { c.U8(20).Str(std::string(254, 'x')).Send(); }},
  };
  uint32_t serial = 2;
  for (auto& bad : cases) {
    auto c = server.Connect(GetParam());
    ++serial;
    bad.send(*c);
    std::string bytes;
    EXPECT_TRUE(c->ReadUntilClosed(&bytes)) << bad.name;
    // No reply; a WebSocket connection only gets the Close frame.
    EXPECT_EQ(bytes, c->websocket() ? std::string("\x88\x00", 2) : "") << bad.name;
    EXPECT_TRUE(server.WaitForAudit("Users " + std::to_string(serial) + " connection closed"))
        << bad.name;
  }
  // A peer that closes in the middle of a request (half a channel number) ends through
  // the close path as well.
  {
    auto c = server.Connect(GetParam());
    ++serial;
    std::string request("\x05\x00\x01", 3);
    c->SendRaw(c->websocket() ? client::EncodeClientFrame(2, request).substr(0, 8)
                              : request.substr(0, 2));
    c->Close();
    EXPECT_TRUE(server.WaitForAudit("Users " + std::to_string(serial) + " connection closed"));
  }
  // A string of 253 bytes is fine.
  EXPECT_EQ(bystander->FindChannel(20, std::string(253, 'x')), 0);
  EXPECT_EQ(bystander->ReadValue(1).first, 21.5f);
  std::string audit = server.Audit();
  EXPECT_EQ(CountOf(audit, "Using ID:2"), 0u);  // the refused version left no trace
  EXPECT_EQ(CountOf(audit, "Users 2 connection closed"), 0u);
}

TEST_P(BothTransportsTest, ForwardedAddressOnlyFromTheLocalHost) {
  RunningServer server;
  client::Address proxied{10, 1, 2, 3};
  client::ProtocolClient c;
  c.Connect("127.0.0.1", server.port, GetParam());
  ASSERT_EQ(c.Hello(1, &proxied), 0);
  auto controllers = c.ListControllers();
  ASSERT_EQ(controllers.size(), 1u);
  EXPECT_EQ(controllers[0], proxied);
  EXPECT_TRUE(server.WaitForAudit("User connected from:10.1.2.3 (over 127.0.0.1) Using ID:1"));

  // 127.0.0.2 is this machine too, but not exactly 127.0.0.1.
  client::ProtocolClient other;
  other.Connect("127.0.0.1", server.port, GetParam(), {}, "127.0.0.2");
  other.U16(100).U8(2).U8(10).U8(1).U8(2).U8(3).U8(1).Str("").Send();
  std::string bytes;
  EXPECT_TRUE(other.ReadUntilClosed(&bytes));
  EXPECT_EQ(bytes, other.websocket() ? std::string("\x88\x00", 2) : "");
  EXPECT_TRUE(server.WaitForAudit("Users 2 connection closed"));

  client::ProtocolClient plain;
  plain.Connect("127.0.0.1", server.port, GetParam(), {}, "127.0.0.2");
  EXPECT_EQ(plain.Hello(3), 0);
  EXPECT_TRUE(server.WaitForAudit("User connected from:127.0.0.2 (over 127.0.0.2) Using ID:3"));
}

// The simulated device next to the test device: its channels are found, read and
// written like any other, and the write is audited.
TEST_P(BothTransportsTest, SimulatedDeviceChannels) {
  RunningServer server({}, /*withSimulator=*/true);
  auto c = server.Connect(GetParam());
  auto channels = c->ListChannels();
  EXPECT_EQ(channels.size(), 8u);
  uint16_t sine = c->FindChannel(3, "Simulator_Sine");
  uint16_t setpoint = c->FindChannel(4, "Simulator_Setpoint");
  ASSERT_NE(sine, 0);
  ASSERT_NE(setpoint, 0);
  EXPECT_EQ(channels.at(setpoint - 1).id, "Simulator_Setpoint");
  EXPECT_EQ(channels.at(setpoint - 1).flags & 2, 2);
  auto [value, time] = c->ReadValue(sine);
  EXPECT_GE(value, -1.0f);
  EXPECT_LE(value, 1.0f);
  EXPECT_TRUE(NearNow(time));
  EXPECT_TRUE(NearNow(c->WriteValueTimed(setpoint, 42.0f)));
  EXPECT_EQ(c->ReadValue(setpoint).first, 42.0f);
  EXPECT_TRUE(
      server.WaitForAudit("User 1 sets device ID:\"Simulator_Setpoint\" to value:42.000000"));
}

INSTANTIATE_TEST_SUITE_P(Serving, BothTransportsTest,
                         ::testing::Values(Transport::kTcp, Transport::kWebSocket), TransportName);

}  // namespace
}  // namespace orvexa::test
