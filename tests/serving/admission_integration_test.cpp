// Admission of connections by the real server: MaxClientCount, a place freed by a
// client that leaves or by one that never finishes its opening, Enable and device
// listing switched off, and the start-up failure when the port is taken.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "running_server.h"

namespace orvexa::test {
namespace {

// True when the server closes a fresh connection without sending anything.
bool RefusedAtOnce(int port) {
  client::ProtocolClient c;
  c.ConnectRaw("127.0.0.1", port);
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
  RunningServer server({"/maxclient", "2", "/conexp", "1"});
  client::ProtocolClient silent;
  silent.ConnectRaw("127.0.0.1", server.port);
  client::ProtocolClient halfUpgrade;  // stops in the middle of its upgrade request
  halfUpgrade.ConnectRaw("127.0.0.1", server.port);
  halfUpgrade.SendRaw("GET / HTTP/1.1\r\nUpgrade: websocket\r\n");
  EXPECT_TRUE(RefusedAtOnce(server.port));
  // The idle delay applies before Hello too (checked every 5 s).
  EXPECT_TRUE(silent.WaitClosed(15000));
  EXPECT_TRUE(halfUpgrade.WaitClosed(15000));
  EXPECT_TRUE(server.WaitForAudit("Users 1 connection closed"));
  EXPECT_TRUE(server.WaitForAudit("Users 2 connection closed"));
  auto c = server.Connect(Transport::kTcp);
  EXPECT_EQ(c->ReadValue(1).first, 21.5f);
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
  EXPECT_TRUE(server.WaitForAudit("connection closed", 5));
  auto fresh = server.Connect(Transport::kWebSocket);
  EXPECT_EQ(fresh->ReadValue(1).first, 21.5f);
}

}  // namespace
}  // namespace orvexa::test
