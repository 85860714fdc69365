// Fast sampling benchmark: the server's sampling thread (real-time priority where
// permitted, absolute-deadline sleeps, 1 ns timer slack) driving real plug-in reads, in
// two scenarios:
//   A. one channel at 3999 Hz,
//   B. 100 channels spread over 10 frequencies (100 .. 3999 Hz, 10 channels each).
// Printed per scenario: achieved samples as a fraction of the requested rate (target
// >= 0.995), the lateness of each group's pass after its due time (p50, p99; target p99
// <= 200 us), and the sampling thread's CPU time as a fraction of one core, beside a
// busy-spinning pacer (the same pass called back to back) measured in the same run;
// their ratio should stay <= 0.1.
//
//   build/bench/fast_sampling_bench [seconds per scenario, default 10]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/background_threads.h"
#include "base/server_lock.h"
#include "host/device_registry.h"
#include "host/plugin_discovery.h"
#include "logging/fast_sampler.h"
#include "logging/fast_schedule.h"
#include "platform/clock.h"
#include "platform/thread_timing.h"

using namespace orvexa;

namespace {

struct Result {
  double rateFraction = 0;
  double p50us = 0, p99us = 0;
  double cpuFraction = 0;
};

double Percentile(std::vector<int64_t>& values, double p) {
  if (values.empty()) return 0;
  size_t k = static_cast<size_t>(p * (values.size() - 1));
  std::nth_element(values.begin(), values.begin() + k, values.end());
  return values[k] / 1000.0;
}

// Channels that read through the Probe plug-in's "counter" function.
class Channels {
 public:
  explicit Channels(DeviceRegistry& registry) : template_(registry.Channel(0)) {}
  DeviceChannel& Add() {
    DeviceChannel& c = channels_.emplace_back();
    c.readFunction = template_.readFunction;
    c.readParam = template_.readParam;
    c.owner = template_.owner;
    c.readable = true;
    c.fastLogEnabled = true;
    c.fastLogSize = 10000;
    return c;
  }
  std::deque<DeviceChannel>& all() { return channels_; }

