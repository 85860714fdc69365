// Interference benchmark: how much hostile clients disturb the fast sampler, a
// well-behaved client and admissions. The real server (build/orvexa, headless, in a
// folder of its own, /port 0) with Simulator.ldp, Simulator_Sine logged every second into
// a log prefilled with 15,000,000 records, Simulator_Ramp fast-sampled at 100 Hz and
// Simulator_Output at 3999 Hz. Phases:
//   alone    the fast samplers' achieved rate and largest gap, from the server's own
//            sample times read gap-free, and a well-behaved client's ReadValue p50/p99,
//            with nothing else going on;
//   memory   50 clients each ask for a 4 M-sample ReadExperiment reply and never read
//            it: the server's memory with them, and 10 s after they left, against its
//            idle figure;
//   loaded   the alone figures again while 20 clients flood the heaviest requests
//            (history mode 1 and 2 over the whole log, unread 4 M-sample experiment
//            reads, whole fast-sample buffers, connect/disconnect churn); the ratios
//            loaded/alone;
//   floor    the same count of threads only spinning in this process: ReadValue with both
//            cores busy but no flood, the part of the loaded latency that is scheduling;
//   set back 2 clients loop ReadHistory mode 1 over Simulator_Setpoint's log (14 M
//            records, the clock set back by 2 s once, so not all in time order) while
//            the logger appends to it every second: the alone figures against the same
//            targets;
//   by kind  (--by-kind) the loaded phase once per kind of flood, to see which request
//            stalls what;
//   burst    a 10 s RunBurst while new clients connect: each one's connect + Hello time.
// Ends with a Markdown table of the targets, PASS or MISS. Exit status 0 whatever the
// figures; 1 when the server could not start, crashed or did not stop cleanly.
// Memory is the server's own (RssAnon): the pages of the mapped log that the history
// reads touch count in RSS too, but are the kernel's to drop. The memory phase stops
// opening clients once the server's RSS passes --rss-cap (the machine is shared).
//
//   build/bench/interference [--alone S=10] [--loaded S=10] [--flooders N=20]
//                            [--holders N=50] [--by-kind] [--rss-cap MB=1500] [--keep]
//                            [--server PATH]   (another orvexa binary, e.g. an older one)
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_context.h"
#include "flood_client.h"
#include "hello_probe.h"
#include "latency_summary.h"
#include "logging/log_file.h"
#include "phase_runner.h"
#include "reply_holders.h"
#include "support/server_process.h"
#include "target_table.h"

using namespace orvexa;
using namespace orvexa::interference;
using soak::ProcessSample;

namespace {

constexpr int kBurstMs = 10000;
constexpr int kBurstProbes = 9;
constexpr int kSettleAfterHoldersMs = 10000;

struct Options {
  double aloneSeconds = 10, loadedSeconds = 10;
  int flooders = 20, holders = 50;
  double rssCapMb = 1500;
  bool byKind = false, keep = false;
  std::string server;  // empty: the one built beside this benchmark
};

[[noreturn]] void Usage() {
  std::fprintf(stderr,
               "usage: interference [--alone S] [--loaded S] [--flooders N] [--holders N] "
               "[--by-kind] [--rss-cap MB] [--keep] [--server PATH]\n");
  std::exit(2);
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--by-kind") {
      o.byKind = true;
      continue;
    }
    if (a == "--keep") {
      o.keep = true;
      continue;
    }
    if (i + 1 >= argc) Usage();
    const char* v = argv[++i];
    if (a == "--alone")
      o.aloneSeconds = std::max(2.0, std::atof(v));
    else if (a == "--loaded")
      o.loadedSeconds = std::max(2.0, std::atof(v));
    else if (a == "--flooders")
      o.flooders = std::clamp(std::atoi(v), 1, 100);
    else if (a == "--holders")
      o.holders = std::clamp(std::atoi(v), 1, 100);
    else if (a == "--rss-cap")
      o.rssCapMb = std::max(200.0, std::atof(v));
    else if (a == "--server")
      o.server = v;
    else
      Usage();
  }
  return o;
}

