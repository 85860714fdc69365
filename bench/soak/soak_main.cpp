// Soak: the real server (build/orvexa, headless, in a folder of its own, /port 0) with
// Simulator.ldp, logging every second and fast sampling at 1000 Hz, kept busy by N
// healthy clients on both transports while fault injectors misbehave. Every second it
// prints requests, errors, faults, the server's RSS, threads and descriptors and the fast
// stream's gaps; at quiet points (fault injection paused) the server must be back to
// exactly one thread and one descriptor per client, and must refuse one connection
// beyond a full table. At the end the server is stopped with SIGTERM (exit status 0)
// and its log files are read back. Exit status 1 with one FAILED line naming every fault.
//
//   build/bench/soak [--seconds S=60] [--clients N=50] [--faults F=4] [--gap-ms G=100]
//                    [--seed X] [--keep]
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "client/protocol_client.h"
#include "fault_injector.h"
#include "healthy_client.h"
#include "log_check.h"
#include "logging/log_file.h"
#include "platform/clock.h"
#include "process_probe.h"
#include "support/server_process.h"

using namespace orvexa;
using namespace orvexa::soak;

namespace {

constexpr int kBurstSlackMs = 20;

struct Options {
  int seconds = 60, clients = 50, faults = 4, gapMs = 100;
  uint32_t seed = 0;
  bool keep = false;
};

Options Parse(int argc, char** argv) {
  Options o;
  o.seed = static_cast<uint32_t>(CalendarSeconds());
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : "";
    if (a == "--keep") {
      o.keep = true;
      continue;
    }
    if (a == "--seconds")
      o.seconds = std::max(20, std::atoi(v));
    else if (a == "--clients")
      o.clients = std::clamp(std::atoi(v), 2, 250);
    else if (a == "--faults")
      o.faults = std::max(0, std::atoi(v));
    else if (a == "--gap-ms")
      o.gapMs = std::max(2, std::atoi(v));
    else if (a == "--seed")
      o.seed = static_cast<uint32_t>(std::strtoul(v, nullptr, 10));
    else {
      std::fprintf(stderr,
                   "usage: soak [--seconds S] [--clients N] [--faults F] [--gap-ms G] [--seed X] "
                   "[--keep]\n");
      std::exit(2);
    }
    ++i;
  }
  return o;
}

std::string Config(const SoakContext& c) {
  std::string logged;
  for (const char* id : {"Simulator_Sine", "Simulator_Ramp", "Simulator_Output"})
    logged += std::string("    ") + id +
              " = struct {\n      LogingEnabled = true  LogFileName = \"" + id +
              ".log\"  TimeBetweenLogs = 0\n      FastLogEnabled = true  FastLogFreq = 1000  "
              "FastLogSize = 10000\n    }\n";
  return "OrvexaConfig {\n  MaxClientCount = " + std::to_string(c.maxClients) +
         "\n  ConectionExpirationDelay = " + std::to_string(c.expirySeconds) +
         "\n  OpeningTimeout = " + std::to_string(c.expirySeconds) +
         "\n  LimitMultipleControl = true\n  LimitUsage = true\n  MaxUsageTime = 6\n"
         "  LogingInfo = struct {\n" +
         logged + "  }\n}\n";
}

