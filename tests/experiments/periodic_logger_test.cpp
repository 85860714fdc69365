// The periodic logger over real log files: the fixed grid with its one-record catch-up,
// records flushed with the pass's time and the plug-in's value, timestamped copies named
// in local time (written by the copier's thread: FinishCopies waits for them), only the
// newest MaxLogCopies of them kept, the settings saved with the new copy date, and the
// main thread's tick that never waits for ServerLock.
#include "logging/periodic_logger.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <future>
#include <mutex>
#include <thread>

#include "base/server_lock.h"
#include "probe_fixture.h"

namespace orvexa::test {
namespace {

class PeriodicLoggerTest : public ProbeTest {
 protected:
  void LogLevel(int period, int replicationHours = 0, int lastReplication = 0) {
    ConfigValue* level = Settings("Probe_level");
    SetBool(level, "LogingEnabled", true);
    SetString(level, "LogFileName", "level.log");
    SetInt(level, "TimeBetweenLogs", period);
    SetInt(level, "TimeBetweenReplications", replicationHours);
    SetInt(level, "LastLogReplicationDate", lastReplication);
  }
  std::vector<LogRecord> Records(const std::string& id) {
    std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
    LogFile& file = registry->Channel(Index(id)).logFile;
    std::vector<LogRecord> out;
    const LogFileHeader* h = file.Header();
    for (uint32_t k = 0; k < h->count; ++k) out.push_back(file.Records()[k]);
    return out;
  }
  std::vector<uint32_t> Times(const std::string& id) {
    std::vector<uint32_t> out;
    for (const LogRecord& r : Records(id)) out.push_back(r.time);
    return out;
  }
};

TEST_F(PeriodicLoggerTest, FixedGridFirstPassStrictlyAfterEachPoint) {
  AddPlugin("Probe");
  LogLevel(60);
  Discover();
  registry->Channel(Index("Probe_level")).Write(1.5f);
  PeriodicLogger logger(*registry, &config, [] { return int64_t{0}; });
  for (int64_t t = kStart; t <= kStart + 200; ++t) logger.PeriodicLogPass(t);
  // Grid points: registration time, +60, +120, +180.
  EXPECT_EQ(Times("Probe_level"),
            (std::vector<uint32_t>{kStart + 1, kStart + 61, kStart + 121, kStart + 181}));
  EXPECT_EQ(Records("Probe_level")[0].value, 384);  // 1.5 x 256
  // Channels without logging enabled write nothing, and their files stay closed.
  std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
  EXPECT_FALSE(registry->Channel(Index("Probe_counter")).logFile.IsOpen());
}

TEST_F(PeriodicLoggerTest, StallIsCaughtUpOneRecordPerPass) {
  AddPlugin("Probe");
  LogLevel(10);
  Discover();
  PeriodicLogger logger(*registry, &config, [] { return int64_t{0}; });
  // Nothing runs for 35 s; then passes every second.
  for (int64_t t = kStart + 35; t <= kStart + 40; ++t) logger.PeriodicLogPass(t);
  // Grid points +0, +10, +20, +30 are owed; one is written per pass, each with the
  // pass's time; the grid point +40 is not yet passed strictly at +40.
  EXPECT_EQ(Times("Probe_level"),
            (std::vector<uint32_t>{kStart + 35, kStart + 36, kStart + 37, kStart + 38}));
  logger.PeriodicLogPass(kStart + 41);
  EXPECT_EQ(Times("Probe_level").size(), 5u);
}

TEST_F(PeriodicLoggerTest, PeriodZeroLogsEveryPass) {
  AddPlugin("Probe");
  LogLevel(0);
  Discover();
  PeriodicLogger logger(*registry, &config, [] { return int64_t{0}; });
  for (int64_t t = kStart + 1; t <= kStart + 5; ++t) logger.PeriodicLogPass(t);
  logger.PeriodicLogPass(kStart + 5);
  EXPECT_EQ(Times("Probe_level").size(), 6u);
}

// While another thread holds ServerLock (a burst) the tick gives up after a few
// milliseconds and says so; the pass that was due runs when it is tried again, with the
// time it was due at, its copy and the settings save included.
TEST_F(PeriodicLoggerTest, TryTickWaitsOnlyBrieflyAndKeepsTheDueTime) {
  AddPlugin("Probe");
  LogLevel(1, 24, 0);
  Discover();
  PeriodicLogger logger(*registry, &config, [] { return int64_t{0}; });
  std::promise<void> held, release;
  std::thread burst([&] {
    std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
    held.set_value();
    release.get_future().wait();
  });
  held.get_future().wait();
  const bool done = logger.TryTick(kStart + 5);
  release.set_value();
  burst.join();
  EXPECT_FALSE(done);
  EXPECT_TRUE(Times("Probe_level").empty());
  EXPECT_TRUE(logger.TryTick(kStart + 9));
  EXPECT_EQ(Times("Probe_level"), (std::vector<uint32_t>{kStart + 5}));
  ASSERT_TRUE(logger.FinishCopies());  // the copy the continued pass started, at its time
  const std::string saved = dir.Read("orvexa.cfg");
  EXPECT_NE(saved.find("LastLogReplicationDate=" + std::to_string(kStart + 5)), std::string::npos)
      << saved;
  EXPECT_TRUE(logger.TryTick(kStart + 9));  // a new pass, at its own time
  EXPECT_EQ(Times("Probe_level").back(), kStart + 9);
}

// A history reader holding the log's lock for its search delays the append, but the
// pass has read its values and released ServerLock by then: the fast sampler, which
// takes ServerLock on every pass, never waits behind the reader.
TEST_F(PeriodicLoggerTest, AppendWaitingForAReaderHoldsNoServerLock) {
  AddPlugin("Probe");
  LogLevel(1);
  Discover();
  DeviceChannel& level = registry->Channel(Index("Probe_level"));
  const int64_t gridBefore = level.nextLogTime;
  PeriodicLogger logger(*registry, &config, [] { return int64_t{0}; });
  std::promise<void> reading, sampled;
  bool readerGaveUp = false;
  std::thread reader([&] {
    level.logFile.ReadLocked([&](const LogFile::View&) {
      reading.set_value();
      readerGaveUp =
          sampled.get_future().wait_for(std::chrono::seconds(10)) == std::future_status::timeout;
    });
  });
  reading.get_future().wait();
  std::thread pass([&] { logger.PeriodicLogPass(kStart + 5); });
  // Once the pass has taken its values (under ServerLock), ServerLock is free again
  // although the append still waits for the reader.
  for (bool taken = false; !taken;) {
    std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
    taken = level.nextLogTime != gridBefore;
    if (!taken) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  sampled.set_value();
  reader.join();
  pass.join();
  EXPECT_FALSE(readerGaveUp) << "ServerLock stayed held while the append waited";
  EXPECT_EQ(Times("Probe_level"), (std::vector<uint32_t>{kStart + 5}));
}

TEST_F(PeriodicLoggerTest, CopyNamedInLocalTimeAndItsDateSaved) {
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
  AddPlugin("Probe");
  LogLevel(1, 24, 0);
  Discover();
  const int64_t at = 1457337930;  // 7 March 2016 09:05:30 in that zone
  int64_t clock = at;
  PeriodicLogger logger(*registry, &config, [&clock] { return clock; });
  logger.Tick();  // starts the copy
  ASSERT_TRUE(logger.FinishCopies());
  EXPECT_TRUE(dir.Exists("level.log.07_03_2016_09_05_30"));
  EXPECT_EQ(std::filesystem::file_size(dir.File("level.log.07_03_2016_09_05_30")), 12u + 8u * 16u);
  const std::string saved = dir.Read("orvexa.cfg");
  EXPECT_NE(saved.find("LastLogReplicationDate=1457337930"), std::string::npos) << saved;
  EXPECT_NE(saved.find("TimeBetweenReplications=24"), std::string::npos) << saved;
  // Not due again for 24 hours.
  clock = at + 3600;
  EXPECT_FALSE(logger.PeriodicLogPass(clock));
  EXPECT_FALSE(logger.FinishCopies());
  clock = at + 86400;
  logger.PeriodicLogPass(clock);
  EXPECT_TRUE(logger.FinishCopies());
  setenv("TZ", "UTC", 1);
  tzset();
}

TEST_F(PeriodicLoggerTest, CopiesBeyondMaxLogCopiesAreRemovedNewestKept) {
  setenv("TZ", "UTC", 1);
  tzset();
  AddPlugin("Probe");
  LogLevel(1, 1, 0);
  Discover();
  // Earlier copies, newest first by time but not by name, and files that are no copies
  // of this log (another log's copy, a backup, an unfinished copy, a folder).
  for (const char* name : {"level.log.01_03_2016_00_00_00", "level.log.15_02_2016_12_00_00",
                           "level.log.31_12_2015_23_59_59", "other.log.01_01_2010_00_00_00",
                           "level.log.bak", "level.log.02_01_2010_00_00_00.part"})
    dir.Write(name, "x");
  std::filesystem::create_directory(dir.File("level.log.01_01_2000_00_00_00"));
  const int64_t at = 1457341530;  // 7 March 2016 09:05:30 UTC
  PeriodicLogger logger(*registry, &config, [] { return int64_t{0}; });
  // MaxLogCopies 0 keeps them all.
  logger.PeriodicLogPass(at - 7200);
  ASSERT_TRUE(logger.FinishCopies());
  EXPECT_TRUE(dir.Exists("level.log.31_12_2015_23_59_59"));
  logger.SetMaxLogCopies(2);
  logger.PeriodicLogPass(at);
  ASSERT_TRUE(logger.FinishCopies());
  EXPECT_TRUE(dir.Exists("level.log.07_03_2016_09_05_30"));
  EXPECT_TRUE(dir.Exists("level.log.07_03_2016_07_05_30"));
  EXPECT_FALSE(dir.Exists("level.log.01_03_2016_00_00_00"));
  EXPECT_FALSE(dir.Exists("level.log.15_02_2016_12_00_00"));
  EXPECT_FALSE(dir.Exists("level.log.31_12_2015_23_59_59"));
  logger.PeriodicLogPass(at + 3600);
  ASSERT_TRUE(logger.FinishCopies());
  EXPECT_TRUE(dir.Exists("level.log.07_03_2016_10_05_30"));
  EXPECT_TRUE(dir.Exists("level.log.07_03_2016_09_05_30"));
  EXPECT_FALSE(dir.Exists("level.log.07_03_2016_07_05_30"));
  for (const char* name : {"level.log", "other.log.01_01_2010_00_00_00", "level.log.bak",
                           "level.log.02_01_2010_00_00_00.part", "level.log.01_01_2000_00_00_00"})
    EXPECT_TRUE(dir.Exists(name)) << name;
}

TEST_F(PeriodicLoggerTest, SettingsWrittenBackForEveryChannel) {
  AddPlugin("Probe");
  LogLevel(7, 1, 1234);
  Discover();
  {
    std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
    DeviceChannel& counter = registry->Channel(Index("Probe_counter"));
    counter.fastLogEnabled = true;
    counter.fastLogFrequency = 250;
    counter.fastLogSize = 77;
  }
  ASSERT_TRUE(SaveLoggingSettings(*registry, config));
  ConfigValue* info = FindTyped(config.OrvexaConfig(), "LogingInfo", ValueKind::Struct);
  ConfigValue* level = FindTyped(info, "Probe_level", ValueKind::Struct);
  EXPECT_STREQ(GetString(level, "LogFileName", ""), "level.log");
  EXPECT_TRUE(GetBool(level, "LogingEnabled", false));
  EXPECT_EQ(GetInt(level, "LastLogReplicationDate", 0), 1234);
  EXPECT_EQ(GetInt(level, "TimeBetweenReplications", 0), 1);
  EXPECT_EQ(GetInt(level, "TimeBetweenLogs", 0), 7);
  ConfigValue* counter = FindTyped(info, "Probe_counter", ValueKind::Struct);
  EXPECT_STREQ(GetString(counter, "LogFileName", ""), "Probe_counter");
  EXPECT_FALSE(GetBool(counter, "LogingEnabled", true));
  EXPECT_TRUE(GetBool(counter, "FastLogEnabled", false));
  EXPECT_EQ(GetInt(counter, "FastLogFreq", 0), 250);
  EXPECT_EQ(GetInt(counter, "FastLogSize", 0), 77);
  EXPECT_NE(dir.Read("orvexa.cfg").find("Probe_counter"), std::string::npos);
}

}  // namespace
}  // namespace orvexa::test