 private:
  DeviceChannel& template_;
  std::deque<DeviceChannel> channels_;
};

Result RunScenario(DeviceRegistry& registry, const std::vector<int>& frequencies,
                   int channelsPerFrequency, double seconds, bool spin) {
  FastSchedule schedule;
  schedule.PrepareFastSchedule();
  Channels channels(registry);
  std::vector<std::pair<DeviceChannel*, int>> placed;
  {
    std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
    for (int f : frequencies)
      for (int k = 0; k < channelsPerFrequency; ++k) {
        DeviceChannel& c = channels.Add();
        schedule.AddChannelToGroup(&c, f);
        placed.emplace_back(&c, f);
      }
  }
  FastSampler sampler(schedule);
  std::vector<int64_t> lateness;
  lateness.reserve(static_cast<size_t>(seconds * 4000 * frequencies.size()) + 1000);
  sampler.SetLatenessObserver([&lateness](int64_t late) {
    if (lateness.size() < lateness.capacity()) lateness.push_back(late);
  });
  std::atomic<bool> stop{false};
  std::atomic<pthread_t> samplingThread{};
  std::atomic<bool> started{false};
  // The paced run is the server's own sampling thread (real-time priority where
  // permitted, 1 ns timer slack, absolute deadlines); the spinner calls the same pass
  // back to back at the same priority.
  WaitableFlag stopRequested, housekeepingFinished, samplingFinished;
  std::atomic<bool> running{true};
  BackgroundClocks clocks;
  clocks.stop = &stopRequested;
  clocks.serverRunning = &running;
  clocks.housekeepingFinished = &housekeepingFinished;
  clocks.samplingFinished = &samplingFinished;
  clocks.fastPass = [&](int64_t now) {
    if (!started.exchange(true)) samplingThread = pthread_self();
    return sampler.NextRun(now);
  };
  clocks.sleepUntil = [&sampler](int64_t deadline) { sampler.SleepUntil(deadline); };
  std::unique_ptr<BackgroundThreads> threads;
  std::thread spinner;
  const int64_t start = MonotonicNanoseconds();
  if (spin) {
    spinner = std::thread([&] {
      TryRealtimePriority();
      while (!stop.load(std::memory_order_relaxed)) sampler.FastPass();
    });
    samplingThread = spinner.native_handle();
    started = true;
  } else {
    threads = std::make_unique<BackgroundThreads>(clocks);
    threads->StartSampling();
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const int64_t cpu = started ? ThreadCpuNanoseconds(samplingThread.load()) : 0;
  const int64_t elapsed = MonotonicNanoseconds() - start;
  stop = true;
  stopRequested.Set();
  sampler.Stop();
  if (spinner.joinable()) spinner.join();
  threads.reset();

  Result result;
  double fractionSum = 0;
  {
    std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
    for (auto& [channel, f] : placed) {
      const double expected = elapsed / 1e9 * f;
      fractionSum += std::min(1.0, channel->fastSamples.NextSequence() / expected);
      schedule.RemoveChannelFromGroup(channel, f);
    }
  }
  result.rateFraction = fractionSum / placed.size();
  result.p50us = Percentile(lateness, 0.50);
  result.p99us = Percentile(lateness, 0.99);
  result.cpuFraction = static_cast<double>(cpu) / elapsed;
  return result;
}

// The floor under any sleeping pacer on this machine: a thread that only sleeps to
// absolute deadlines `wakeups` times a second (same priority and slack), nothing else.
double BareWakeupCpu(double wakeups, double seconds) {
  double fraction = 0;
  std::thread thread([&] {
    TryRealtimePriority();
    SetTimerSlackNanoseconds(1);
    const int64_t period = static_cast<int64_t>(1e9 / wakeups);
    const int64_t start = MonotonicNanoseconds();
    int64_t due = start;
    while (due - start < static_cast<int64_t>(seconds * 1e9)) {
      due += period;
      SleepUntilMonotonic(due);
    }
    fraction = static_cast<double>(ThreadCpuNanoseconds(pthread_self())) /
               (MonotonicNanoseconds() - start);
  });
  thread.join();
  return fraction;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
  // The Probe test plug-in gives real plug-in reads (an exported function, a lock).
  const std::string folder = std::filesystem::temp_directory_path() /
                             ("fast_sampling_bench_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(std::string(ORVEXA_BUILD_DIR) + "/tests/experiment_plugins/Probe.ldp",
                             folder + "/Probe.ldp",
                             std::filesystem::copy_options::overwrite_existing);
  DeviceRegistry registry;
  PluginHostContext context;
  context.folder = folder;
  if (!LoadPlugin(registry, "Probe.ldp", context) || registry.ChannelCount() == 0) {
    std::fprintf(stderr, "cannot load %s/Probe.ldp (build the tests first)\n", folder.c_str());
    return 1;
  }

  std::printf("fast sampling, %.0f s per scenario\n", seconds);
  const std::vector<int> spread = {100, 200, 500, 1000, 1500, 2000, 2500, 3000, 3500, 3999};
  struct Scenario {
    const char* name;
    std::vector<int> frequencies;
    int perFrequency;
    double wakeups;  // due events per second when the groups' phases never meet
  } scenarios[] = {{"A: 1 channel at 3999 Hz", {3999}, 1, 3999},
                   {"B: 100 channels over 10 frequencies", spread, 10, 17799}};
  for (const Scenario& s : scenarios) {
    Result paced = RunScenario(registry, s.frequencies, s.perFrequency, seconds, false);
    Result spinner =
        RunScenario(registry, s.frequencies, s.perFrequency, std::min(seconds, 3.0), true);
    std::printf("%s\n", s.name);
    std::printf("  achieved rate / requested   %.4f   (target >= 0.995)\n", paced.rateFraction);
    std::printf("  lateness p50 / p99          %.1f us / %.1f us   (target p99 <= 200 us)\n",
                paced.p50us, paced.p99us);
    std::printf("  sampling thread CPU         %.4f of a core; busy-spinning pacer %.4f\n",
                paced.cpuFraction, spinner.cpuFraction);
    std::printf("  CPU ratio sampler/spinner   %.4f   (target <= 0.1)\n",
                spinner.cpuFraction > 0 ? paced.cpuFraction / spinner.cpuFraction : 0.0);
    const double floor = BareWakeupCpu(s.wakeups, std::min(seconds, 2.0));
    std::printf("  for scale: a bare sleep loop at %.0f wake-ups/s uses %.4f of a core here\n",
                s.wakeups, floor);
  }
  registry.UnloadAll();
  std::filesystem::remove_all(folder);
  return 0;
}