double Mean(const std::vector<ProcessSample>& v, size_t from, size_t to) {
  double sum = 0;
  for (size_t i = from; i < to; ++i) sum += v[i].rssMb;
  return to > from ? sum / static_cast<double>(to - from) : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  SoakContext c;
  c.clients = o.clients;
  c.maxClients = o.clients + 10;
  c.gapMs = o.gapMs;
  std::printf("soak: %d s, %d clients, %d fault injectors, gap threshold %d ms, seed %u\n",
              o.seconds, o.clients, o.faults, o.gapMs, o.seed);

  char folderTemplate[] = "/tmp/orvexa-soak-XXXXXX";
  const std::string folder = ::mkdtemp(folderTemplate);
  std::filesystem::copy_file(std::string(ORVEXA_BUILD_DIR) + "/Simulator.ldp",
                             folder + "/Simulator.ldp");
  std::ofstream(folder + "/orvexa.cfg") << Config(c);
  // A history older than the run, one record per second, longer than one 131072 reply.
  c.prefillCount = 140000;
  c.prefillStart = CalendarTime32() - c.prefillCount - 1;
  {
    LogFile log(folder + "/Simulator_Sine.log");
    if (!log.Open(true)) {
      std::fprintf(stderr, "cannot create the log: %s\n", log.LastError().c_str());
      return 1;
    }
    for (uint32_t k = 0; k < c.prefillCount; ++k)
      log.Append(c.prefillStart + k, static_cast<float>(SoakContext::PrefillFixed(k)) / 256.0f);
    log.Flush();
  }

  c.serverStart = CalendarSeconds();
  // Freed blocks of the 1 MB history replies go back to the system at once instead of
  // being cached by the allocator (whose threshold would otherwise grow with them), so
  // that the resident memory follows what the server really holds.
  test::ServerProcess server(
      folder, {"/port", "0"},
      {"GLIBC_TUNABLES=glibc.malloc.mmap_threshold=131072:glibc.malloc.trim_threshold=1048576"});
  const std::optional<int> port = server.WaitForPort();
  if (!port || !server.WaitForOutput("Server running")) {
    std::printf("SOAK FAILED: the server did not start\n%s\n%s\n", server.Stdout().c_str(),
                server.Stderr().c_str());
    return 1;
  }
  c.port = *port;
  {
    client::ProtocolClient probe;
    probe.Connect("127.0.0.1", c.port, client::Transport::kTcp);
    probe.Hello(3);
    c.sine = probe.FindChannel(20, "Simulator_Sine");
    c.ramp = probe.FindChannel(20, "Simulator_Ramp");
    c.setpoint = probe.FindChannel(20, "Simulator_Setpoint");
    c.output = probe.FindChannel(20, "Simulator_Output");
  }
  if (!c.sine || !c.ramp || !c.setpoint || !c.output) {
    std::printf("SOAK FAILED: Simulator.ldp's channels not found\n");
    return 1;
  }
  const pid_t pid = server.pid();
  auto sample = [&] { return SampleProcess(pid).value_or(ProcessSample{}); };
  // Waits until the server holds exactly `threads` threads and `fds` descriptors.
  auto waitSteady = [&](int threads, int fds, int seconds) {
    const int64_t deadline = NowMs() + seconds * 1000;
    ProcessSample s = sample();
    while ((s.threads != threads || s.fds != fds) && NowMs() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      s = sample();
    }
    return s;
  };
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const ProcessSample idle = sample();
  std::printf("server pid %d on port %d: %d threads, %d descriptors, RSS %.1f MB without clients\n",
              pid, c.port, idle.threads, idle.fds, idle.rssMb);

  std::vector<std::thread> healthy, faulty;
  for (int i = 0; i < o.clients; ++i)
    healthy.emplace_back(
        [&c, &o, i] { HealthyClient(c, i, o.seed * 7919 + static_cast<uint32_t>(i)).Run(); });
  const int64_t connectDeadline = NowMs() + 30000;
  while (c.healthyConnected < o.clients && NowMs() < connectDeadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (c.healthyConnected < o.clients) c.stats.Failure("not every healthy client could connect");
  for (int i = 0; i < o.faults; ++i)
    faulty.emplace_back(
        [&c, &o, i] { FaultInjector(c, o.seed * 104729 + static_cast<uint32_t>(i)).Run(); });

  // Reporter: one line a second, and the watch for a dead server.
  const int64_t runStartMs = NowMs();
  std::vector<ProcessSample> samples;
  std::mutex samplesLock;
  std::atomic<bool> reporting{true}, serverDied{false};
  std::thread reporter([&] {
    uint64_t lastRequests = 0;
    double lastCpu = idle.cpuSeconds;
    for (int second = 1; reporting; ++second) {
      std::this_thread::sleep_until(std::chrono::steady_clock::now() + std::chrono::seconds(1));
      const std::optional<ProcessSample> s = SampleProcess(pid);
      if (!s) {
        const std::optional<int> status = server.WaitForExit(std::chrono::seconds(2));
        c.stats.Failure("server crashed at " + std::to_string(second) + " s: exit status " +
                        (status ? std::to_string(*status) : "unknown") + " (128+N: signal N)");
        serverDied = true;
        c.stopHealthy = c.stopFaults = true;
        return;
      }
      {
        std::lock_guard<std::mutex> hold(samplesLock);
        samples.push_back(*s);
      }
      const auto snap = c.stats.Take(NowMs(), kBurstSlackMs);
      std::printf(
          "[%4ds] requests %8llu (+%4llu/s)  healthy errors %llu  faults %5llu (unexpected %llu)  "
          "RSS %6.1f MB  threads %3d  fds %3d  CPU %3.0f%%  fast gaps %llu outside / %llu in "
          "bursts (%llu bursts)\n",
          second, (unsigned long long)snap.requests,
          (unsigned long long)(snap.requests - lastRequests), (unsigned long long)snap.errorCount,
          (unsigned long long)snap.faultCount, (unsigned long long)snap.unexpectedFaultCount,
          s->rssMb, s->threads, s->fds, 100 * (s->cpuSeconds - lastCpu),
          (unsigned long long)snap.gapsOutside, (unsigned long long)snap.gapsInBursts,
          (unsigned long long)snap.bursts);
      std::fflush(stdout);
      if (second % 10 == 0) {
        std::string byKind = "       by kind:";
        for (const auto& [kind, count] : snap.served)
          byKind += " " + kind + " " + std::to_string(count);
        for (const auto& [kind, count] : snap.errors)
          byKind += "; ERRORS " + kind + " " + std::to_string(count);
        std::printf("%s\n", byKind.c_str());
      }
      lastRequests = snap.requests;
      lastCpu = s->cpuSeconds;
    }
  });

  // Quiet points: injection paused, the server back to one thread and one descriptor per
  // healthy client, then the full-table check.
  const int steadyThreads = idle.threads + o.clients, steadyFds = idle.fds + o.clients;
  std::vector<std::string> quietLines;
  auto quietPoint = [&](const std::string& label) {
    const int64_t start = NowMs();
    c.pauseFaults = true;
    const int64_t deadline = NowMs() + 40000;
    while (c.activeFaults > 0 && NowMs() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const int64_t drained = NowMs();
    ProcessSample s = waitSteady(steadyThreads, steadyFds, 15);
    const int64_t steady = NowMs();
    std::string line = label + ": threads " + std::to_string(s.threads) + ", fds " +
                       std::to_string(s.fds) + " (expected " + std::to_string(steadyThreads) +
                       ", " + std::to_string(steadyFds) + ")";
    if (s.threads != steadyThreads || s.fds != steadyFds) {
      c.stats.Failure("server not back to its steady count at " + line);
    } else {
      FillConnectionTable(c);
      s = waitSteady(steadyThreads, steadyFds, 15);
      if (s.threads != steadyThreads || s.fds != steadyFds)
        c.stats.Failure("server not back to its steady count after the full-table check at " +
                        label);
    }
    line += "; faults drained in " + std::to_string(drained - start) + " ms, steady after " +
            std::to_string(steady - drained) + " ms, full table checked in " +
            std::to_string(NowMs() - steady) + " ms";
    quietLines.push_back(line);
    std::printf("%s\n", line.c_str());
  };
  const int64_t endMs = runStartMs + o.seconds * 1000LL;
  int64_t nextQuietMs = runStartMs + o.seconds * 250LL;
  while (NowMs() < endMs && !serverDied) {
    if (NowMs() >= nextQuietMs && NowMs() < endMs - 20000) {
      quietPoint("quiet point at " + std::to_string((NowMs() - runStartMs) / 1000) + " s");
      c.pauseFaults = false;
      nextQuietMs += 120000;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  size_t runSamples = 0;
  {
    std::lock_guard<std::mutex> hold(samplesLock);
    runSamples = samples.size();
  }
  c.stopFaults = true;
  for (auto& t : faulty) t.join();
  std::optional<int> exitStatus;
  ProcessSample last{};
  if (!serverDied) quietPoint("end of the run");
  c.stopHealthy = true;
  for (auto& t : healthy) t.join();
  if (!serverDied) {
    last = waitSteady(idle.threads, idle.fds, 15);
    if (last.threads != idle.threads || last.fds != idle.fds)
      c.stats.Failure("after every client left: threads " + std::to_string(last.threads) + " (" +
                      std::to_string(idle.threads) + " before the first), fds " +
                      std::to_string(last.fds) + " (" + std::to_string(idle.fds) +
                      " before the first)");
  }
  reporting = false;
  reporter.join();
  const int64_t runEnd = CalendarSeconds();
  if (!serverDied) {
    server.Signal(SIGTERM);
    exitStatus = server.WaitForExit(std::chrono::seconds(30));
    if (exitStatus != 0)
      c.stats.Failure("server exit status after SIGTERM: " +
                      (exitStatus ? std::to_string(*exitStatus) : "none in 30 s"));
  }

  // Log files, read back through the server's own LogFile.
  std::vector<std::string> logLines;
  for (uint16_t channel : {c.sine, c.ramp, c.output}) {
    LogExpectation e;
    const char* name = channel == c.sine   ? "Simulator_Sine"
                       : channel == c.ramp ? "Simulator_Ramp"
                                           : "Simulator_Output";
    e.path = folder + "/" + name + ".log";
    if (channel == c.sine) {
      e.prefillStart = c.prefillStart;
      e.prefillCount = c.prefillCount;
    }
    e.runStart = c.serverStart;
    e.runEnd = runEnd;
    e.plausible = [&c, channel](float v) { return c.Plausible(channel, v); };
    e.served = c.seen[channel];
    const LogCheckResult r = CheckLogFile(e);
    for (const auto& f : r.faults) c.stats.Failure("log " + f);
    char line[300];
    std::snprintf(line, sizeof line,
                  "  %-18s %9llu records (%u prefilled, %llu of the run), %llu served to clients "
                  "found again, "
                  "%d slipped ticks, %zu faults",
                  name, (unsigned long long)r.records, e.prefillCount,
                  (unsigned long long)r.runRecords, (unsigned long long)r.servedChecked,
                  r.slippedTicks, r.faults.size());
    logLines.push_back(line);
  }

  // RSS trend: the last quarter's mean against the second quarter's.
  const size_t n = runSamples;
  const double q2 = Mean(samples, n / 4, n / 2), q4 = Mean(samples, 3 * n / 4, n);
  const double slack = std::max(8.0, 0.10 * q2);
  if (n >= 8 && q4 - q2 > slack) {
    char text[160];
    std::snprintf(
        text, sizeof text,
        "leak trend: RSS %.1f MB in the second quarter, %.1f MB in the last (slack %.1f MB)", q2,
        q4, slack);
    c.stats.Failure(text);
  }

  const auto snap = c.stats.Take(NowMs(), kBurstSlackMs);
  std::printf("\n== Requests served by kind (%llu in all) ==\n", (unsigned long long)snap.requests);
  for (const auto& [kind, count] : snap.served)
    std::printf("  %-22s %10llu\n", kind.c_str(), (unsigned long long)count);
  std::printf("== Faults injected by kind: expected effect seen / injected ==\n");
  for (const auto& [kind, count] : snap.faults) {
    const uint64_t bad = snap.unexpectedFaults.count(kind) ? snap.unexpectedFaults.at(kind) : 0;
    std::printf("  %-34s %6llu / %llu\n", kind.c_str(), (unsigned long long)(count - bad),
                (unsigned long long)count);
  }
  std::printf(
      "  %-34s skipped: only the operator window can kick, nothing outside a headless server can\n",
      "kick");
  std::printf("== Errors seen by healthy clients: %llu ==\n", (unsigned long long)snap.errorCount);
  for (const auto& [kind, count] : snap.errors)
    std::printf("  %-34s %llu\n", kind.c_str(), (unsigned long long)count);
  for (const auto& e : snap.firstErrors) std::printf("  e.g. %s\n", e.c_str());
  std::printf("== Notes ==\n");
  for (const auto& [kind, count] : snap.notes)
    std::printf("  %-48s %llu\n", kind.c_str(), (unsigned long long)count);
  std::printf("== Server process ==\n  without clients: %d threads, %d fds, RSS %.1f MB\n",
              idle.threads, idle.fds, idle.rssMb);
  for (const auto& q : quietLines) std::printf("  %s\n", q.c_str());
  if (n > 0)
    std::printf(
        "  during the run: RSS first %.1f MB, last %.1f MB; mean of the second quarter %.1f MB, of "
        "the "
        "last %.1f MB; CPU %.1f s in %zu s\n",
        samples.front().rssMb, samples[n - 1].rssMb, q2, q4,
        samples[n - 1].cpuSeconds - idle.cpuSeconds, n);
  std::printf("  after every client left: %d threads, %d fds; exit status after SIGTERM: %s\n",
              last.threads, last.fds, exitStatus ? std::to_string(*exitStatus).c_str() : "-");
  std::printf(
      "== Fast stream (1000 Hz, gap = a step above %d ms) ==\n  %llu gaps outside bursts (longest "
      "%lld ms), "
      "%llu overlapping one of %llu bursts\n",
      o.gapMs, (unsigned long long)snap.gapsOutside, (long long)snap.longestGapOutside,
      (unsigned long long)snap.gapsInBursts, (unsigned long long)snap.bursts);
  // Wall-clock times too, to line the gaps up with traces of the server (strace -ttt).
  const int64_t wallOffsetMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count() -
                               NowMs();
  for (const auto& g : snap.outside)
    std::printf("  gap outside bursts: channel %u at %.3f s (wall clock %.3f) for %lld ms\n",
                g.channel, (g.fromMs - runStartMs) / 1000.0, (g.fromMs + wallOffsetMs) / 1000.0,
                (long long)(g.toMs - g.fromMs));
  std::printf("== Log files ==\n");
  for (const auto& l : logLines) std::printf("%s\n", l.c_str());

  std::vector<std::string> failures = snap.failures;
  if (snap.errorCount > 0)
    failures.push_back(std::to_string(snap.errorCount) + " unexpected errors of healthy clients");
  if (snap.unexpectedFaultCount > 0)
    failures.push_back(std::to_string(snap.unexpectedFaultCount) +
                       " faults without their expected effect");
  if (snap.gapsOutside > 0)
    failures.push_back(std::to_string(snap.gapsOutside) + " fast-stream gaps outside bursts");
  if (failures.empty()) {
    std::printf(
        "SOAK PASSED: %llu requests, %llu faults, no unexpected error, no leak, no lost record\n",
        (unsigned long long)snap.requests, (unsigned long long)snap.faultCount);
    if (!o.keep) std::filesystem::remove_all(folder);
    return 0;
  }
  std::string line;
  for (const auto& f : failures) line += (line.empty() ? "" : "; ") + f;
  std::printf("server folder kept: %s (seed %u)\nSOAK FAILED: %s\n", folder.c_str(), o.seed,
              line.c_str());
  return 1;
}
