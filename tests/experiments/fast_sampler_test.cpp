// The fast pass on a hand-moved counter: due groups only, one sample per pass, missed
// samples skipped, recordings fed with the tick x 100, plug-in ticks, buffers sized by
// FastLogSize; and the sampling thread on the real clock (samples arrive, stop ends it).
#include "logging/fast_sampler.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include "app/background_threads.h"
#include "base/server_lock.h"
#include "logging/experiment_lock.h"
#include "platform/clock.h"
#include "platform/waitable_flag.h"
#include "probe_fixture.h"

namespace orvexa::test {
namespace {

class FastSamplerTest : public ProbeTest {
 protected:
  void FastLog(const char* id, int frequency, int size = 10000) {
    ConfigValue* entry = Settings(id);
    SetBool(entry, "FastLogEnabled", true);
    SetInt(entry, "FastLogFreq", frequency);
    SetInt(entry, "FastLogSize", size);
  }
  const SampleLog& Buffer(const char* id) { return registry->Channel(Index(id)).fastSamples; }
  static constexpr int64_t kMs = 1'000'000;
};

TEST_F(FastSamplerTest, SamplesDueGroupsOnlyAndSkipsMissedSamples) {
  AddPlugin("Probe");
  FastLog("Probe_counter", 100);
  FastLog("Probe_level", 100);  // shares the 100 Hz group
  FastLog("Probe_frees", 0);    // the 1 Hz group
  Discover();
  FastSampler sampler(schedule);
  const int64_t t0 = g_probeCounter;
  std::optional<int64_t> due = sampler.FastPass();  // both groups due at once
  ASSERT_TRUE(due.has_value());
  EXPECT_EQ(*due, t0 + 10 * kMs);
  EXPECT_EQ(Buffer("Probe_counter").Count(), 1u);
  EXPECT_EQ(Buffer("Probe_level").Count(), 1u);
  EXPECT_EQ(Buffer("Probe_frees").Count(), 1u);
  EXPECT_EQ(Buffer("Probe_counter").FromNewest(0).time, static_cast<uint32_t>(t0 / kMs));

  g_probeCounter = t0 + 9 * kMs;
  sampler.FastPass();
  EXPECT_EQ(Buffer("Probe_counter").Count(), 1u);
  g_probeCounter = t0 + 10 * kMs;
  sampler.FastPass();
  EXPECT_EQ(Buffer("Probe_counter").Count(), 2u);
  EXPECT_EQ(Buffer("Probe_frees").Count(), 1u);
  // A stall of 95 ms gives one sample, and the next is one period later, not a burst.
  g_probeCounter = t0 + 105 * kMs;
  due = sampler.FastPass();
  EXPECT_EQ(Buffer("Probe_counter").Count(), 3u);
  EXPECT_EQ(*due, t0 + 115 * kMs);
  sampler.FastPass();
  EXPECT_EQ(Buffer("Probe_counter").Count(), 3u);
  // Values come from the plug-in, read once per sample: 1, 2, 3.
  EXPECT_EQ(Buffer("Probe_counter").FromNewest(0).value, 3.0f);
  EXPECT_EQ(Buffer("Probe_counter").FromNewest(0).sequence, 2u);
}

TEST_F(FastSamplerTest, RecordingsGetTheTickTimesHundredAndOffChannelsNothing) {
  AddPlugin("Probe");
  FastLog("Probe_counter", 1000);
  Discover();
  SampleLog recording(100, false);
  DeviceChannel& counter = registry->Channel(Index("Probe_counter"));
  DeviceChannel& level = registry->Channel(Index("Probe_level"));
  counter.AttachRecording(&recording);
  FastSampler::FastSample(counter, 4000);
  FastSampler::FastSample(level, 4000);  // fast logging off: nothing at all
  EXPECT_EQ(level.fastSamples.Count(), 0u);
  ASSERT_EQ(recording.Count(), 1u);
  EXPECT_EQ(recording.FromOldest(0).time, 400000u);
  EXPECT_EQ(counter.fastSamples.FromOldest(0).time, 4000u);
  // Switched off: no more samples, the buffer keeps what it has.
  counter.fastLogEnabled = false;
  FastSampler::FastSample(counter, 4001);
  EXPECT_EQ(counter.fastSamples.Count(), 1u);
  EXPECT_EQ(recording.Count(), 1u);
  counter.DetachRecording(&recording);

  // A channel that feeds no recording is sampled while a reader holds ExperimentLock.
  counter.fastLogEnabled = true;
  std::mutex m;
  std::condition_variable cv;
  bool held = false, sampled = false, holderGaveUp = false;
  std::thread holder([&] {
    std::lock_guard<PriorityInheritanceMutex> experiments(ExperimentLock());
    std::unique_lock<std::mutex> lock(m);
    held = true;
    cv.notify_all();
    holderGaveUp = !cv.wait_for(lock, std::chrono::seconds(10), [&] { return sampled; });
  });
  {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return held; });
  }
  FastSampler::FastSample(counter, 4002);
  {
    std::lock_guard<std::mutex> lock(m);
    sampled = true;
  }
  cv.notify_all();
  holder.join();
  EXPECT_FALSE(holderGaveUp) << "the sampler waited for ExperimentLock";
  EXPECT_EQ(counter.fastSamples.Count(), 2u);
}

