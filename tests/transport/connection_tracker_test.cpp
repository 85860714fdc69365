// Admission bookkeeping: the count test and count-in, serial numbers, the end of
// connections that never finish their opening, and shutting every connection down.
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