std::string Config(const BenchContext& c, int maxClients) {
  return "OrvexaConfig {\n  MaxClientCount = " + std::to_string(maxClients) +
         "\n  ConectionExpirationDelay = 60\n  LogingInfo = struct {\n"
         "    Simulator_Sine = struct {\n      LogingEnabled = true  LogFileName = "
         "\"Simulator_Sine.log\"  TimeBetweenLogs = 0\n    }\n"
         "    Simulator_Setpoint = struct {\n      LogingEnabled = true  LogFileName = "
         "\"Simulator_Setpoint.log\"  TimeBetweenLogs = 0\n    }\n"
         "    Simulator_Ramp = struct {\n      FastLogEnabled = true  FastLogFreq = " +
         std::to_string(c.slowHz) + "  FastLogSize = " + std::to_string(c.slowBuffer) +
         "\n    }\n    Simulator_Output = struct {\n      FastLogEnabled = true  FastLogFreq = " +
         std::to_string(c.fastHz) + "  FastLogSize = " + std::to_string(c.fastBuffer) +
         "\n    }\n  }\n}\n";
}

// A log of `count` records, one a second up to a second ago. With `stepBackAt`, the
// clock went back by 2 s before that record (the one record out of time order).
bool Prefill(const std::string& path, uint32_t count, std::optional<uint32_t> stepBackAt,
             uint32_t* oldest) {
  LogFile log(path);
  if (!log.Open(true, kLogCapacity)) {
    std::fprintf(stderr, "cannot create the log: %s\n", log.LastError().c_str());
    return false;
  }
  *oldest = CalendarTime32() - count + (stepBackAt ? 2 : 0);
  for (uint32_t k = 0; k < count; ++k) {
    const uint32_t time = *oldest + k - (stepBackAt && k >= *stepBackAt ? 2 : 0);
    log.Append(time, static_cast<float>(static_cast<int32_t>(k % 512) - 256) / 256.0f);
  }
  log.Flush();
  return true;
}

// The flood targets of a phase against the alone figures; `when` names the flood.
void AddFloodTargets(const BenchContext& c, const PhaseResult& alone, const PhaseResult& loaded,
                     const std::string& when, TargetTable& table) {
  const auto rate = [&](const FastStreamReader::Window& a, const FastStreamReader::Window& l) {
    return Format("%.2f %% (x%.3f)", l.ratePercent,
                  a.ratePercent > 0 ? l.ratePercent / a.ratePercent : 0);
  };
  table.Add(Format("Fast-sample rate at %d Hz, %s", c.slowHz, when.c_str()),
            rate(alone.slow, loaded.slow), Format("alone: %.2f %%", alone.slow.ratePercent),
            ">= 99.5 %", loaded.slow.ratePercent >= 99.5);
  table.Add(Format("Fast-sample rate at %d Hz, %s", c.fastHz, when.c_str()),
            rate(alone.fast, loaded.fast), Format("alone: %.2f %%", alone.fast.ratePercent),
            ">= 99.5 %", loaded.fast.ratePercent >= 99.5);
  table.Add(
      Format("Largest fast-sample gap at %d Hz, %s", c.slowHz, when.c_str()),
      Format("%.1f periods (%.0f ms)", loaded.slow.largestGapPeriods, loaded.slow.largestGapMs),
      Format("alone: %.1f periods", alone.slow.largestGapPeriods), "<= 3 periods",
      loaded.slow.largestGapPeriods <= 3);
  table.Add(Format("ReadValue p99 of a well-behaved client, %s", when.c_str()),
            Format("%.3f ms (x%.1f)", loaded.value.p99,
                   alone.value.p99 > 0 ? loaded.value.p99 / alone.value.p99 : 0),
            Format("alone: %.3f ms", alone.value.p99), "<= 5 ms", loaded.value.p99 <= 5);
}

// A recording of the 3999 Hz channel, about two seconds long, for the experiment reads.
bool Record(BenchContext& c) {
  try {
    auto client = ConnectObserver(c, client::Transport::kTcp, 30000);
    client->U8(13).U32(4242).U32(0).U32(30000).U32(0).U8(0).U16(1).U16(c.fast).Send();
    c.experimentId = client->ReadU32();
    if (c.experimentId == 0 || c.experimentId == 0xFFFFFFFF) return false;
    std::this_thread::sleep_for(std::chrono::seconds(2));
    client->U8(14).Send();
    if (client->ReadU32() != c.experimentId) return false;
    client->U8(15).U32(c.experimentId).U32(1).U16(c.fast).U32(0).U32(0).Send();
    if (client->ReadU32() != 1 || client->ReadU16() != c.fast) return false;
    c.experimentStored = client->ReadU32();
    client->ReadU32();
    return c.experimentStored > 0;
  } catch (const client::ClientError&) {
    return false;
  }
}

