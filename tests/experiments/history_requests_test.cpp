// History (8) and fast-sample (12) requests as a client sees them, over an in-memory
// connection, with a log file the test fills with known records and the Probe device's
// fast-sample buffer: the three modes in a fixed time zone, fixed-point values, the
// reply cap, the audit lines, and the cases that answer 0 or end the connection.
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <future>
#include <mutex>

#include "base/server_lock.h"
#include "logging/fast_sampler.h"
#include "platform/clock.h"
#include "platform/local_calendar.h"
#include "probe_fixture.h"
#include "request_harness.h"
#include "sessions/audit_log.h"

namespace orvexa::test {
namespace {

constexpr uint16_t kCounter = 1, kLevel = 8;

uint32_t Local(int year, int month, int day, int hour, int minute) {
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_isdst = -1;
  return static_cast<uint32_t>(std::mktime(&parts));
}

class HistoryRequestsTest : public ProbeTest {
 protected:
  void SetUp() override {
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    ProbeTest::SetUp();
    AddPlugin("Probe");
  }
  void TearDown() override {
    audit.Close();
    ProbeTest::TearDown();
    setenv("TZ", "UTC", 1);
    tzset();
  }
  void Start(uint32_t logCapacity = 2000) {
    context.logCapacity = logCapacity;
    ConfigValue* level = Settings("Probe_level");
    SetBool(level, "LogingEnabled", true);
    SetString(level, "LogFileName", "level.log");
    ConfigValue* counter = Settings("Probe_counter");
    SetBool(counter, "FastLogEnabled", true);
    SetInt(counter, "FastLogSize", 50);
    Discover();
    audit.Open(dir.File("users.log"));
    env.registry = registry.get();
    env.audit = &audit;
  }
  void Log(uint32_t time, float value) {
    std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
    registry->Channel(kLevel - 1).logFile.Append(time, value);
  }
  static Request History(uint16_t channel, uint32_t spanOrStart, uint16_t mode, uint32_t limit) {
    return Request().U8(8).U16(channel).U32(spanOrStart).U16(mode).U32(limit);
  }
  // The samples of one history reply.
  static std::vector<std::pair<uint32_t, float>> Samples(Reply& r) {
    std::vector<std::pair<uint32_t, float>> out(r.U32());
    for (auto& s : out) {
      s.first = r.U32();
      s.second = r.F32();
    }
    return out;
  }
  std::string AuditText() { return dir.Read("users.log"); }