TEST_F(FastSamplerTest, BufferFollowsFastLogSizeAndNegativeSizeKeepsNothing) {
  AddPlugin("Probe");
  FastLog("Probe_counter", 3999, 5);
  Discover();
  DeviceChannel& counter = registry->Channel(Index("Probe_counter"));
  for (uint32_t k = 0; k < 20; ++k) FastSampler::FastSample(counter, k);
  EXPECT_EQ(counter.fastSamples.Count(), 5u);
  EXPECT_EQ(counter.fastSamples.FromOldest(0).sequence, 15u);
  counter.fastLogSize = 2;
  FastSampler::FastSample(counter, 21);
  EXPECT_EQ(counter.fastSamples.Count(), 2u);
  counter.fastLogSize = -1;
  FastSampler::FastSample(counter, 22);
  EXPECT_EQ(counter.fastSamples.Count(), 0u);
}

// A reader copying the buffer never holds the sampler up: what is sampled meanwhile
// waits, and enters the buffer in order, with its own times, once the lock is free.
TEST_F(FastSamplerTest, SamplesTakenWhileAReaderHoldsTheBufferFollowInOrder) {
  AddPlugin("Probe");
  FastLog("Probe_counter", 3999, 100);
  Discover();
  DeviceChannel& counter = registry->Channel(Index("Probe_counter"));
  FastSampler::FastSample(counter, 1);
  std::promise<void> held, release;
  std::thread reader([&] {
    std::lock_guard<MovableMutex> hold(counter.fastSamplesLock);
    held.set_value();
    release.get_future().wait();
  });
  held.get_future().wait();
  FastSampler::FastSample(counter, 2);  // returns at once: the reader has the lock
  FastSampler::FastSample(counter, 3);
  release.set_value();
  reader.join();
  EXPECT_EQ(counter.fastSamples.Count(), 1u);
  FastSampler::FastSample(counter, 4);
  ASSERT_EQ(counter.fastSamples.Count(), 4u);
  for (uint32_t k = 0; k < 4; ++k) {
    EXPECT_EQ(counter.fastSamples.FromOldest(k).sequence, k);
    EXPECT_EQ(counter.fastSamples.FromOldest(k).time, k + 1);
  }
}