// The server's own memory idle, with `o.holders` clients each holding an unread
// 4 M-sample reply, and 10 s after they left.
void MemoryPhase(const Options& o, const BenchContext& c, const PhaseRunner& runner, pid_t server,
                 TargetTable& table) {
  std::printf("\n== %d clients each holding an unread 4 M-sample reply ==\n", o.holders);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const ProcessSample idle = runner.Sample();
  ProcessSample peak = idle;
  bool capped = false;
  auto watch = [&] {
    const std::optional<ProcessSample> s = soak::SampleProcess(server);
    if (!s) return false;
    peak.rssMb = std::max(peak.rssMb, s->rssMb);
    peak.rssAnonMb = std::max(peak.rssAnonMb, s->rssAnonMb);
    if (s->rssMb > o.rssCapMb) capped = true;
    return !capped;
  };
  const int64_t openStart = NowMs();
  ReplyHolders holders(c);
  const int opened = holders.Open(o.holders, watch);
  const int answered = holders.WaitAnswered(60000, watch);
  const double openSeconds = (NowMs() - openStart) / 1000.0;
  for (int k = 0; k < 20 && watch(); ++k)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  holders.CloseAll();
  const int64_t left = NowMs();
  std::printf("  idle: RSS %.1f MB (own memory %.1f MB, the rest mapped log pages)\n", idle.rssMb,
              idle.rssAnonMb);
  std::printf(
      "  %d opened, %d answered in %.1f s%s; peak RSS %.1f MB (own memory %.1f MB, %.1f MB "
      "per client)\n",
      opened, answered, openSeconds,
      capped ? Format(" (stopped at the %.0f MB cap)", o.rssCapMb).c_str() : "", peak.rssMb,
      peak.rssAnonMb, opened > 0 ? (peak.rssAnonMb - idle.rssAnonMb) / opened : 0.0);
  ProcessSample later = idle;
  std::string trail = "  after they left, own memory each second:";
  for (int second = 1; second * 1000 <= kSettleAfterHoldersMs; ++second) {
    std::this_thread::sleep_until(std::chrono::steady_clock::now() +
                                  std::chrono::milliseconds(left + second * 1000 - NowMs()));
    later = runner.Sample();
    trail += Format(" %.0f", later.rssAnonMb);
  }
  std::printf("%s MB\n", trail.c_str());
  const std::string idleText = Format("idle: %.1f MB (RSS %.1f MB)", idle.rssAnonMb, idle.rssMb);
  // Judged on the server's own memory (RssAnon); RSS beside it also counts the pages of the
  // mapped log that reads have touched.
  table.Add(Format("Server memory, %d clients holding unread 4 M-sample replies", o.holders),
            capped || opened < o.holders
                ? Format(">= %.1f MB: stopped after %d clients (%.1f MB each)", peak.rssAnonMb,
                         opened, (peak.rssAnonMb - idle.rssAnonMb) / std::max(opened, 1))
                : Format("%.1f MB%s (RSS %.1f MB)", peak.rssAnonMb,
                         answered < opened
                             ? Format(", but only %d of the replies began", answered).c_str()
                             : "",
                         peak.rssMb),
            idleText, "<= 100 MB",
            !capped && opened == o.holders && answered == opened && peak.rssAnonMb <= 100);
  table.Add("Server memory 10 s after they left",
            Format("%.1f MB (RSS %.1f MB)", later.rssAnonMb, later.rssMb), idleText,
            Format("<= %.1f MB (idle + 20)", idle.rssAnonMb + 20),
            later.rssAnonMb <= idle.rssAnonMb + 20);
}

