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
  const ConnectionTracker::Address local{127, 0, 0, 1}, real{10, 1, 2, 3};
  Pair a, b, c, d;
  ASSERT_TRUE(tracker.Admit(50, a.socket.handle, local));
  tracker.Track(&a.socket, 1000);
  ASSERT_TRUE(tracker.Admit(50, b.socket.handle, local));
  tracker.Track(&b.socket, 1000);
  EXPECT_FALSE(tracker.Admit(50, c.socket.handle, local));  // no serial, no count
  EXPECT_TRUE(tracker.Admit(50, c.socket.handle, real));
  tracker.Track(&c.socket, 1000);
  EXPECT_EQ(tracker.ActiveCount(), 3u);
  EXPECT_EQ(tracker.LastSerial(), 3u);
  // a moves to the real address (which has c), b cannot follow: real is full.
  EXPECT_TRUE(tracker.Readdress(&a.socket, real));
  EXPECT_FALSE(tracker.Readdress(&b.socket, real));
  ASSERT_TRUE(tracker.Admit(50, d.socket.handle, local));  // a's place was given back
  tracker.Track(&d.socket, 5000);
  EXPECT_FALSE(tracker.Admit(50, 901, local));
  // Opened, ended or expired: each gives its place back.
  tracker.MarkOpened(&b.socket);
  tracker.Untrack(&c.socket);
  EXPECT_EQ(tracker.ExpireUnopened(1000), 1);  // a (b is opened)
  EXPECT_TRUE(a.ShutDown());
  EXPECT_FALSE(b.ShutDown());
  EXPECT_TRUE(tracker.Admit(50, 901, local));
  EXPECT_TRUE(tracker.Admit(50, 902, real));
  EXPECT_TRUE(tracker.Admit(50, 903, real));
  EXPECT_FALSE(tracker.Admit(50, 904, real));
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
