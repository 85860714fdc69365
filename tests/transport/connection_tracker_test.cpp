// Admission bookkeeping: the count test and count-in, serial numbers, the end of
// connections that never finish their opening, the openings per address, and shutting
// every connection down.
#include "transport/connection_tracker.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/socket_pair_connection.h"

namespace orvexa {
namespace {

using Pair = test::SocketPairConnection;

TEST(ConnectionTrackerTest, AdmitsUpToTheLimitWithGrowingSerials) {
  ConnectionTracker tracker;
  EXPECT_EQ(tracker.Admit(2), 1u);
  EXPECT_EQ(tracker.Admit(2), 2u);
  EXPECT_FALSE(tracker.Admit(2).has_value());
  EXPECT_FALSE(tracker.Admit(0).has_value());
  tracker.Leave();
  EXPECT_EQ(tracker.Admit(2), 3u);  // a refused connection takes no serial number
  EXPECT_EQ(tracker.ActiveCount(), 2u);
}

TEST(ConnectionTrackerTest, EndsOnlyUnopenedConnectionsPastTheirDeadline) {
  ConnectionTracker tracker;
  Pair early, late, opened;
  tracker.Track(&early.socket, 1000);
  tracker.Track(&late.socket, 5000);
  tracker.Track(&opened.socket, 1000);
  tracker.MarkOpened(&opened.socket);
  EXPECT_EQ(tracker.ExpireUnopened(999), 0);
  EXPECT_EQ(tracker.ExpireUnopened(1000), 1);
  EXPECT_EQ(tracker.ExpireUnopened(2000), 0);  // once is enough
  EXPECT_TRUE(early.ShutDown());
  EXPECT_FALSE(late.ShutDown());
  EXPECT_FALSE(opened.ShutDown());
  tracker.Untrack(&late.socket);
  tracker.ShutdownAll();
  EXPECT_FALSE(late.ShutDown());  // left the set before: its handle is not touched
  EXPECT_TRUE(opened.ShutDown());
}

// An address holds a place while a connection of it is in its opening: until Hello is
// answered, the connection ends or its deadline passes. Behind the local proxy the place
// moves to the X-Real-IP address, if that one has room.
TEST(ConnectionTrackerTest, OpeningsPerAddress) {
  ConnectionTracker tracker;
  tracker.SetMaxOpeningPerAddress(2);
  const ConnectionTracker::Address local{127, 0, 0, 1}, real{10, 1, 2, 3}, other{10, 4, 5, 6};
  Pair a, b, c, d;
  // The local proxy's address is not counted at accept...
  for (Pair* p : {&a, &b, &c}) {
    ASSERT_TRUE(tracker.Admit(50, p->socket.handle, local));
    tracker.Track(&p->socket, 1000);
  }
  // ...but under the address its handshake names: the third of `real` does not fit.
  EXPECT_TRUE(tracker.Readdress(&a.socket, real));
  EXPECT_TRUE(tracker.Readdress(&b.socket, real));
  EXPECT_FALSE(tracker.Readdress(&c.socket, real));
  // Any other address is counted at accept; a refusal takes no serial and no count.
  ASSERT_TRUE(tracker.Admit(50, d.socket.handle, other));
  tracker.Track(&d.socket, 5000);
  ASSERT_TRUE(tracker.Admit(50, 901, other));
  EXPECT_FALSE(tracker.Admit(50, 902, other));
  EXPECT_EQ(tracker.ActiveCount(), 5u);
  EXPECT_EQ(tracker.LastSerial(), 5u);
  // Opened, ended or expired: each gives its place back.
  tracker.MarkOpened(&b.socket);
  tracker.Untrack(901);
  EXPECT_TRUE(tracker.Admit(50, 903, other));
  EXPECT_EQ(tracker.ExpireUnopened(1000), 2);  // a and c (b is opened, d not yet due)
  EXPECT_TRUE(a.ShutDown());
  EXPECT_FALSE(b.ShutDown());
  EXPECT_TRUE(tracker.Admit(50, 904, real));
  EXPECT_TRUE(tracker.Admit(50, 905, real));
  EXPECT_FALSE(tracker.Admit(50, 906, real));
}

TEST(ConnectionTrackerTest, WaitsUntilEveryWorkerHasLeft) {
  ConnectionTracker tracker;
  tracker.Admit(5);
  tracker.Admit(5);
  EXPECT_FALSE(tracker.WaitUntilAllLeft(std::chrono::milliseconds(20)));
  std::thread workers([&] {
    tracker.Leave();
    tracker.Leave();
  });
  EXPECT_TRUE(tracker.WaitUntilAllLeft(std::chrono::seconds(10)));
  workers.join();
}

}  // namespace
}  // namespace orvexa