TEST_F(FastSamplerTest, PluginsThatAskForTicksGetThemAtTheirFrequency) {
  setenv("PROBE_TICK_HZ", "5000", 1);  // joins the 3999 Hz group
  AddPlugin("Probe");
  Discover();
  unsetenv("PROBE_TICK_HZ");
  FastSampler sampler(schedule);
  const int64_t t0 = g_probeCounter;
  for (int k = 0; k < 10; ++k) {
    g_probeCounter = t0 + k * (1'000'000'000 / 3999);
    sampler.FastPass();
  }
  EXPECT_EQ(Read("Probe_ticks"), 10.0f);
}

TEST_F(FastSamplerTest, NothingActiveMeansNoPassAndNoDeadline) {
  AddPlugin("Probe");
  Discover();
  FastSampler sampler(schedule);
  EXPECT_FALSE(sampler.FastPass().has_value());
}

// The sampling thread on the real clock: samples arrive while it runs, a channel enabled
// while it idles is picked up after Wake, and the stop flag with Stop ends it.
TEST(FastSamplerLoopTest, SamplesOnTheRealClockAndStops) {
  FastSchedule schedule;
  ASSERT_TRUE(schedule.PrepareFastSchedule());
  DeviceChannel channel;
  channel.fastLogEnabled = true;
  channel.fastLogSize = 100000;
  FastSampler sampler(schedule);
  std::atomic<int> wakes{0};
  schedule.SetActivationListener([&] {
    ++wakes;
    sampler.Wake();
  });
  WaitableFlag stop, housekeepingFinished, samplingFinished;
  std::atomic<bool> running{true};
  BackgroundClocks clocks;
  clocks.stop = &stop;
  clocks.serverRunning = &running;
  clocks.housekeepingFinished = &housekeepingFinished;
  clocks.samplingFinished = &samplingFinished;
  clocks.fastPass = [&](int64_t nowNs) { return sampler.NextRun(nowNs); };
  clocks.sleepUntil = [&](int64_t deadlineNs) { sampler.SleepUntil(deadlineNs); };
  auto threads = std::make_unique<BackgroundThreads>(clocks);
  ASSERT_TRUE(threads->StartSampling());
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // idle, nothing active
  {
    std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
    schedule.AddChannelToGroup(&channel, 2000);
  }
  EXPECT_EQ(wakes.load(), 1);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    {
      std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
      if (channel.fastSamples.Count() >= 50) break;
    }
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no samples arrived";
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // The order of the shutdown: the stop flag, then the sampler's own stop.
  stop.Set();
  sampler.Stop();
  EXPECT_TRUE(samplingFinished.WaitFor(std::chrono::seconds(10)));
  threads.reset();
  std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
  schedule.RemoveChannelFromGroup(&channel, 2000);
  schedule.AddChannelToGroup(&channel, 2000);  // active again: the listener hears it
  EXPECT_EQ(wakes.load(), 2);
  schedule.RemoveChannelFromGroup(&channel, 2000);
}

// The sampling thread's sleep until the next due time ends early when a group is added
// (Wake): a wake while it sleeps, and one that came before the sleep. Without a wake the
// sleep lasts until its deadline.
TEST(FastSamplerLoopTest, WakeEndsTheSleepUntilTheNextDueTime) {
  FastSchedule schedule;
  FastSampler sampler(schedule);
  std::atomic<bool> done{false};
  const int64_t start = MonotonicNanoseconds();
  std::thread sleeper([&] {
    sampler.SleepUntil(start + 30'000'000'000);  // half a minute
    done = true;
  });
  // Repeated, because the first wake may come just before the sleep has begun. (Without
  // wakes the test fails after 20 s and the sleep ends 10 s later.)
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done.load() && std::chrono::steady_clock::now() < deadline) {
    sampler.Wake();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(done.load()) << "the wake did not end the sleep";
  sleeper.join();

  // A wake with nobody asleep ends the next sleep at once, and only that one.
  sampler.Wake();
  std::thread again([&] {
    sampler.SleepUntil(MonotonicNanoseconds() + 600'000'000'000);
    const int64_t due = MonotonicNanoseconds() + 20'000'000;
    sampler.SleepUntil(due);
    EXPECT_GE(MonotonicNanoseconds(), due);
  });
  again.join();
}

}  // namespace
}  // namespace orvexa::test
