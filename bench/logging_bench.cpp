// Costs of the logging storage, measured against baselines in the same run:
//  1. One periodic pass over 100 logging channels: Append + Flush (msync) on each of
//     100 real 120000012-byte log files, printed as a fraction of the one-second budget
//     of the periodic logger, next to the same pass without the flush.
//  2. SampleLog appends per second in ring mode at capacity 10000 (the fast-sample
//     buffer at its default size, full, so every append also drops the oldest sample),
//     against a plain std::deque push_back/pop_front of the same samples.
// The log files go to a temporary folder (sparse files) that is removed at the end.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "logging/log_file.h"
#include "logging/sample_log.h"

namespace {

using Clock = std::chrono::steady_clock;
using orvexa::LogFile;
using orvexa::SampleLog;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// Median of the pass times, robust against a noisy shared machine.
double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void PeriodicPass(const std::string& folder) {
  constexpr int kChannels = 100;
  constexpr int kPasses = 30;
  std::vector<std::unique_ptr<LogFile>> logs;
  for (int i = 0; i < kChannels; ++i) {
    logs.push_back(std::make_unique<LogFile>(folder + "/channel" + std::to_string(i) + ".log"));
    if (!logs.back()->Open(false)) {
      std::printf("log file could not be opened: %s\n", logs.back()->LastError().c_str());
      return;
    }
  }
  std::vector<double> withFlush;
  std::vector<double> appendOnly;
  uint32_t time = 1700000000;
  for (int pass = 0; pass < kPasses; ++pass) {
    auto begin = Clock::now();
    for (auto& log : logs) {
      log->Append(time, 0.5f * pass);
      log->Flush();
    }
    withFlush.push_back(Seconds(Clock::now() - begin));
    ++time;
    begin = Clock::now();
    for (auto& log : logs) log->Append(time, 0.5f * pass);
    appendOnly.push_back(Seconds(Clock::now() - begin));
    ++time;
  }
  double pass = Median(withFlush);
  double bare = Median(appendOnly);
  std::printf("periodic pass, 100 channels (append + flush): %.3f ms = %.4f of the 1 s budget\n",
              pass * 1e3, pass / 1.0);
  std::printf("  same pass without flush: %.4f ms; flush/no-flush ratio %.0f\n", bare * 1e3,
              bare > 0 ? pass / bare : 0.0);
}

void SampleQueue() {
  constexpr uint32_t kCapacity = 10000;
  constexpr uint32_t kAppends = 20000000;
  SampleLog ring(kCapacity, true);
  for (uint32_t i = 0; i < kCapacity; ++i) ring.Append(i, 1.0f);
  auto begin = Clock::now();
  for (uint32_t i = 0; i < kAppends; ++i) ring.Append(i, static_cast<float>(i & 1023));
  double ringTime = Seconds(Clock::now() - begin);

  std::deque<SampleLog::Sample> plain;
  for (uint32_t i = 0; i < kCapacity; ++i) plain.push_back({i, i, 1.0f});
  uint32_t sequence = kCapacity;
  begin = Clock::now();
  for (uint32_t i = 0; i < kAppends; ++i) {
    plain.push_back({sequence++, i, static_cast<float>(i & 1023)});
    plain.pop_front();
  }
  double plainTime = Seconds(Clock::now() - begin);
  // Keep both results alive so the loops are not optimized away.
  volatile uint32_t sink = ring.FromNewest(0).sequence + plain.back().sequence;
  (void)sink;

  double ringRate = kAppends / ringTime;
  double plainRate = kAppends / plainTime;
  std::printf("SampleLog ring appends at capacity 10000: %.1f M/s\n", ringRate / 1e6);
  std::printf("std::deque push_back/pop_front baseline:  %.1f M/s\n", plainRate / 1e6);
  std::printf("  SampleLog / baseline time ratio: %.2f\n", ringTime / plainTime);
  std::printf("  (3999 Hz on 100 channels needs %.4f M/s: %.5f of the measured rate)\n",
              3999 * 100 / 1e6, 3999.0 * 100 / ringRate);
}

}  // namespace

int main() {
  std::string pattern = (std::filesystem::temp_directory_path() / "orvexa-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  PeriodicPass(pattern);
  std::error_code ignored;
  std::filesystem::remove_all(pattern, ignored);
  SampleQueue();
  return 0;
}
