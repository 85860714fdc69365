#include "phase_runner.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

namespace orvexa::interference {
namespace {

// Between a ReadValue reply and the next request: the client is well-behaved, not a flood.
constexpr int kReadValuePauseMs = 2;

}  // namespace

PhaseRunner::PhaseRunner(const BenchContext& context, pid_t server)
    : c_(context),
      server_(server),
      slow_(context, context.slow, context.slowHz),
      fast_(context, context.fast, context.fastHz),
      prober_(context) {}

bool PhaseRunner::Alive() const {
  return soak::SampleProcess(server_).has_value();
}

soak::ProcessSample PhaseRunner::Sample() const {
  return soak::SampleProcess(server_).value_or(soak::ProcessSample{});
}

bool PhaseRunner::StartReaders() {
  slow_.Start();
  fast_.Start();
  const int64_t now = NowMs();
  return slow_.WaitPast(now, 10000) && fast_.WaitPast(now, 10000);
}

void PhaseRunner::StopReaders() {
  slow_.Stop();
  fast_.Stop();
}

PhaseResult PhaseRunner::Measure(double seconds) {
  PhaseResult r;
  const soak::ProcessSample before = Sample();
  const uint64_t lostBefore = slow_.lost() + fast_.lost();
  const uint64_t errorsBefore = prober_.errors();
  const int64_t from = NowMs();
  r.value = LatencySummary::Of(prober_.Measure(seconds, kReadValuePauseMs));
  const int64_t to = NowMs();
  const soak::ProcessSample after = Sample();
  // The samples stamped up to `to` are read by the first poll that starts after it.
  slow_.WaitPast(to + 20, 60000);
  fast_.WaitPast(to + 20, 60000);
  r.slow = slow_.Measure(from, to);
  r.fast = fast_.Measure(from, to);
  r.valueErrors = prober_.errors() - errorsBefore;
  r.lost = slow_.lost() + fast_.lost() - lostBefore;
  r.cpuPercent = 100.0 * (after.cpuSeconds - before.cpuSeconds) / ((to - from) / 1000.0);
  r.rssMb = after.rssMb;
  r.rssAnonMb = after.rssAnonMb;
  return r;
}

PhaseResult PhaseRunner::Loaded(const std::vector<FloodKind>& kinds, int count, double seconds,
                                bool print) {
  std::vector<std::unique_ptr<FloodClient>> flooders;
  for (int i = 0; i < count; ++i) {
    flooders.push_back(std::make_unique<FloodClient>(c_, kinds[i % kinds.size()],
                                                     static_cast<uint32_t>(7919 * (i + 1))));
    flooders.back()->Start();
  }
  const int64_t begin = NowMs();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  PhaseResult r = Measure(seconds);
  for (auto& f : flooders) f->RequestStop();
  for (auto& f : flooders) f->Join();
  if (!print) return r;
  const double flooded = (NowMs() - begin) / 1000.0;
  std::printf("  %-38s %8s %8s %9s %9s %7s\n", "flood (all clients of a kind)", "clients",
              "cycles/s", "p50 ms", "max ms", "errors");
  for (FloodKind kind : kinds) {
    int clients = 0;
    uint64_t cycles = 0, errors = 0;
    std::vector<double> durations;
    for (const auto& f : flooders) {
      if (f->kind() != kind) continue;
      ++clients;
      cycles += f->cycles();
      errors += f->errors();
      durations.insert(durations.end(), f->durations().begin(), f->durations().end());
    }
    const LatencySummary s = LatencySummary::Of(durations);
    std::printf("  %-38s %8d %8.1f %9.2f %9.2f %7llu\n", FloodKindName(kind), clients,
                cycles / flooded, s.p50, s.max, (unsigned long long)errors);
  }
  return r;
}

PhaseResult PhaseRunner::Spinning(int threads, double seconds) {
  std::atomic<bool> stop{false};
  std::vector<std::thread> spinners;
  for (int i = 0; i < threads; ++i)
    spinners.emplace_back([&stop] {
      while (!stop.load(std::memory_order_relaxed)) {
      }
    });
  PhaseResult r = Measure(seconds);
  stop = true;
  for (auto& t : spinners) t.join();
  return r;
}

void PrintComparison(const BenchContext& c, const PhaseResult& a, const PhaseResult& l) {
  auto row = [](const std::string& name, double alone, double loaded, int decimals) {
    std::printf("  %-34s %10.*f %10.*f   %8.3f\n", name.c_str(), decimals, alone, decimals, loaded,
                alone != 0 ? loaded / alone : 0.0);
  };
  const std::string slow = std::to_string(c.slowHz) + " Hz";
  const std::string fast = std::to_string(c.fastHz) + " Hz";
  std::printf("  %-34s %10s %10s   %8s\n", "", "alone", "loaded", "loaded/alone");
  row("fast rate " + slow + " (%)", a.slow.ratePercent, l.slow.ratePercent, 2);
  row("fast rate " + fast + " (%)", a.fast.ratePercent, l.fast.ratePercent, 2);
  row("largest gap " + slow + " (periods)", a.slow.largestGapPeriods, l.slow.largestGapPeriods, 1);
  row("step p99 " + slow + " (ms)", a.slow.stepP99Ms, l.slow.stepP99Ms, 0);
  row("largest gap " + fast + " (ms)", a.fast.largestGapMs, l.fast.largestGapMs, 0);
  row("ReadValue p50 (ms)", a.value.p50, l.value.p50, 3);
  row("ReadValue p99 (ms)", a.value.p99, l.value.p99, 3);
  row("ReadValue max (ms)", a.value.max, l.value.max, 1);
  row("ReadValue round trips", static_cast<double>(a.value.count),
      static_cast<double>(l.value.count), 0);
  row("server CPU (% of one core)", a.cpuPercent, l.cpuPercent, 0);
  row("server RSS at the end (MB)", a.rssMb, l.rssMb, 1);
  std::printf(
      "  samples the readers missed: %llu alone, %llu loaded; ReadValue failures: %llu alone, "
      "%llu loaded\n",
      (unsigned long long)a.lost, (unsigned long long)l.lost, (unsigned long long)a.valueErrors,
      (unsigned long long)l.valueErrors);
}

}  // namespace orvexa::interference
