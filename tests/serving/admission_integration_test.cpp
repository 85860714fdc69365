// Admission of connections by the real server: MaxClientCount, a place freed by a
// client that leaves (also while a burst holds the devices) or by one that never
// finishes its opening, the opening deadline and the openings per address (also behind
// the local proxy, IPv4 and IPv6), Hello answered while a burst holds the devices,
// Enable and device listing switched off, and the start-up failure when the port is
// taken.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>

#include "running_server.h"

namespace orvexa::test {
namespace {

// True when the server closes a fresh connection without sending anything.
bool RefusedAtOnce(int port, const std::string& from = "") {
  client::ProtocolClient c;
  c.ConnectRaw("127.0.0.1", port, from);
  std::string bytes;
  return c.ReadUntilClosed(&bytes, 5000) && bytes.empty();
}

TEST(AdmissionTest, MaxClientCountAndAFreedPlace) {
  RunningServer server({"/maxclient", "2"});
  auto a = server.Connect(Transport::kTcp);
  auto b = server.Connect(Transport::kWebSocket);
  EXPECT_TRUE(RefusedAtOnce(server.port));
  a->Close();
  EXPECT_TRUE(server.WaitForAudit("Users 1 connection closed"));
  auto c = server.Connect(Transport::kTcp);
  EXPECT_EQ(c->ReadValue(1).first, 21.5f);
  EXPECT_EQ(b->ReadValue(1).first, 21.5f);
}

TEST(AdmissionTest, AConnectionThatNeverOpensLosesItsPlace) {
  RunningServer server({"/maxclient", "2", "/conexp", "600"}, false,
                       "OrvexaConfig { OpeningTimeout = 1 }\n");
  client::ProtocolClient silent;
  silent.ConnectRaw("127.0.0.1", server.port);
  client::ProtocolClient halfUpgrade;  // stops in the middle of its upgrade request
  halfUpgrade.ConnectRaw("127.0.0.1", server.port);
  halfUpgrade.SendRaw("GET / HTTP/1.1\r\nUpgrade: websocket\r\n");
  EXPECT_TRUE(RefusedAtOnce(server.port));
  // The opening deadline, not the idle delay, ends them.
  EXPECT_TRUE(silent.WaitClosed(15000));
  EXPECT_TRUE(halfUpgrade.WaitClosed(15000));
  EXPECT_TRUE(server.WaitForAudit("Users 1 connection closed"));
  EXPECT_TRUE(server.WaitForAudit("Users 2 connection closed"));
  auto c = server.Connect(Transport::kTcp);
  EXPECT_EQ(c->ReadValue(1).first, 21.5f);
}

using Clock = std::chrono::steady_clock;

int64_t MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Only the opening is bounded by OpeningTimeout (the idle delay is 10 minutes here), and
// one address may have only MaxOpeningPerAddress connections in their opening; behind
// the local proxy they count under the X-Real-IP address once the handshake is read.
TEST(AdmissionTest, OpeningDeadlineAndOpeningsPerAddress) {
  RunningServer server({"/maxclient", "20", "/conexp", "600"}, false,
                       "OrvexaConfig { OpeningTimeout = 2 MaxOpeningPerAddress = 2 }\n");
  auto opened = server.Connect(Transport::kTcp);
  // Two proxied browsers past the upgrade, without Hello; a ping answered shows that
  // the worker has read the header and waits for Hello.
  ProtocolClient proxied[2];
  const Clock::time_point start = Clock::now();
  for (ProtocolClient& p : proxied) {
    p.Connect("127.0.0.1", server.port, Transport::kWebSocket, {"X-Real-IP: 10.9.9.9"});
    p.SendRaw(client::EncodeClientFrame(9, "x"));
    EXPECT_EQ(p.ReceiveFrame().opcode, 10);
  }
  // A third from that address is accepted (the proxy's own address is not counted at
  // accept) and then closed. An IPv6 address counts the same way.
  ProtocolClient third;
  third.Connect("127.0.0.1", server.port, Transport::kWebSocket, {"X-Real-IP: 10.9.9.9"});
  EXPECT_TRUE(third.WaitClosed(5000));
  ProtocolClient proxied6[3];
  for (ProtocolClient& p : proxied6) {
    p.Connect("127.0.0.1", server.port, Transport::kWebSocket, {"X-Real-IP: 2001:db8::7"});
    if (&p == &proxied6[2]) break;
    p.SendRaw(client::EncodeClientFrame(9, "x"));
    EXPECT_EQ(p.ReceiveFrame().opcode, 10);
  }
  EXPECT_TRUE(proxied6[2].WaitClosed(5000));
  // Another address's two openings; its third is closed at accept.
  ProtocolClient silent[2];
  for (ProtocolClient& s : silent) s.ConnectRaw("127.0.0.1", server.port, "127.0.0.2");
  EXPECT_TRUE(RefusedAtOnce(server.port, "127.0.0.2"));
  // The proxy's address is not limited at accept: three of its openings, then a client.
  ProtocolClient local[3];
  for (ProtocolClient& l : local) l.ConnectRaw("127.0.0.1", server.port);
  // Another address, the proxy's, and a client that had opened, are served meanwhile.
  ProtocolClient other;
  other.Connect("127.0.0.1", server.port, Transport::kTcp, {}, "127.0.0.3");
  EXPECT_EQ(other.Hello(), 0);
  EXPECT_EQ(server.Connect(Transport::kWebSocket)->ReadValue(1).first, 21.5f);
  EXPECT_EQ(opened->ReadValue(1).first, 21.5f);
  // Past the opening deadline every unopened connection is closed, long before the
  // idle delay; then 127.0.0.2 gets in again.
  for (ProtocolClient* c : {&proxied[0], &proxied[1], &proxied6[0], &proxied6[1], &silent[0],
                            &silent[1], &local[0], &local[1], &local[2]})
    EXPECT_TRUE(c->WaitClosed(10000));
  EXPECT_GE(MillisecondsSince(start), 1900);
  ProtocolClient again;
  again.Connect("127.0.0.1", server.port, Transport::kTcp, {}, "127.0.0.2");
  EXPECT_EQ(again.Hello(), 0);
  EXPECT_EQ(other.ReadValue(1).first, 21.5f);
}

// Starts a burst of `durationMs` on `bursting` and returns once it holds the devices:
// from then on a value read of `reader` waits for them (it is answered when the burst
// ends); before, it is answered at once.
bool StartBurstHoldingTheDevices(ProtocolClient& bursting, ProtocolClient& reader,
                                 uint32_t durationMs) {
  const uint16_t channel = reader.FindChannel(3, "Probe_Input");
  if (channel == 0) return false;
  bursting.U8(17).Str("sweep").U32(durationMs).Send();
  // On a loaded machine the burst's worker may run only after many reads: a deadline,
  // not a count of reads.
  const Clock::time_point start = Clock::now();
  while (MillisecondsSince(start) < std::min<int64_t>(durationMs / 2, 5000)) {
    reader.U8(5).U16(channel).Send();
    if (reader.Quiet(200)) return true;
    EXPECT_EQ(reader.ReadF32(), 21.5f);
    reader.ReadU32();
  }
  return false;
}

// A burst keeps the devices to itself; accepting, the handshake and Hello do not need
// them, so new clients are answered while the burst runs (the main thread's one-second
// tick, which needs the devices, does not hold up accepting either). Told by order, not
// by time: the burst has not answered yet when both Hellos have been.
TEST(AdmissionTest, HelloIsAnsweredWhileABurstHoldsTheDevices) {
  RunningServer server({}, true);
  auto bursting = server.Connect(Transport::kTcp);
  auto reader = server.Connect(Transport::kWebSocket);
  bursting->set_timeout_ms(30000);
  ASSERT_TRUE(StartBurstHoldingTheDevices(*bursting, *reader, 8000))
      << "the burst did not hold the devices";
  // Past at least one tick of the main thread's clock, which needs the devices too.
  ASSERT_TRUE(reader->Quiet(1100));
  for (Transport transport : {Transport::kTcp, Transport::kWebSocket}) {
    auto fresh = server.Connect(transport);
    EXPECT_NE(fresh, nullptr);
  }
  EXPECT_TRUE(bursting->Quiet(0)) << "the burst ended before the Hellos";
  EXPECT_NE(bursting->ReadU32(), 0u);  // the burst's experiment
  EXPECT_EQ(reader->ReadF32(), 21.5f);
}

// A client that leaves while a burst holds the devices gives its place back before the
// burst ends, even the only controller, whose leaving tells the plug-ins that control
// changed (a message that waits for the devices).
TEST(AdmissionTest, AClientLeavingDuringABurstFreesItsPlaceAtOnce) {
  RunningServer server({"/maxclient", "3"}, true);
  auto bursting = server.Connect(Transport::kTcp, 3);
  auto reader = server.Connect(Transport::kWebSocket, 3);
  auto leaving = server.Connect(Transport::kTcp);
  EXPECT_TRUE(RefusedAtOnce(server.port));
  bursting->set_timeout_ms(30000);
  ASSERT_TRUE(StartBurstHoldingTheDevices(*bursting, *reader, 8000))
      << "the burst did not hold the devices";
  leaving->Close();
  // The place goes back once the leaver's worker has seen the close: a newcomer may need
  // a few tries.
  bool admitted = false;
  for (int attempt = 0; attempt < 200 && !admitted && bursting->Quiet(20); ++attempt) {
    ProtocolClient newcomer;
    newcomer.ConnectRaw("127.0.0.1", server.port);
    newcomer.U16(100).U8(1).Str("").Send();
    try {
      admitted = newcomer.ReadU8() == 0;
    } catch (const client::ClientError&) {
    }
  }
  EXPECT_TRUE(admitted);
  EXPECT_TRUE(bursting->Quiet(0)) << "the burst ended before the newcomer was admitted";
  EXPECT_NE(bursting->ReadU32(), 0u);  // the burst's experiment
  EXPECT_EQ(reader->ReadF32(), 21.5f);
  EXPECT_TRUE(server.WaitForAudit("Users 3 connection closed"));
}

TEST(AdmissionTest, DisabledServerAndDisabledListing) {
  {
    RunningServer server({"/disable"});
    EXPECT_TRUE(RefusedAtOnce(server.port));
  }
  RunningServer server({"/disablelisting"});
  auto c = server.Connect(Transport::kTcp);
  c->U8(2).Send();
  EXPECT_EQ(c->ReadBytes(4), std::string(4, '\0'));
  EXPECT_TRUE(c->Quiet(200));
  EXPECT_EQ(c->FindChannel(3, "Probe_Input"), 1);  // finding still works
}

TEST(AdmissionTest, PortInUseStopsTheServerButSavesTheSettings) {
  RunningServer first;
  TempDir dir;
  CompletedRun run = RunServerToEnd(dir.path(), {"/port", std::to_string(first.port)});
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.err.find("Error: Socket creation failed"), std::string::npos) << run.err;
  EXPECT_EQ(run.out.find("Server running"), std::string::npos);
  EXPECT_TRUE(dir.Exists("orvexa.cfg"));
}

// A server out of descriptors refuses the next connection at once (instead of leaving it
// pending while the main loop is woken for it again and again) and serves on.
TEST(AdmissionTest, OutOfDescriptorsTheNextConnectionIsRefusedAndServingGoesOn) {
  rlimit original;
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &original), 0);
  rlimit low = original;
  low.rlim_cur = 48;  // inherited by the server
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  RunningServer server({"/maxclient", "200"});
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &original), 0);
  // One connection ends while descriptors are free: the undefined-behaviour sanitizer
  // checks the type of the first exception that ends a connection, and its check opens a
  // pipe, which a server out of descriptors cannot.
  server.Connect(Transport::kTcp).reset();
  ASSERT_TRUE(server.WaitForAudit("connection closed"));

  std::vector<std::unique_ptr<client::ProtocolClient>> clients;
  bool refused = false;
  for (int i = 0; i < 80 && !refused; ++i) {
    auto c = std::make_unique<client::ProtocolClient>();
    c->set_timeout_ms(5000);
    c->ConnectRaw("127.0.0.1", server.port);
    c->U16(100).U8(1).Str("").Send();
    try {
      ASSERT_EQ(c->ReadU8(), 0);
      clients.push_back(std::move(c));
    } catch (const client::ClientError& e) {
      ASSERT_EQ(std::string(e.what()), "connection closed by the server");
      refused = true;
    }
  }
  EXPECT_TRUE(refused);
  ASSERT_GT(clients.size(), 5u);
  EXPECT_EQ(clients.front()->ReadValue(1).first, 21.5f);
  clients.resize(clients.size() - 5);
  EXPECT_TRUE(server.WaitForAudit("connection closed", 6));
  auto fresh = server.Connect(Transport::kWebSocket);
  EXPECT_EQ(fresh->ReadValue(1).first, 21.5f);
}

}  // namespace
}  // namespace orvexa::test