  AuditLog audit;
  ServingEnvironment env;
};

TEST_F(HistoryRequestsTest, SpanBackFromNowWithFixedPointValues) {
  Start();
  const uint32_t now = CalendarTime32();
  const float values[] = {1.5f, 0.001f, -0.001f, -1.999f, 2.25f, 7.0f, 8.0f, 9.0f, 10.f, 11.f};
  for (uint32_t k = 0; k < 10; ++k) Log(now - 1000 + 10 * k, values[k]);
  RequestRun connection(env, 12);
  Reply r = connection.Run(History(kLevel, 955, 0, 0).bytes + History(kLevel, 5000, 0, 0).bytes);
  auto recent = Samples(r);
  ASSERT_EQ(recent.size(), 5u);  // now-950 .. now-910, oldest first
  EXPECT_EQ(recent.front().first, now - 950);
  EXPECT_EQ(recent.back().first, now - 910);
  auto all = Samples(r);
  ASSERT_EQ(all.size(), 10u);
  EXPECT_EQ(all[0].second, 1.5f);
  EXPECT_EQ(all[1].second, 0.0f);
  EXPECT_EQ(all[2].second, 0.0f);
  EXPECT_EQ(all[3].second, -511.0f / 256.0f);
  EXPECT_EQ(all[4].second, 2.25f);
  EXPECT_NE(AuditText().find("User 12 read history data for device ID \"Probe_level\" for last "
                             "955 seconds\n"),
            std::string::npos);
}

TEST_F(HistoryRequestsTest, FirstSampleOfHourFourteenPerDay) {
  Start();
  const uint32_t now = CalendarTime32();
  std::vector<uint32_t> times;
  for (uint32_t t = now - 3 * 86400; t < now; t += 600) {
    Log(t, 1.0f);
    times.push_back(t);
  }
  std::vector<uint32_t> expected;
  bool taken = false;
  for (uint32_t t : times) {
    if (t < now - 3 * 86400 + 60) continue;  // before the request's start
    if (LocalHourOf(t) != 14) {
      taken = false;
    } else if (!taken) {
      taken = true;
      expected.push_back(t);
    }
  }
  RequestRun connection(env, 3);
  Reply r = connection.Run(History(kLevel, 3 * 86400 - 60, 1, 14).bytes);
  std::vector<uint32_t> got;
  for (auto& s : Samples(r)) got.push_back(s.first);
  EXPECT_EQ(got, expected);
  // One per calendar day: three days started inside hour 14 touch it on four days.
  EXPECT_LE(got.size(), 4u);
  EXPECT_GE(got.size(), 2u);
  EXPECT_NE(AuditText().find("for last 259140 seconds limited to first sample in hour 14\n"),
            std::string::npos);
}

TEST_F(HistoryRequestsTest, WindowFromMidnightThinnedToOnePerHour) {
  Start();
  for (uint32_t t = Local(2026, 6, 9, 23, 0); t <= Local(2026, 6, 11, 2, 0); t += 600) Log(t, 2.0f);
  const uint32_t midnight = Local(2026, 6, 10, 0, 0);
  RequestRun connection(env, 4);
  Reply r = connection.Run(History(kLevel, midnight + 5, 2, (27u << 24) | 86400).bytes +
                           History(kLevel, Local(2026, 6, 12, 0, 0), 2, (24u << 24) | 60).bytes +
                           History(kLevel, Local(2026, 6, 10, 14, 0), 2, (24u << 24) | 1800).bytes);
  auto hourly = Samples(r);
  // The window runs from the first record at or after the start (00:10) for a day,
  // both ends included: 00:10, 01:10 ... 23:10 and 00:10 of the next day.
  ASSERT_EQ(hourly.size(), 25u);
  EXPECT_EQ(hourly.front().first, midnight + 600);
  EXPECT_EQ(hourly.back().first, midnight + 600 + 86400);
  for (size_t k = 1; k < hourly.size(); ++k)
    EXPECT_EQ(hourly[k].first - hourly[k - 1].first, 3600u);
  EXPECT_EQ(Samples(r).size(), 0u);  // start after the newest record
  EXPECT_EQ(Samples(r).size(), 4u);  // 14:00 .. 14:30 unthinned
  const std::string lines = AuditText();
  EXPECT_NE(lines.find("User 4 read history data for device ID \"Probe_level\" from (10.6.2026 "
                       "at 0:0:5) to (11.6.2026 at 0:0:5) limited to one sample per hour\n"),
            std::string::npos)
      << lines;
  EXPECT_NE(lines.find("from (10.6.2026 at 14:0:0) to (10.6.2026 at 14:30:0)\n"),
            std::string::npos);
}

TEST_F(HistoryRequestsTest, ReplyIsCappedAt131072) {
  Start(140000);
  {
    std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
    for (uint32_t k = 0; k < 140000; ++k)
      registry->Channel(kLevel - 1).logFile.Append(1'000'000 + k, static_cast<float>(k % 100));
  }
  RequestRun connection(env, 5);
  Reply r = connection.Run(History(kLevel, 1'000'000, 2, (24u << 24) | 0xFFFFFF).bytes);
  auto samples = Samples(r);
  ASSERT_EQ(samples.size(), 131072u);
  EXPECT_EQ(samples.front().first, 1'000'000u);
  EXPECT_EQ(samples.back().first, 1'000'000u + 131071u);
}

TEST_F(HistoryRequestsTest, ZeroRepliesAndTheNegativeSpan) {
  Start();
  Log(CalendarTime32() - 5, 1.0f);
  RequestRun connection(env, 6);
  Reply r =
      connection.Run(History(0, 100, 0, 0).bytes + History(10, 100, 0, 0).bytes +
                     History(kCounter, 100, 0, 0).bytes +  // no log file
                     History(kLevel, 100, 3, 0).bytes +    // unknown mode
                     History(kLevel, 100, 1, 24).bytes +   // no hour 24
                     History(kLevel, 0x80000000, 0, 0).bytes + History(kLevel, 100, 0, 0).bytes);
  for (int k = 0; k < 5; ++k) EXPECT_EQ(r.U32(), 0u) << k;
  EXPECT_EQ(r.Left(), 0u);  // the negative span ended the connection
  EXPECT_EQ(AuditText().find("read history"), std::string::npos);
}

TEST_F(HistoryRequestsTest, FastSamplesLastNAndSinceASequence) {
  Start();
  {
    std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
    for (uint32_t tick = 100; tick < 110; ++tick)
      FastSampler::FastSample(registry->Channel(kCounter - 1), tick);
  }
  auto fast = [](uint16_t channel, uint8_t flags, uint32_t x, uint16_t m) {
    return Request().U8(12).U16(channel).U8(flags).U32(x).U16(m).bytes;
  };
  RequestRun connection(env, 7);
  Reply r = connection.Run(fast(kCounter, 0, 5, 2) + fast(kCounter, 1, 7, 0) +
                           fast(kCounter, 3, 8, 0) + fast(kCounter, 1, 11, 0) +
                           fast(kLevel, 0, 5, 0) + fast(0, 0, 5, 0) + fast(99, 0, 5, 0));
  ASSERT_EQ(r.U32(), 2u);
  EXPECT_EQ(r.U32(), 9u);
  EXPECT_EQ(r.F32(), 10.0f);
  EXPECT_EQ(r.U32(), 8u);
  EXPECT_EQ(r.F32(), 9.0f);
  EXPECT_EQ(r.U32(), 9u);  // newest
  ASSERT_EQ(r.U32(), 3u);
  EXPECT_EQ(r.U32(), 9u);
  r.F32();
  EXPECT_EQ(r.U32(), 8u);
  r.F32();
  EXPECT_EQ(r.U32(), 7u);
  r.F32();
  EXPECT_EQ(r.U32(), 9u);
  ASSERT_EQ(r.U32(), 2u);  // times instead of sequence numbers
  EXPECT_EQ(r.U32(), 109u);
  r.F32();
  EXPECT_EQ(r.U32(), 108u);
  r.F32();
  EXPECT_EQ(r.U32(), 9u);
  EXPECT_EQ(r.U32(), 0u);  // nothing newer than 10: no trailing sequence number
  EXPECT_EQ(r.U32(), 0u);  // fast logging off
  EXPECT_EQ(r.U32(), 0u);
  EXPECT_EQ(r.U32(), 0u);
  EXPECT_EQ(r.Left(), 0u);
}

// Neither read waits for the device lock: while another thread holds ServerLock (as a
// 10 s burst does), history and fast samples are still served, each from its own lock.
TEST_F(HistoryRequestsTest, HistoryAndFastSamplesServedWhileServerLockIsHeld) {
  Start();
  const uint32_t now = CalendarTime32();
  Log(now - 20, 1.5f);
  Log(now - 10, 2.5f);
  {
    std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
    for (uint32_t tick = 100; tick < 103; ++tick)
      FastSampler::FastSample(registry->Channel(kCounter - 1), tick);
  }
  std::unique_lock<PriorityInheritanceMutex> device(ServerLock());
  RequestRun connection(env, 8);
  std::future<Reply> reply = std::async(std::launch::async, [&] {
    return connection.Run(History(kLevel, 100, 0, 0).bytes +
                          Request().U8(12).U16(kCounter).U8(0).U32(2).U16(0).bytes);
  });
  const bool served = reply.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  device.unlock();  // a failed run can finish now
  ASSERT_TRUE(served) << "a read waited for ServerLock";
  Reply r = reply.get();
  EXPECT_EQ(Samples(r),
            (std::vector<std::pair<uint32_t, float>>{{now - 20, 1.5f}, {now - 10, 2.5f}}));
  ASSERT_EQ(r.U32(), 2u);  // the two newest fast samples, newest first
  EXPECT_EQ(r.U32(), 2u);
  r.F32();
  EXPECT_EQ(r.U32(), 1u);
  r.F32();
  EXPECT_EQ(r.U32(), 2u);
  EXPECT_EQ(r.Left(), 0u);
}

}  // namespace
}  // namespace orvexa::test
