// The user table at work in the real server: idle expiry with its audit line, the
// rotation of the control turn, the plug-in messages, and the orderly shutdown with
// clients connected, also past a device call that never returns.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "running_server.h"

namespace orvexa::test {
namespace {

TEST(SessionsTest, IdleConnectionExpiresWhileABusyOneStays) {
  RunningServer server({"/conexp", "2"});
  auto idle = server.Connect(Transport::kWebSocket);
  auto busy = server.Connect(Transport::kTcp);
  // Every request restarts the busy client's idle time-out.
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  bool closed = false;
  while (!closed && std::chrono::steady_clock::now() < end) {
    EXPECT_EQ(busy->ReadValue(1).first, 21.5f);
    closed = idle->WaitClosed(200);
  }
  EXPECT_TRUE(closed);
  EXPECT_TRUE(server.WaitForAudit("Connection for user 0 expired"));
  EXPECT_TRUE(server.WaitForAudit("Users 1 connection closed"));
  EXPECT_EQ(busy->ReadValue(1).first, 21.5f);
  EXPECT_EQ(CountOf(server.Audit(), "expired"), 1u);
}

TEST(SessionsTest, ControlTurnRotatesAndPlugInsHearOfIt) {
  RunningServer server({"/limitcontrol", "/maxusage", "2", "/conexp", "60"});
  auto a = server.Connect(Transport::kTcp);
  // Hello is answered before the user is entered in the table: a's first answer to a
  // request of its own shows it is in, ahead of b.
  EXPECT_EQ(a->ControlStatus().first, 0);
  auto b = server.Connect(Transport::kWebSocket);
  EXPECT_EQ(b->ControlStatus().first, 1);  // b is registered once it has an answer
  auto [state, left] = a->ControlStatus();
  EXPECT_EQ(state, 0);
  EXPECT_LE(left, 2u);
  // Within one maintenance pass after the turn ends, b takes over and a waits.
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (b->ControlStatus().first != 0 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(b->ControlStatus().first, 0);
  EXPECT_EQ(a->ControlStatus().first, 1);
  b->WriteValue(2, 4.0f);
  EXPECT_EQ(a->ReadValue(2).first, 4.0f);
  std::string probe = server.ProbeLog();
  EXPECT_GE(CountOf(probe, "message 1 0"), 2u);  // a's turn, then b's
  EXPECT_GE(CountOf(probe, "message 2 0"), 1u);  // once a second: somebody is there
}

TEST(SessionsTest, OrderlyShutdownWithClientsConnected) {
  RunningServer server;
  auto tcp = server.Connect(Transport::kTcp);
  auto ws = server.Connect(Transport::kWebSocket);
  client::ProtocolClient opening;  // still in its opening, in no user table
  opening.ConnectRaw("127.0.0.1", server.port);
  // A busy client keeps reading while the server goes down.
  std::atomic<bool> running{true};
  auto busy = server.Connect(Transport::kTcp);
  std::thread reader([&] {
    try {
      while (running) busy->ReadValue(2);
    } catch (const client::ClientError&) {
    }
  });
  ASSERT_TRUE(server.WaitForAudit("Using ID:4"));

  server.process->Signal(SIGTERM);
  EXPECT_TRUE(tcp->WaitClosed(10000));
  EXPECT_TRUE(ws->WaitClosed(10000));
  EXPECT_TRUE(opening.WaitClosed(10000));
  auto status = server.process->WaitForExit();
  running = false;
  reader.join();
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 0);

  std::string audit = server.Audit();
  size_t stopped = audit.find("Server stoped");
  ASSERT_NE(stopped, std::string::npos);
  for (int serial = 1; serial <= 4; ++serial) {
    size_t closed = audit.find("Users " + std::to_string(serial) + " connection closed");
    EXPECT_NE(closed, std::string::npos) << serial;
    EXPECT_LT(closed, stopped) << serial;
  }
  std::string probe = server.ProbeLog();
  EXPECT_EQ(CountOf(probe, "done"), 1u);
  EXPECT_EQ(CountOf(probe, "call after done"), 0u);
  EXPECT_TRUE(server.dir.Exists("orvexa.cfg"));
}

// A write that hangs inside the plug-in holds the devices and the user table for good:
// the shutdown still ends, in order and with status 0, and saves the settings; the
// plug-ins stay loaded (LDPDone must not run beside the hung call).
TEST(SessionsTest, ShutdownEndsPastADeviceCallThatNeverReturns) {
  // The server leaves the hung threads behind on purpose; under ThreadSanitizer (whose
  // options the server inherits) that is no leak to report.
  const char* sanitizer = std::getenv("TSAN_OPTIONS");
  const bool hadOptions = sanitizer != nullptr;
  const std::string previous = hadOptions ? sanitizer : "";
  setenv("TSAN_OPTIONS", (previous + ":report_thread_leaks=0").c_str(), 1);
  RunningServer server({"/maxclient", "7"});
  if (hadOptions)
    setenv("TSAN_OPTIONS", previous.c_str(), 1);
  else
    unsetenv("TSAN_OPTIONS");
  auto hung = server.Connect(Transport::kTcp);
  auto other = server.Connect(Transport::kWebSocket);
  hung->WriteValue(2, -86400.0f);  // the probe's hanging value
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (CountOf(server.ProbeLog(), "hang") == 0 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ(CountOf(server.ProbeLog(), "hang"), 1u);

  server.process->Signal(SIGTERM);
  EXPECT_TRUE(other->WaitClosed(10000));
  auto status = server.process->WaitForExit(std::chrono::seconds(60));
  ASSERT_TRUE(status.has_value()) << "the shutdown did not end\n" << server.process->Stderr();
  EXPECT_EQ(*status, 0) << server.process->Stderr();
  EXPECT_NE(server.Audit().find("Server stoped"), std::string::npos);
  EXPECT_NE(server.dir.Read("orvexa.cfg").find("MaxClientCount=7"), std::string::npos);
  EXPECT_EQ(CountOf(server.ProbeLog(), "done"), 0u);
}

}  // namespace
}  // namespace orvexa::test
