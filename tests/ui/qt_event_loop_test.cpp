// The main loop's Qt backend: posted work from other threads runs on the main thread in
// order, timers are not re-entered, descriptor watches report readiness, RunUntil waits
// while serving work, and Quit ends the run from any thread, closing a modal dialog
// that is still open.
#include "ui/qt_event_loop.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <atomic>
#include <thread>
#include <vector>

#include "app/main_loop.h"

namespace orvexa {
namespace {

using std::chrono::milliseconds;

TEST(QtEventLoopTest, PostedWorkRunsOnTheMainThreadInOrderAndQuitEndsTheRun) {
  QtEventLoop backend;
  MainLoop loop;
  loop.SetBackend(&backend);
  const auto mainThread = std::this_thread::get_id();
  std::vector<int> seen;
  std::atomic<int> wrongThread{0};
  std::thread poster([&] {
    for (int i = 0; i < 500; ++i)
      loop.Post([&, i] {
        if (std::this_thread::get_id() != mainThread) ++wrongThread;
        seen.push_back(i);
      });
    loop.Post([&] { loop.Quit(); });
  });
  EXPECT_EQ(loop.Run(), 0);
  poster.join();
  EXPECT_EQ(wrongThread.load(), 0);
  ASSERT_EQ(seen.size(), 500u);
  for (int i = 0; i < 500; ++i) ASSERT_EQ(seen[i], i);
  EXPECT_TRUE(loop.QuitRequested());
  // Quit before the run: the run returns at once.
  EXPECT_EQ(loop.Run(), 0);
}

TEST(QtEventLoopTest, TimersTickAndAreNotReenteredWatchesSeeReadableDescriptors) {
  QtEventLoop backend;
  MainLoop loop;
  loop.SetBackend(&backend);
  int ticks = 0;
  int depth = 0;
  int deepest = 0;
  int timer = loop.AddTimer(milliseconds(5), [&] {
    ++ticks;
    deepest = std::max(deepest, ++depth);
    // A callback that runs a nested loop (as a modal box does) for a few periods.
    if (ticks == 1) loop.RunUntil([] { return false; }, milliseconds(30));
    --depth;
  });
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  int readable = 0;
  int watch = loop.WatchFd(fds[0], POLLIN, [&](short revents) {
    char byte;
    if (revents & POLLIN && read(fds[0], &byte, 1) == 1) ++readable;
  });
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  EXPECT_TRUE(loop.RunUntil([&] { return ticks >= 4 && readable == 1; }, milliseconds(5000)));
  EXPECT_EQ(deepest, 1);
  loop.RemoveTimer(timer);
  loop.UnwatchFd(watch);
  int after = ticks;
  ASSERT_EQ(write(fds[1], "y", 1), 1);
  loop.RunUntil([] { return false; }, milliseconds(30));
  EXPECT_EQ(ticks, after);
  EXPECT_EQ(readable, 1);
  close(fds[0]);
  close(fds[1]);
}

TEST(QtEventLoopTest, QuitFromAnotherThreadClosesAnOpenModalDialog) {
  QtEventLoop backend;
  MainLoop loop;
  loop.SetBackend(&backend);
  int dialogResult = -1;
  loop.Post([&] {
    QDialog dialog;
    std::thread quitter([&] {
      std::this_thread::sleep_for(milliseconds(20));
      loop.Quit();
    });
    dialogResult = dialog.exec();
    quitter.join();
  });
  EXPECT_EQ(loop.Run(), 0);
  EXPECT_EQ(dialogResult, QDialog::Rejected);
}

}  // namespace
}  // namespace orvexa