// A new client's connect + Hello time while another client runs a burst.
void BurstPhase(const BenchContext& c, const LatencySummary& idleHello, TargetTable& table) {
  std::printf("\n== New clients during a %d s burst ==\n", kBurstMs / 1000);
  const BurstHellos b = MeasureHellosDuringBurst(c, kBurstMs, kBurstProbes);
  std::vector<double> answered;
  std::string list;
  for (double h : b.hellos) {
    if (h >= 0) answered.push_back(h);
    list += h >= 0 ? Format(" %.1f", h) : std::string(" none");
  }
  const LatencySummary s = LatencySummary::Of(answered);
  std::printf("  burst answered %s after %.0f ms; connect + Hello (ms):%s\n",
              b.burstAnswered ? "with an experiment" : "WITHOUT an experiment", b.burstMs,
              list.c_str());
  const bool all = answered.size() == b.hellos.size();
  table.Add(
      "New client's connect + Hello during a 10 s burst, slowest",
      all ? Format("%.1f ms (median %.1f ms, %zu probes)", s.max, s.p50, answered.size())
          : Format("%zu of %zu not answered", b.hellos.size() - answered.size(), b.hellos.size()),
      Format("alone: %.1f ms (median of %zu)", idleHello.p50, idleHello.count), "<= 100 ms",
      all && b.burstAnswered && s.max <= 100);
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  setvbuf(stdout, nullptr, _IOLBF, 0);
  BenchContext c;
  std::printf("interference: alone %.0f s, loaded %.0f s with %d flooders, %d reply holders%s\n",
              o.aloneSeconds, o.loadedSeconds, o.flooders, o.holders,
              o.byKind ? ", each kind of flood alone too" : "");

  char folderTemplate[] = "/tmp/orvexa-interference-XXXXXX";
  const std::string folder = ::mkdtemp(folderTemplate);
  // Removed at the end (after the server, declared later, is gone) unless kept: the log
  // alone takes 120 MB.
  struct FolderGuard {
    std::string path;
    bool keep;
    ~FolderGuard() {
      if (keep)
        std::printf("server folder kept: %s\n", path.c_str());
      else
        std::filesystem::remove_all(path);
    }
  } guard{folder, o.keep};
  std::filesystem::copy_file(std::string(ORVEXA_BUILD_DIR) + "/Simulator.ldp",
                             folder + "/Simulator.ldp");
  std::ofstream(folder + "/orvexa.cfg") << Config(c, o.holders + o.flooders + 20);
  const int64_t prefillStart = NowMs();
  constexpr uint32_t kSteppedBackRecords = 14'000'000;
  if (!Prefill(folder + "/Simulator_Sine.log", kLogCapacity, std::nullopt, &c.logOldest) ||
      !Prefill(folder + "/Simulator_Setpoint.log", kSteppedBackRecords, kSteppedBackRecords / 2,
               &c.steppedBackOldest))
    return 1;
  std::printf("logs prefilled with %u and %u records (the clock set back once) in %.1f s\n",
              kLogCapacity, kSteppedBackRecords, (NowMs() - prefillStart) / 1000.0);

  test::ServerProcess server(folder, {"/port", "0"}, {}, o.server);
  const std::optional<int> port = server.WaitForPort(std::chrono::seconds(60));
  if (!port || !server.WaitForOutput("Server running", std::chrono::seconds(60))) {
    std::printf("INTERFERENCE FAILED: the server did not start\n%s\n%s\n", server.Stdout().c_str(),
                server.Stderr().c_str());
    return 1;
  }
  c.port = *port;
  try {
    client::ProtocolClient probe;
    probe.Connect("127.0.0.1", c.port, client::Transport::kTcp);
    probe.Hello(3);
    c.logged = probe.FindChannel(20, "Simulator_Sine");
    c.slow = probe.FindChannel(20, "Simulator_Ramp");
    c.fast = probe.FindChannel(20, "Simulator_Output");
    c.steppedBack = probe.FindChannel(20, "Simulator_Setpoint");
  } catch (const client::ClientError& e) {
    std::printf("INTERFERENCE FAILED: %s\n", e.what());
    return 1;
  }
  if (!c.logged || !c.slow || !c.fast || !c.steppedBack) {
    std::printf("INTERFERENCE FAILED: Simulator.ldp's channels not found\n");
    return 1;
  }
  if (!Record(c)) {
    std::printf("INTERFERENCE FAILED: the recording for the experiment reads was refused\n");
    return 1;
  }
  std::printf("server pid %d on port %d; recording %u holds %u samples (reads of %u entries)\n",
              server.pid(), c.port, c.experimentId, c.experimentStored,
              kMaxReadSamples / c.experimentStored);

  PhaseRunner bench(c, server.pid());
  if (!bench.StartReaders()) {
    std::printf("INTERFERENCE FAILED: the fast samples could not be read\n");
    return 1;
  }
  TargetTable table;
  bool crashed = false;
  auto checkAlive = [&](const char* when) {
    if (!crashed && !bench.Alive()) {
      crashed = true;
      std::printf("SERVER CRASHED %s\n", when);
    }
    return !crashed;
  };

  // Alone.
  std::vector<double> idleHellos;
  for (int k = 0; k < 6; ++k)
    idleHellos.push_back(
        HelloLatencyMs(c, k % 2 ? client::Transport::kWebSocket : client::Transport::kTcp, 10000));
  const LatencySummary idleHello = LatencySummary::Of(idleHellos);
  std::printf("\n== Alone (%.0f s) ==\n", o.aloneSeconds);
  const PhaseResult alone = bench.Measure(o.aloneSeconds);
  std::printf("  done: fast rates %.2f %% / %.2f %%, ReadValue p99 %.3f ms\n",
              alone.slow.ratePercent, alone.fast.ratePercent, alone.value.p99);

  // Memory with unread maximal replies.
  if (checkAlive("in the alone phase")) MemoryPhase(o, c, bench, server.pid(), table);

  // Loaded.
  PhaseResult loaded;
  const std::vector<FloodKind> allKinds = {
      FloodKind::kHistoryHourly, FloodKind::kHistoryWindow, FloodKind::kExperimentUnread,
      FloodKind::kFastSamples,   FloodKind::kChurn,         FloodKind::kHistorySteppedBack};
  if (checkAlive("in the memory phase")) {
    std::printf("\n== Loaded: %d flooders (%.0f s) ==\n", o.flooders, o.loadedSeconds);
    loaded = bench.Loaded(allKinds, o.flooders, o.loadedSeconds, true);
    std::printf("\n== Alone and loaded ==\n");
    PrintComparison(c, alone, loaded);
    AddFloodTargets(c, alone, loaded, "flooded", table);
    const double floorSeconds = std::max(3.0, o.loadedSeconds / 2);
    std::printf("\n== Scheduling floor: %d spinning threads, no flood (%.0f s) ==\n", o.flooders,
                floorSeconds);
    const PhaseResult floor = bench.Spinning(o.flooders, floorSeconds);
    std::printf("  ReadValue p50 %.3f ms, p99 %.3f ms, max %.1f ms; fast rates %.2f %% / %.2f %%\n",
                floor.value.p50, floor.value.p99, floor.value.max, floor.slow.ratePercent,
                floor.fast.ratePercent);
    table.AddInfo("ReadValue p50 of a well-behaved client, flooded",
                  Format("%.3f ms (x%.1f)", loaded.value.p50,
                         alone.value.p50 > 0 ? loaded.value.p50 / alone.value.p50 : 0),
                  Format("alone: %.3f ms", alone.value.p50));
    table.AddInfo("ReadValue p99, both cores busy with spinning threads, no flood",
                  Format("%.3f ms", floor.value.p99), "the scheduling floor of this machine");
  }

  if (checkAlive("in the loaded phase")) {
    std::printf("\n== 2 clients reading the log whose clock was set back (%.0f s) ==\n",
                o.loadedSeconds);
    const PhaseResult steppedBack =
        bench.Loaded({FloodKind::kHistorySteppedBack}, 2, o.loadedSeconds, true);
    PrintComparison(c, alone, steppedBack);
    AddFloodTargets(c, alone, steppedBack, "history over a log set back once", table);
  }

  if (o.byKind && checkAlive("in the set-back phase")) {
    std::printf("\n== Each kind of flood alone: %d clients of one kind (%.0f s each) ==\n",
                o.flooders, o.loadedSeconds);
    std::printf("  %-38s %9s %9s %8s %9s %9s %9s %6s\n", "flood", "rate slow", "rate fast",
                "gap slow", "RV p50", "RV p99", "RV max", "CPU %");
    for (FloodKind kind : allKinds) {
      const PhaseResult r = bench.Loaded({kind}, o.flooders, o.loadedSeconds, false);
      std::printf("  %-38s %8.2f%% %8.2f%% %8.1f %9.3f %9.3f %9.1f %6.0f\n", FloodKindName(kind),
                  r.slow.ratePercent, r.fast.ratePercent, r.slow.largestGapPeriods, r.value.p50,
                  r.value.p99, r.value.max, r.cpuPercent);
      if (!checkAlive("in a flood of one kind")) break;
    }
  }

  // Burst.
  if (checkAlive("before the burst")) BurstPhase(c, idleHello, table);
  bench.StopReaders();

  // The server must still run, and stop cleanly.
  int status = 0;
  if (checkAlive("during the run")) {
    server.Signal(SIGTERM);
    const std::optional<int> exitStatus = server.WaitForExit(std::chrono::seconds(30));
    if (exitStatus != 0) {
      std::printf("SERVER DID NOT STOP CLEANLY: %s\n",
                  exitStatus ? ("exit status " + std::to_string(*exitStatus)).c_str()
                             : "still running 30 s after SIGTERM");
      status = 1;
    }
  } else {
    const std::optional<int> exitStatus = server.WaitForExit(std::chrono::seconds(2));
    std::printf("server exit status %s (128+N: signal N)\n",
                exitStatus ? std::to_string(*exitStatus).c_str() : "unknown");
    status = 1;
  }

  std::printf("\n== Targets ==\n");
  table.Print();
  std::printf("\n%d of the targets missed%s\n", table.misses(),
              crashed ? "; the server crashed" : "");
  if (status != 0) guard.keep = true;
  return status;
}
