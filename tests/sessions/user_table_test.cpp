// The user table's rules: ids, who controls, queue times, removal and kick, idle expiry
// and turn rotation, plug-in notifications and the client rows.
#include "sessions/user_table.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "sessions/audit_log.h"
#include "support/socket_pair_connection.h"
#include "support/temp_dir.h"

namespace orvexa {
namespace {

// A connection whose far end tells whether the table shut it down.
using FakeConnection = test::SocketPairConnection;

struct Fixture {
  explicit Fixture(UserTableSettings settings = {}) { table.ApplySettings(settings); }
  uint32_t Add(FakeConnection& c, bool observer = false, IpAddress address = {10, 0, 0, 1}) {
    return table.AddUser(0, address, &c.socket, observer, false);
  }
  std::vector<std::string> RowTexts() {
    std::vector<std::string> texts;
    for (const auto& r : table.Rows().rows) texts.push_back(r.text);
    return texts;
  }
  int64_t now = 1000000;
  std::vector<std::pair<int, int>> messages;
  UserTable table{nullptr,
                  [this](int code, int arg) {
                    messages.push_back({code, arg});
                  },
                  [this] { return now; }};
};

UserTableSettings Limited(bool limitUsage = true) {
  UserTableSettings s;
  s.limitMultipleControl = true;
  s.limitUsage = limitUsage;
  s.maxUsageTime = 100;
  s.expirationDelay = 60;
  return s;
}

TEST(UserTableTest, IdsStartAt123AndAreNeverReused) {
  Fixture f;
  FakeConnection a, b;
  EXPECT_EQ(f.Add(a), 123u);
  f.table.RemoveBySocket(&a.socket);
  EXPECT_EQ(f.Add(b), 124u);
}

TEST(UserTableTest, ControlRuleAndRowText) {
  FakeConnection a, b, c;
  {
    Fixture f;  // no limit: every non-observer controls
    f.Add(a, true, {127, 0, 0, 1});
    f.Add(b, false, {10, 1, 2, 3});
    f.Add(c);
    EXPECT_EQ(f.RowTexts(), (std::vector<std::string>{"127.000.000.001 _RD", "010.001.002.003 C_D",
                                                      "010.000.000.001 C_D"}));
    EXPECT_FALSE(f.table.IsInControl(&a.socket));
    EXPECT_TRUE(f.table.IsInControl(&c.socket));
  }
  {
    Fixture f(Limited());
    f.Add(a, true);
    f.Add(b);
    f.Add(c);
    EXPECT_FALSE(f.table.IsInControl(&a.socket));
    EXPECT_TRUE(f.table.IsInControl(&b.socket));
    EXPECT_FALSE(f.table.IsInControl(&c.socket));
    EXPECT_EQ(f.RowTexts()[2], "010.000.000.001 __D");
    FakeConnection unknown;
    EXPECT_FALSE(f.table.IsInControl(&unknown.socket));
  }
}

TEST(UserTableTest, TurnsStartOnlyWhenAControllerArrivesInAnEmptyTableOrLeaves) {
  Fixture f(Limited());
  FakeConnection observer, a, b;
  f.Add(observer, true);
  f.Add(a);  // the table is not empty: no new turn
  EXPECT_TRUE(f.messages.empty());
  f.table.RemoveBySocket(&observer.socket);
  EXPECT_TRUE(f.messages.empty());  // a non-observer is left
  f.Add(b);
  f.table.RemoveBySocket(&b.socket);  // a waiting user leaves: nothing changes
  EXPECT_TRUE(f.messages.empty());
  f.table.RemoveBySocket(&a.socket);  // the controller leaves
  EXPECT_EQ(f.messages, (std::vector<std::pair<int, int>>{{1, 0}}));
  FakeConnection c;
  f.Add(c);
  EXPECT_EQ(f.messages.size(), 2u);
}

TEST(UserTableTest, QueueInfoAndWaitingTimes) {
  FakeConnection a, b, c, observer, unknown;
  uint32_t time = 7;
  {
    Fixture f;
    f.Add(a);
    EXPECT_EQ(f.table.QueueInfo(&a.socket, &time), 0);
    EXPECT_EQ(time, UserTable::kNoLimit);
    EXPECT_EQ(f.table.QueueInfo(&unknown.socket, &time), -1);
    EXPECT_EQ(time, 0u);
  }
  Fixture f(Limited());
  f.Add(observer, true);
  f.Add(a);  // turn not restarted: started by nobody yet, deadline stays 0
  f.table.RemoveBySocket(&observer.socket);
  f.Add(observer, true);
  EXPECT_EQ(f.table.QueueInfo(&a.socket, &time), 0);
  EXPECT_EQ(time, UserTable::kNoLimit);  // alone: no limit
  f.Add(b);
  f.Add(c);
  f.table.RemoveBySocket(&a.socket);  // b takes control at `now`: deadline now + 100
  f.now += 30;
  EXPECT_EQ(f.table.QueueInfo(&b.socket, &time), 0);
  EXPECT_EQ(time, 70u);
  EXPECT_EQ(f.table.QueueInfo(&observer.socket, &time), 0);  // observer in front of b
  EXPECT_EQ(time, 0u);
  FakeConnection late, watcher;
  f.Add(late);
  f.Add(watcher, true);
  EXPECT_EQ(f.table.QueueInfo(&c.socket, &time), 1);
  EXPECT_EQ(time, 70u);
  EXPECT_EQ(f.table.QueueInfo(&late.socket, &time), 1);
  EXPECT_EQ(time, 170u);
  EXPECT_EQ(f.table.QueueInfo(&watcher.socket, &time), 1);
  EXPECT_EQ(time, 270u);
  f.now += 500;  // the turn is over but not yet rotated: never a negative time
  EXPECT_EQ(f.table.QueueInfo(&b.socket, &time), 0);
  EXPECT_EQ(time, 0u);
  EXPECT_EQ(f.table.QueueInfo(&c.socket, &time), 1);
  EXPECT_EQ(time, 0u);
  auto addresses = f.table.ActiveAddresses();
  EXPECT_EQ(addresses.size(), 3u);
}

TEST(UserTableTest, ExpiryShutsTheConnectionOnceAndWritesTheAuditLine) {
  test::TempDir dir;
  AuditLog audit;
  ASSERT_TRUE(audit.Open(dir.File("users.log")));
  int64_t now = 5000;
  UserTable table(&audit, nullptr, [&now] { return now; });
  UserTableSettings settings;
  settings.expirationDelay = 10;
  table.ApplySettings(settings);
  FakeConnection idle, busy;
  table.AddUser(0, {10, 0, 0, 1}, &idle.socket, false, false);
  table.AddUser(0, {10, 0, 0, 2}, &busy.socket, false, false);
  now += 9;
  table.Touch(&busy.socket);
  table.MaintenancePass();
  EXPECT_FALSE(idle.ShutDown());
  now += 1;
  table.MaintenancePass();
  table.MaintenancePass();
  EXPECT_TRUE(idle.ShutDown());
  EXPECT_FALSE(busy.ShutDown());
  EXPECT_FALSE(idle.socket.open);
  EXPECT_EQ(table.Count(), 2u);  // the worker's close path removes the entry
  audit.Close();
  std::string log = dir.Read("users.log");
  EXPECT_NE(log.find("Connection for user 0 expired"), std::string::npos);
  EXPECT_EQ(log.find("expired"), log.rfind("expired"));
}

TEST(UserTableTest, RotationMovesTheFrontUserToTheEndWhenTheTurnIsOver) {
  Fixture f(Limited());
  FakeConnection a, b;
  f.Add(a, false, {1, 1, 1, 1});
  f.Add(b, false, {2, 2, 2, 2});
  f.now += 99;
  f.table.MaintenancePass();
  EXPECT_TRUE(f.table.IsInControl(&a.socket));
  f.now += 1;
  f.table.MaintenancePass();
  EXPECT_TRUE(f.table.IsInControl(&b.socket));
  EXPECT_EQ(f.RowTexts(), (std::vector<std::string>{"002.002.002.002 C_D", "001.001.001.001 __D"}));
  EXPECT_EQ(f.messages.size(), 2u);
  // Without LimitUsage the turn never ends.
  Fixture g(Limited(false));
  g.Add(a);
  g.Add(b);
  g.now += 1000;
  g.table.MaintenancePass(false);
  EXPECT_TRUE(g.table.IsInControl(&a.socket));
}

TEST(UserTableTest, KickRemovesOnlyThatUserAndRemoveAllEndsEveryone) {
  Fixture f;
  FakeConnection a, b, c;
  f.Add(a);
  uint32_t second = f.Add(b);
  f.Add(c);
  f.table.RequestKick(second);
  f.table.MaintenancePass(/*windowClosing=*/true);
  EXPECT_TRUE(b.ShutDown());
  EXPECT_FALSE(a.ShutDown());
  EXPECT_EQ(f.table.Count(), 2u);
  f.table.MaintenancePass();  // the kick is not repeated
  EXPECT_EQ(f.table.Count(), 2u);
  f.messages.clear();
  f.table.RemoveAll();
  EXPECT_TRUE(a.ShutDown());
  EXPECT_TRUE(c.ShutDown());
  EXPECT_EQ(f.table.Count(), 0u);
  EXPECT_EQ(f.messages, (std::vector<std::pair<int, int>>{{1, 0}}));
}

TEST(UserTableTest, PresenceMessageTellsWhetherAnybodyIsConnected) {
  Fixture f;
  f.table.NotifyPresence();
  FakeConnection a;
  f.Add(a, true);
  f.table.NotifyPresence();
  EXPECT_EQ(f.messages, (std::vector<std::pair<int, int>>{{2, 1}, {2, 0}}));
}

// The main thread may hold ServerLock for long (a plug-in's modal configuration dialog)
// while a worker holds the table lock and waits for ServerLock: what the main thread's
// tick and accept paths call must not wait for the table lock.
TEST(UserTableTest, ClockAndAcceptCallsNeverWaitForTheTableLock) {
  Fixture f(Limited());
  FakeConnection a;
  uint32_t id = f.Add(a);
  std::unique_lock<Mutex> held(f.table.Lock());  // a worker's check-and-write
  auto calls = std::async(std::launch::async, [&] {
    f.table.NotifyPresence();
    f.table.RequestKick(id);
    return f.table.ExpirationDelay();
  });
  bool done = calls.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  held.unlock();
  EXPECT_TRUE(done);
  EXPECT_EQ(calls.get(), 60);
  EXPECT_EQ(f.messages.back(), (std::pair<int, int>{2, 0}));
  f.table.MaintenancePass();  // serves the kick
  EXPECT_TRUE(a.ShutDown());
  EXPECT_EQ(f.table.Count(), 0u);
}

TEST(UserTableTest, RowsListenerRunsOutsideTheLockWithGrowingGenerations) {
  Fixture f;
  std::vector<ClientRows> seen;
  f.table.SetRowsListener([&](const ClientRows& rows) {
    bool free = f.table.Lock().try_lock();
    EXPECT_TRUE(free);
    if (free) f.table.Lock().unlock();
    seen.push_back(rows);
  });
  FakeConnection a, b;
  uint32_t id = f.Add(a);
  f.Add(b);
  f.table.RemoveById(id);
  // A settings change rebuilds the rows (clearing the operator's selection) only when
  // it changes who may be in control.
  UserTableSettings settings;
  settings.expirationDelay = 30;
  f.table.ApplySettings(settings);
  ASSERT_EQ(seen.size(), 3u);
  settings.limitMultipleControl = true;
  f.table.ApplySettings(settings);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_LT(seen[0].generation, seen[1].generation);
  EXPECT_LT(seen[1].generation, seen[2].generation);
  ASSERT_EQ(seen[2].rows.size(), 1u);
  EXPECT_EQ(seen[2].rows[0].id, id + 1);
}

}  // namespace
}  // namespace orvexa
