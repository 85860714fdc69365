// The headless main loop: posted work from other threads, timers that are never
// re-entered, descriptor watches, and the termination signals that end a run.
#include "app/main_loop.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/termination_signals.h"

namespace orvexa {
namespace {

using std::chrono::milliseconds;

TEST(MainLoopTest, PostedWorkRunsOnTheLoopThreadInOrderAndQuitEndsTheRun) {
  MainLoop loop;
  ASSERT_TRUE(loop.ok());
  const auto loopThread = std::this_thread::get_id();
  std::vector<int> seen[2];
  std::atomic<int> wrongThread{0};
  std::vector<std::thread> posters;
  for (int t = 0; t < 2; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < 1000; ++i)
        loop.Post([&, t, i] {
          if (std::this_thread::get_id() != loopThread) ++wrongThread;
          seen[t].push_back(i);
        });
    });
  }
  std::thread quitter([&] {
    for (auto& p : posters) p.join();
    loop.Post([&] { loop.Quit(); });
  });
  EXPECT_EQ(loop.Run(), 0);
  quitter.join();
  EXPECT_EQ(wrongThread.load(), 0);
  for (auto& s : seen) {
    ASSERT_EQ(s.size(), 1000u);
    for (int i = 0; i < 1000; ++i) EXPECT_EQ(s[i], i);
  }
}

TEST(MainLoopTest, QuitBeforeRunReturnsAtOnce) {
  MainLoop loop;
  loop.Quit();
  EXPECT_EQ(loop.Run(), 0);
}

TEST(MainLoopTest, SlowTimerIsNotReenteredAndLateTicksAreDropped) {
  MainLoop loop;
  int depth = 0, maxDepth = 0, ticks = 0;
  int timer = loop.AddTimer(milliseconds(5), [&] {
    ++depth;
    maxDepth = std::max(maxDepth, depth);
    ++ticks;
    // A tick that outlasts several periods and keeps the loop busy meanwhile.
    loop.RunUntil([] { return false; }, milliseconds(30));
    --depth;
  });
  loop.RunUntil([&] { return ticks >= 3; }, milliseconds(5000));
  loop.RemoveTimer(timer);
  EXPECT_GE(ticks, 3);
  EXPECT_EQ(maxDepth, 1);
}

TEST(MainLoopTest, TimerCanRemoveItselfAndOthersKeepRunning) {
  MainLoop loop;
  int once = 0, other = 0;
  int self = 0;
  self = loop.AddTimer(milliseconds(1), [&] {
    ++once;
    loop.RemoveTimer(self);
  });
  loop.AddTimer(milliseconds(1), [&] { ++other; });
  loop.RunUntil([&] { return other >= 5; }, milliseconds(5000));
  EXPECT_EQ(once, 1);
  EXPECT_GE(other, 5);
}

TEST(MainLoopTest, WatchedDescriptorCallsBackUntilUnwatched) {
  MainLoop loop;
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  int calls = 0;
  int watch = 0;
  watch = loop.WatchFd(fds[0], POLLIN, [&](short revents) {
    EXPECT_TRUE(revents & POLLIN);
    char byte;
    EXPECT_EQ(::read(fds[0], &byte, 1), 1);
    if (++calls == 2) loop.UnwatchFd(watch);
  });
  std::thread writer([&] {
    for (int i = 0; i < 3; ++i) EXPECT_EQ(::write(fds[1], "x", 1), 1);
  });
  writer.join();
  loop.RunUntil([&] { return calls >= 2; }, milliseconds(5000));
  loop.RunUntil([] { return false; }, milliseconds(20));
  EXPECT_EQ(calls, 2) << "no callback after UnwatchFd";
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(MainLoopTest, TerminationSignalEndsTheRun) {
  ASSERT_TRUE(BlockTerminationSignals().ok);
  {
    MainLoop loop;
    ASSERT_TRUE(loop.EnableTerminationSignals().ok);
    ::kill(::getpid(), SIGTERM);  // stays pending: blocked in this only thread
    EXPECT_EQ(loop.Run(), SIGTERM);
  }
  UnblockTerminationSignals();
}

}  // namespace
}  // namespace orvexa
