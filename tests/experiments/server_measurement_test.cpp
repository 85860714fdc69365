// The real server with the Probe device: logging that survives SIGKILL and continues
// after a restart, a log reset by AlwaysReset, timestamped copies named in local time
// with the new date saved, history modes over a log file the test wrote itself (fixed
// time zone), fast samples polled without gaps, experiments stopped by a dropped
// connection or by the plug-in, and bursts read back through the burst slots.
#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "client/protocol_client.h"
#include "config/config_access.h"
#include "config/configuration_store.h"
#include "logging/fast_sample_query.h"
#include "logging/log_file.h"
#include "support/server_process.h"
#include "support/temp_dir.h"

namespace orvexa::test {
namespace {

using client::ProtocolClient;
using client::Transport;
using Steady = std::chrono::steady_clock;

constexpr const char* kZone = "TZ=CET-1CEST,M3.5.0,M10.5.0/3";

class ServerMeasurementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::copy_file(std::string(EXPERIMENT_TEST_PLUGIN_DIR) + "/Probe.ldp",
                               dir.File("Probe.ldp"));
    store.StartEmpty();
    store.SetStartDirectory(dir.path());
    SetBool(store.OrvexaConfig(), "Enable", true);
  }
  ConfigValue* Settings(const char* id) {
    ConfigValue* info = FindOrCreate(store.OrvexaConfig(), "LogingInfo", ValueKind::Struct);
    return FindOrCreate(info, id, ValueKind::Struct);
  }
  void LogLevel(bool alwaysReset = false, int period = 0) {
    ConfigValue* level = Settings("Probe_level");
    SetBool(level, "LogingEnabled", true);
    SetString(level, "LogFileName", "level.log");
    SetInt(level, "TimeBetweenLogs", period);
    SetBool(level, "AlwaysReset", alwaysReset);
  }
  void FastLogCounter(int frequency) {
    ConfigValue* counter = Settings("Probe_counter");
    SetBool(counter, "FastLogEnabled", true);
    SetInt(counter, "FastLogFreq", frequency);
    SetInt(counter, "FastLogSize", 100000);
  }
  std::unique_ptr<ServerProcess> Start(std::vector<std::string> environment = {kZone}) {
    EXPECT_TRUE(store.Save().ok);
    auto server = std::make_unique<ServerProcess>(
        dir.path(), std::vector<std::string>{"/port", "0"}, environment);
    port = server->WaitForPort().value_or(0);
    EXPECT_TRUE(server->WaitForOutput("Server running")) << server->Stdout() << server->Stderr();
    return server;
  }
  void Connect(ProtocolClient& c) {
    c.Connect("127.0.0.1", port, Transport::kTcp);
    ASSERT_EQ(c.Hello(), 0);
  }
  static std::vector<std::pair<uint32_t, float>> History(ProtocolClient& c, uint16_t channel,
                                                         uint32_t spanOrStart, uint16_t mode,
                                                         uint32_t limit) {
    c.U8(8).U16(channel).U32(spanOrStart).U16(mode).U32(limit).Send();
    std::vector<std::pair<uint32_t, float>> out(c.ReadU32());
    for (auto& s : out) {
      s.first = c.ReadU32();
      s.second = c.ReadF32();
    }
    return out;
  }
  // Polls until `done` holds (the test fails after 20 s).
  template <typename Done>
  static void WaitFor(Done done, const char* what) {
    const auto deadline = Steady::now() + std::chrono::seconds(20);
    while (!done()) {
      ASSERT_LT(Steady::now(), deadline) << "timed out waiting for " << what;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  TempDir dir;
  ConfigurationStore store;
  int port = 0;
};

constexpr uint16_t kCounter = 1, kStops = 6, kLevel = 8;

TEST_F(ServerMeasurementTest, RecordsFlushedBeforeSigkillSurviveAndTheLogContinues) {
  LogLevel();
  std::vector<std::pair<uint32_t, float>> before;
  {
    auto server = Start();
    ProtocolClient c;
    Connect(c);
    c.WriteValue(kLevel, 2.5f);
    WaitFor([&] { return History(c, kLevel, 3600, 0, 0).size() >= 3; }, "three records");
    before = History(c, kLevel, 3600, 0, 0);
    server->Signal(SIGKILL);
    server->WaitForExit();
  }
  ASSERT_GE(before.size(), 3u);
  auto server = Start();
  ProtocolClient c;
  Connect(c);
  WaitFor([&] { return History(c, kLevel, 3600, 0, 0).size() > before.size(); }, "a new record");
  std::vector<std::pair<uint32_t, float>> after = History(c, kLevel, 3600, 0, 0);
  ASSERT_GT(after.size(), before.size());
  for (size_t k = 0; k < before.size(); ++k) {
    EXPECT_EQ(after[k].first, before[k].first) << k;
    EXPECT_EQ(after[k].second, before[k].second) << k;
  }
  EXPECT_EQ(after.back().second, 0.0f);  // the new run reads the probe's fresh level
}

TEST_F(ServerMeasurementTest, AlwaysResetStartsTheLogEmpty) {
  LogLevel(true, 100000);  // one record per start-up, at the first pass
  {
    auto server = Start();
    ProtocolClient c;
    Connect(c);
    WaitFor([&] { return History(c, kLevel, 3600, 0, 0).size() == 1; }, "the first record");
    server->Signal(SIGTERM);
    EXPECT_EQ(server->WaitForExit(), 0);
  }
  auto server = Start();
  ProtocolClient c;
  Connect(c);
  WaitFor([&] { return History(c, kLevel, 3600, 0, 0).size() == 1; }, "the new first record");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(History(c, kLevel, 3600, 0, 0).size(), 1u);
}

TEST_F(ServerMeasurementTest, CopyIsNamedInLocalTimeAndItsDateSaved) {
  LogLevel();
  SetInt(Settings("Probe_level"), "TimeBetweenReplications", 24);
  const int64_t before = std::time(nullptr);
  auto server = Start();
  std::string copy;
  WaitFor(
      [&] {
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
          std::string name = entry.path().filename().string();
          if (name.rfind("level.log.", 0) == 0) copy = name;
        }
        // Saved after the copy is complete: the date is there and no longer 0.
        const std::string saved = dir.Read("orvexa.cfg");
        const size_t at = saved.find("LastLogReplicationDate=", saved.find("Probe_level=struct"));
        return !copy.empty() && at != std::string::npos && saved[at + 23] != '0';
      },
      "the copy and the saved date");
  // level.log.dd_mm_yyyy_hh_mm_ss in the server's local time zone.
  setenv("TZ", kZone + 3, 1);
  tzset();
  bool named = false;
  for (int64_t t = before - 1; t <= std::time(nullptr) + 1 && !named; ++t) {
    std::time_t at = static_cast<std::time_t>(t);
    std::tm local{};
    localtime_r(&at, &local);
    char expected[64];
    std::strftime(expected, sizeof expected, "level.log.%d_%m_%Y_%H_%M_%S", &local);
    named = copy == expected;
  }
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_TRUE(named) << copy;
  const std::string saved = dir.Read("orvexa.cfg");
  EXPECT_EQ(std::filesystem::file_size(dir.File(copy)), 120000012u) << saved;
  EXPECT_NE(saved.find("TimeBetweenReplications=24"), std::string::npos) << saved;
}

// A log file written by the test with known records, read in the three modes.
TEST_F(ServerMeasurementTest, HistoryModesOverAKnownLog) {
  setenv("TZ", kZone + 3, 1);
  tzset();
  auto local = [](int day, int hour, int minute) {
    std::tm parts{};
    parts.tm_year = 2026 - 1900;
    parts.tm_mon = 5;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_isdst = -1;
    return static_cast<uint32_t>(std::mktime(&parts));
  };
  {
    LogFile log(dir.File("level.log"));
    ASSERT_TRUE(log.Open(true));
    for (uint32_t t = local(10, 0, 0); t < local(12, 0, 0); t += 600)
      log.Append(t, static_cast<float>((t / 600) % 100) + 0.5f);
  }
  LogLevel(false, 100000);
  auto server = Start();
  ProtocolClient c;
  Connect(c);
  // Mode 2 without thinning over one hour: 7 records (both ends included).
  auto hour = History(c, kLevel, local(10, 14, 0), 2, (24u << 24) | 3600);
  ASSERT_EQ(hour.size(), 7u);
  EXPECT_EQ(hour.front().first, local(10, 14, 0));
  EXPECT_EQ(hour.front().second, static_cast<float>((local(10, 14, 0) / 600) % 100) + 0.5f);
  // Mode 2, first record of hour 14 over two days: the window's first record and the
  // 14:00 record of each day.
  auto fourteen = History(c, kLevel, local(10, 0, 0), 2, (14u << 24) | (2 * 86400));
  ASSERT_EQ(fourteen.size(), 3u);
  EXPECT_EQ(fourteen[1].first, local(10, 14, 0));
  EXPECT_EQ(fourteen[2].first, local(11, 14, 0));
  // Mode 2 thinned to one per 3 hours over a day from 00:00: 00:00, 03:00 ... 24:00.
  auto threeHours = History(c, kLevel, local(10, 0, 0), 2, (28u << 24) | 86400);
  EXPECT_EQ(threeHours.size(), 9u);
  // Mode 1 over everything: one record per day in hour 14 (the new record of this run
  // lies today, in some other hour or not).
  auto mode1 = History(c, kLevel, 0x7FFFFFFF, 1, 14);
  ASSERT_GE(mode1.size(), 2u);
  EXPECT_EQ(mode1[0].first, local(10, 14, 0));
  EXPECT_EQ(mode1[1].first, local(11, 14, 0));
  // Mode 0 over everything: the 288 known records and this run's first record.
  WaitFor([&] { return History(c, kLevel, 0x7FFFFFFF, 0, 0).size() == 289u; }, "289 records");
  // A negative span ends the connection.
  c.U8(8).U16(kLevel).U32(0x80000000).U16(0).U32(0).Send();
  EXPECT_TRUE(c.WaitClosed());
  server->Signal(SIGTERM);
  EXPECT_EQ(server->WaitForExit(), 0);
  setenv("TZ", "UTC", 1);
  tzset();
  const std::string audit = dir.Read("users.log");
  EXPECT_NE(audit.find("read history data for device ID \"Probe_level\" from (10.6.2026 at "
                       "0:0:0) to (11.6.2026 at 0:0:0) limited to one sample 3 hours"),
            std::string::npos)
      << audit;
  EXPECT_NE(audit.find("from (10.6.2026 at 0:0:0) to (12.6.2026 at 0:0:0) limited to first "
                       "sample in hour 14\n"),
            std::string::npos)
      << audit;
}

// The largest history reply (131072 samples, over a megabyte) reaches a WebSocket
// client whole, in frames a 16-bit length holds, and the connection serves on.
TEST_F(ServerMeasurementTest, FullHistoryReplyOverWebSocket) {
  {
    LogFile log(dir.File("level.log"));
    ASSERT_TRUE(log.Open(true));
    for (uint32_t k = 0; k < 140000; ++k) log.Append(1'000'000 + k, static_cast<float>(k % 1000));
  }
  LogLevel(false, 100000);
  auto server = Start();
  ProtocolClient c;
  c.Connect("127.0.0.1", port, Transport::kWebSocket);
  ASSERT_EQ(c.Hello(), 0);
  auto all = History(c, kLevel, 1'000'000, 2, (24u << 24) | 0xFFFFFF);
  ASSERT_EQ(all.size(), 131072u);
  for (uint32_t k = 0; k < all.size(); ++k) {
    ASSERT_EQ(all[k].first, 1'000'000 + k);
    ASSERT_EQ(all[k].second, static_cast<float>(k % 1000));
  }
  EXPECT_EQ(History(c, kLevel, 1'000'010, 2, (24u << 24) | 2).size(), 3u);
}

TEST_F(ServerMeasurementTest, FastSamplesPolledWithoutGaps) {
  FastLogCounter(1000);
  auto server = Start();
  ProtocolClient c;
  Connect(c);
  uint32_t next = 0;
  uint32_t received = 0;
  float lastValue = 0;
  while (received < 500) {
    c.U8(12).U16(kCounter).U8(1).U32(next).U16(0).Send();
    uint32_t n = c.ReadU32();
    std::vector<std::pair<uint32_t, float>> samples(n);
    for (auto& s : samples) {
      s.first = c.ReadU32();
      s.second = c.ReadF32();
    }
    if (n == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      continue;
    }
    const uint32_t newest = c.ReadU32();
    EXPECT_EQ(samples.front().first, newest);
    // Newest first, consecutive, and exactly from where the last poll stopped.
    for (uint32_t k = 0; k < n; ++k) EXPECT_EQ(samples[k].first, newest - k);
    EXPECT_EQ(samples.back().first, next);
    if (received > 0) {
      EXPECT_EQ(samples.back().second, lastValue + 1.0f);
    }
    lastValue = samples.front().second;
    received += n;
    next = newest + 1;
  }
  // The last-n mode with a maximum, times instead of sequence numbers.
  c.U8(12).U16(kCounter).U8(2).U32(5).U16(2).Send();
  ASSERT_EQ(c.ReadU32(), 2u);
  const uint32_t t1 = c.ReadU32();
  c.ReadF32();
  const uint32_t t0 = c.ReadU32();
  c.ReadF32();
  EXPECT_GE(t1, t0);
  EXPECT_GE(c.ReadU32(), next - 1);
}

// Sampling starts when the server starts running, not when the plug-in was loaded: a
// 1 Hz channel's first two samples are a period apart.
TEST_F(ServerMeasurementTest, FastScheduleStartsWhenTheServerRuns) {
  FastLogCounter(1);
  auto server = Start();
  ProtocolClient c;
  Connect(c);
  std::vector<uint32_t> times;
  WaitFor(
      [&] {
        c.U8(12).U16(kCounter).U8(kFastSamplesWithTime).U32(2).U16(0).Send();
        times.assign(c.ReadU32(), 0);
        for (auto& t : times) {
          t = c.ReadU32();
          c.ReadF32();
        }
        if (!times.empty()) c.ReadU32();
        return times.size() == 2;
      },
      "two samples at 1 Hz");
  EXPECT_GE(times[0] - times[1], 900u);
  EXPECT_LE(times[0] - times[1], 1100u);
}

TEST_F(ServerMeasurementTest, DroppedConnectionAndPluginStopEndRecordings) {
  FastLogCounter(1000);
  auto server = Start();
  ProtocolClient watcher;
  Connect(watcher);
  uint32_t dropped = 0;
  {
    ProtocolClient recorder;
    Connect(recorder);
    recorder.U8(13).U32(5).U32(0).U32(1000).U32(0).U8(0).U16(1).U16(kCounter).Send();
    dropped = recorder.ReadU32();
    ASSERT_EQ(dropped, 1u);
    recorder.Close();
  }
  WaitFor(
      [&] {
        watcher.U8(18).U32(dropped).Send();
        return watcher.ReadU8() == 0;
      },
      "the close path to stop the recording");
  // Still listed and readable, not recording; the plug-in was not asked to stop.
  watcher.U8(16).U32(5).U32(0).U32(0).Send();
  ASSERT_EQ(watcher.ReadU32(), 1u);
  EXPECT_EQ(watcher.ReadU32(), dropped);
  EXPECT_EQ(watcher.ReadU8(), 0);
  const uint32_t startTime = watcher.ReadU32();
  EXPECT_GE(watcher.ReadU32(), startTime);
  watcher.ReadBytes(4);
  watcher.U8(15).U32(dropped).U32(1).U16(kCounter).U32(0).U32(1000).Send();
  ASSERT_EQ(watcher.ReadU32(), 1u);
  watcher.ReadU16();
  const uint32_t stored = watcher.ReadU32();
  EXPECT_EQ(watcher.ReadU32(), stored);
  watcher.ReadBytes(12 * size_t{stored});
  EXPECT_EQ(watcher.ReadValue(kStops).first, 0.0f);

  // The probe stops experiments started with argument 4 by itself 300 ms later.
  watcher.U8(13).U32(5).U32(0).U32(1000).U32(4).U8(0).U16(1).U16(kCounter).Send();
  const uint32_t automatic = watcher.ReadU32();
  ASSERT_EQ(automatic, 2u);
  WaitFor(
      [&] {
        watcher.U8(18).U32(automatic).Send();
        return watcher.ReadU8() == 0;
      },
      "the plug-in to stop the experiment");
  watcher.U8(14).Send();  // no longer this connection's recording
  EXPECT_EQ(watcher.ReadU32(), 0xFFFFFFFFu);
  server->Signal(SIGTERM);
  EXPECT_EQ(server->WaitForExit(), 0);
  EXPECT_NE(dir.Read("users.log").find("Experiment 2 stopped automatically"), std::string::npos);
}

TEST_F(ServerMeasurementTest, BurstsThroughTheServer) {
  auto server = Start();
  ProtocolClient c;
  Connect(c);
  EXPECT_EQ(c.FindChannel(3, "burst_5"), 1006);
  c.U8(17).Str("probe").U32(100).Send();
  const uint32_t id = c.ReadU32();
  ASSERT_EQ(id, 1u);
  c.U8(15).U32(id).U32(1).U16(1006).U32(0).U32(100).Send();
  ASSERT_EQ(c.ReadU32(), 1u);
  EXPECT_EQ(c.ReadU16(), 1006);
  EXPECT_EQ(c.ReadU32(), 100u);
  ASSERT_EQ(c.ReadU32(), 100u);
  for (uint32_t i = 0; i < 100; ++i) {
    EXPECT_EQ(c.ReadU32(), i);
    EXPECT_EQ(c.ReadU32(), 10 * i);
    EXPECT_EQ(c.ReadF32(), static_cast<float>(5000 + i));
  }
  EXPECT_EQ(c.ReadValue(2).first, 1.0f);  // LDPBurstFree once
  c.U8(17).Str("no such burst").U32(1).Send();
  EXPECT_TRUE(c.WaitClosed());
  ProtocolClient d;
  Connect(d);
  d.U8(17).Str("probe_fail").U32(1).Send();
  EXPECT_TRUE(d.WaitClosed());
}

// Resident and peak resident size of a process in kB, from /proc.
long ProcessMemoryKb(pid_t pid, const char* field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  return -1;
}

// 130 windows of 30000 burst samples (3.9 M samples, 47 MB a reply) asked by clients
// that do not read at first: the server produces each reply while sending it, so its
// memory stays near where it was instead of growing by a reply per client. The burst is
// evicted while the replies are under way; each still arrives whole and byte for byte,
// over TCP and WebSocket, because a reply keeps the experiment it started with.
TEST_F(ServerMeasurementTest, LargeExperimentReadsStreamWithBoundedMemoryAndSurviveEviction) {
  auto server = Start();
  ProtocolClient c;
  Connect(c);
  constexpr uint32_t kSamples = 30000;
  c.U8(17).Str("probe").U32(kSamples).Send();
  const uint32_t burst = c.ReadU32();
  ASSERT_EQ(burst, 1u);
  const long before = ProcessMemoryKb(server->pid(), "VmRSS:");
  ASSERT_GT(before, 0);

  constexpr uint32_t kEntries = 130;  // 3.9 M samples, under the limit of one reply
  std::vector<std::unique_ptr<ProtocolClient>> readers;
  for (int k = 0; k < 4; ++k) {
    auto& r = readers.emplace_back(std::make_unique<ProtocolClient>());
    r->set_timeout_ms(30000);
    r->Connect("127.0.0.1", port, k % 2 == 0 ? Transport::kTcp : Transport::kWebSocket);
    ASSERT_EQ(r->Hello(), 0);
    r->U8(15).U32(burst).U32(kEntries);
    for (uint32_t e = 0; e < kEntries; ++e)
      r->U16(static_cast<uint16_t>(1001 + e % 8)).U32(0).U32(kSamples);
    r->Send();
  }
  auto started = [&] {
    const std::string log = dir.Read("users.log");
    size_t n = 0;
    for (size_t at = 0; (at = log.find("read data from experiment 1\n", at)) != std::string::npos;
         ++at)
      ++n;
    return n == readers.size();
  };
  WaitFor(started, "every reply to start");

  // 100 new recordings evict the burst, the oldest experiment, mid-reply.
  for (int k = 0; k < 100; ++k) {
    c.U8(13).U32(5).U32(0).U32(10).U32(0).U8(0).U16(1).U16(kCounter).Send();
    ASSERT_NE(c.ReadU32(), 0xFFFFFFFFu);
  }
  c.U8(15).U32(burst).U32(1).U16(1001).U32(0).U32(1).Send();
  EXPECT_EQ(c.ReadU32(), 0xFFFFFFFFu) << "the burst was not evicted";

  for (auto& r : readers) {
    ASSERT_EQ(r->ReadU32(), 8u);
    for (uint16_t slot = 0; slot < 8; ++slot) {
      ASSERT_EQ(r->ReadU16(), 1001 + slot);
      ASSERT_EQ(r->ReadU32(), kSamples);  // stored
      const uint32_t windows = kEntries / 8 + (slot < kEntries % 8 ? 1 : 0);
      ASSERT_EQ(r->ReadU32(), windows * kSamples);
      for (uint32_t w = 0; w < windows; ++w) {
        const std::string bytes = r->ReadBytes(12 * size_t{kSamples});
        auto word = [&](size_t at) {
          uint32_t v = 0;
          for (size_t b = 0; b < 4; ++b) v = v << 8 | static_cast<uint8_t>(bytes[at + b]);
          return v;
        };
        for (uint32_t i = 0; i < kSamples; ++i) {
          const size_t at = 12 * size_t{i};
          if (word(at) != i || word(at + 4) != 10 * i ||
              std::bit_cast<float>(word(at + 8)) != static_cast<float>(1000 * slot + i)) {
            FAIL() << "slot " << slot << " window " << w << " sample " << i;
          }
        }
      }
    }
  }
  // The peak over all four replies: far below one assembled reply (47 MB) per client.
  const long peak = ProcessMemoryKb(server->pid(), "VmHWM:");
  std::printf("server RSS %ld kB before the reads, peak %ld kB during them\n", before, peak);
  EXPECT_LT(peak - before, 24 * 1024);
  c.U8(18).U32(2).Send();  // the server still answers
  EXPECT_EQ(c.ReadU8(), 0);
  server->Signal(SIGTERM);
  EXPECT_EQ(server->WaitForExit(), 0);
}

// What a newcomer gets from the run command: Simulator.ldp with the demo orvexa.cfg
// that the run command seeds an empty run folder with. Over WebSocket, as a browser
// would: history of the logged channels, live fast samples, an experiment and a burst.
TEST(DemoConfigurationTest, SimulatorWithTheDemoConfigLogsSamplesRecordsAndBursts) {
  TempDir dir;
  std::filesystem::copy_file(std::string(ORVEXA_BUILD_DIR) + "/Simulator.ldp",
                             dir.File("Simulator.ldp"));
  std::filesystem::copy_file(std::string(ORVEXA_SOURCE_DIR) + "/scripts/demo-orvexa.cfg",
                             dir.File("orvexa.cfg"));
  ServerProcess server(dir.path(), {"/port", "0"});
  const int port = server.WaitForPort().value_or(0);
  ASSERT_TRUE(server.WaitForOutput("Server running")) << server.Stdout() << server.Stderr();
  ProtocolClient c;
  c.Connect("127.0.0.1", port, Transport::kWebSocket);
  ASSERT_EQ(c.Hello(), 0);
  const uint16_t sine = c.FindChannel(3, "Simulator_Sine");
  const uint16_t ramp = c.FindChannel(3, "Simulator_Ramp");
  ASSERT_NE(sine, 0);
  ASSERT_NE(ramp, 0);

  // History: one record a second, values of a sine of amplitude 1.
  const auto deadline = Steady::now() + std::chrono::seconds(20);
  std::vector<float> values;
  while (values.size() < 2) {
    ASSERT_LT(Steady::now(), deadline) << "no history";
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    c.U8(8).U16(sine).U32(3600).U16(0).U32(0).Send();
    values.resize(c.ReadU32());
    for (float& v : values) {
      c.ReadU32();
      v = c.ReadF32();
    }
  }
  for (float v : values) EXPECT_LE(std::abs(v), 1.0f);

  // Live samples at 100 Hz: the last 10, newest first.
  c.U8(12).U16(ramp).U8(0).U32(10).U16(0).Send();
  ASSERT_EQ(c.ReadU32(), 10u);
  std::vector<uint32_t> sequences(10);
  for (uint32_t& s : sequences) {
    s = c.ReadU32();
    c.ReadF32();
  }
  EXPECT_EQ(c.ReadU32(), sequences[0]);
  EXPECT_EQ(sequences[0] - sequences[9], 9u);

  // An experiment on the fast-sampled ramp: samples arrive while it records.
  c.U8(13).U32(42).U32(0).U32(1000).U32(0).U8(1).U16(1).U16(ramp).Send();
  const uint32_t id = c.ReadU32();
  ASSERT_EQ(id, 1u);
  uint32_t stored = 0;
  while (stored < 20) {
    ASSERT_LT(Steady::now(), deadline) << "no experiment samples";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    c.U8(15).U32(id).U32(1).U16(ramp).U32(0).U32(0).Send();
    ASSERT_EQ(c.ReadU32(), 1u);
    EXPECT_EQ(c.ReadU16(), ramp);
    stored = c.ReadU32();
    EXPECT_EQ(c.ReadU32(), 0u);
  }
  c.U8(14).Send();
  EXPECT_EQ(c.ReadU32(), id);

  // The simulator's burst: eight columns read back through 1001 .. 1008.
  c.U8(17).Str("sweep").U32(50).Send();
  const uint32_t burst = c.ReadU32();
  ASSERT_EQ(burst, 2u);
  c.U8(15).U32(burst).U32(8);
  for (uint16_t slot = 1001; slot <= 1008; ++slot) c.U16(slot).U32(0).U32(1000);
  c.Send();
  ASSERT_EQ(c.ReadU32(), 8u);
  for (uint16_t slot = 1001; slot <= 1008; ++slot) {
    EXPECT_EQ(c.ReadU16(), slot);
    const uint32_t count = c.ReadU32();
    EXPECT_EQ(count, 50u);
    ASSERT_EQ(c.ReadU32(), count);
    for (uint32_t i = 0; i < count; ++i) {
      EXPECT_EQ(c.ReadU32(), i);
      c.ReadU32();
      c.ReadF32();
    }
  }
  server.Signal(SIGTERM);
  EXPECT_EQ(server.WaitForExit(), 0);
  EXPECT_TRUE(dir.Exists("Simulator_Sine.log"));
}

}  // namespace
}  // namespace orvexa::test
