// PriorityInheritanceMutex: ordinary threads pass the gate first, urgent threads and timed
// waits go to the inner lock directly; all of them must still exclude one another, and the
// recursion count must survive the mix.
#include "platform/priority_inheritance_mutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace orvexa {
namespace {

using namespace std::chrono_literals;

TEST(PriorityInheritanceMutexTest, GatedUrgentAndTimedHoldersExcludeEachOther) {
  PriorityInheritanceMutex mutex(PriorityInheritanceMutex::Kind::kRecursive);
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  long counter = 0;  // guarded by `mutex` alone
  std::atomic<long> entries{0};
  auto critical = [&] {
    if (inside.fetch_add(1) != 0) overlapped = true;
    ++counter;
    ++entries;
    inside.fetch_sub(1);
  };
  constexpr int kRounds = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        std::lock_guard<PriorityInheritanceMutex> outer(mutex);
        std::lock_guard<PriorityInheritanceMutex> nested(mutex);  // the recursion, counted
        critical();
      }
    });
  }
  threads.emplace_back([&] {
    PriorityInheritanceMutex::MarkCallingThreadUrgent();
    for (int i = 0; i < kRounds; ++i) {
      std::lock_guard<PriorityInheritanceMutex> outer(mutex);
      // An ordinary entry point used while held: no gate, no second hold.
      std::unique_lock<PriorityInheritanceMutex> nested(mutex, std::try_to_lock);
      EXPECT_TRUE(nested.owns_lock());
      critical();
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      std::unique_lock<PriorityInheritanceMutex> hold(mutex, std::defer_lock);
      if (i % 2 ? hold.try_lock_for(2ms) : hold.try_lock()) critical();
    }
  });
  for (std::thread& t : threads) t.join();
  EXPECT_FALSE(overlapped.load());
  EXPECT_EQ(counter, entries.load());

  // Held elsewhere: neither a try nor a bounded wait takes it, and both leave it usable.
  std::unique_lock<PriorityInheritanceMutex> held(mutex);
  std::thread([&] {
    EXPECT_FALSE(mutex.try_lock());
    EXPECT_FALSE(mutex.try_lock_for(5ms));
  }).join();
  EXPECT_TRUE(mutex.try_lock_for(0ms));  // the holder re-enters at once
  mutex.unlock();
  held.unlock();
  std::thread([&] {
    ASSERT_TRUE(mutex.try_lock_for(1s));
    mutex.unlock();
    std::lock_guard<PriorityInheritanceMutex> again(mutex);
  }).join();
}

}  // namespace
}  // namespace orvexa
