// The history sample filter in each mode, in a fixed local time zone, and its hour
// cache checked against a plain local-time conversion across daylight-saving changes.
#include "logging/history_filter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "platform/local_calendar.h"

namespace orvexa {
namespace {

// Sets TZ for one test and restores the previous value afterwards.
class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    const char* old = std::getenv("TZ");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneGuard() {
    if (hadOld_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  bool hadOld_ = false;
  std::string old_;
};

// Calendar seconds of a local date and time in the current zone.
uint32_t Local(int year, int month, int day, int hour, int minute, int second = 0) {
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  parts.tm_isdst = -1;
  return static_cast<uint32_t>(std::mktime(&parts));
}

std::vector<uint32_t> Accepted(uint16_t mode, uint32_t limit, const std::vector<uint32_t>& times) {
  HistoryFilter filter;
  filter.FilterReset(mode, limit);
  std::vector<uint32_t> out;
  for (uint32_t t : times)
    if (filter.FilterAccept(mode, limit, LogRecord{t, 0})) out.push_back(t);
  return out;
}

std::vector<uint32_t> Every(uint32_t from, uint32_t to, uint32_t step) {
  std::vector<uint32_t> out;
  for (uint32_t t = from; t <= to; t += step) out.push_back(t);
  return out;
}

TEST(HistoryFilterTest, ModeZeroAcceptsAllAndUnknownModesNothing) {
  std::vector<uint32_t> times = Every(1000, 2000, 10);
  EXPECT_EQ(Accepted(0, 12345, times), times);
  EXPECT_TRUE(Accepted(3, 0, times).empty());
  EXPECT_TRUE(Accepted(65535, 0, times).empty());
}

TEST(HistoryFilterTest, FirstRecordOfEachStretchInTheHourPerDay) {
  ZoneGuard zone("CET-1CEST,M3.5.0,M10.5.0/3");
  std::vector<uint32_t> times;
  for (int day : {10, 11}) {
    std::vector<uint32_t> part = Every(Local(2026, 6, day, 13, 0), Local(2026, 6, day, 16, 0), 600);
    times.insert(times.end(), part.begin(), part.end());
  }
  EXPECT_EQ(Accepted(1, 14, times),
            (std::vector<uint32_t>{Local(2026, 6, 10, 14, 0), Local(2026, 6, 11, 14, 0)}));
  // Hours beyond the day never match.
  EXPECT_TRUE(Accepted(1, 24, times).empty());
  EXPECT_TRUE(Accepted(1, 0xFFFFFFFF, times).empty());
}

TEST(HistoryFilterTest, ModeOneUsesLocalNotUtcHours) {
  ZoneGuard zone("<+0530>-5:30");
  const uint32_t at1400 = Local(2026, 1, 5, 14, 0);
  std::vector<uint32_t> times = Every(at1400 - 3 * 3600, at1400 + 3 * 3600, 300);
  EXPECT_EQ(Accepted(1, 14, times), std::vector<uint32_t>{at1400});
}

TEST(HistoryFilterTest, WindowThinnedToOnePerMinuteOrUnthinned) {
  const uint32_t start = 1'700'000'000;
  std::vector<uint32_t> times = Every(start, start + 600, 1);
  const uint32_t perMinute = (25u << 24) | 300;
  EXPECT_EQ(Accepted(2, perMinute, times), Every(start, start + 300, 60));
  const uint32_t all = (24u << 24) | 300;
  EXPECT_EQ(Accepted(2, all, times), Every(start, start + 300, 1));
  for (uint32_t code : {30u, 31u}) EXPECT_EQ(Accepted(2, (code << 24) | 300, times).size(), 301u);
  // Bits above 28 are not part of the code.
  EXPECT_EQ(Accepted(2, (0xE0u << 24) | (25u << 24) | 300, times), Every(start, start + 300, 60));
}

TEST(HistoryFilterTest, SpacingIsFromTheLastAcceptedRecordNotAGrid) {
  const uint32_t t0 = 1'700'000'000;
  // Gaps of 50 s: with a 60 s spacing the accepted records are 100 s apart.
  std::vector<uint32_t> times = Every(t0, t0 + 1000, 50);
  EXPECT_EQ(Accepted(2, (25u << 24) | 1000, times), Every(t0, t0 + 1000, 100));
  EXPECT_EQ(ThinningStep(26), 600);
  EXPECT_EQ(ThinningStep(29), 21600);
  EXPECT_STREQ(ThinningName(27), "one sample per hour");
  EXPECT_EQ(ThinningName(24), nullptr);
}

TEST(HistoryFilterTest, WindowWithHourCodeTakesFirstRecordOfEachStretchOfThatHour) {
  ZoneGuard zone("CET-1CEST,M3.5.0,M10.5.0/3");
  const uint32_t limit = (14u << 24) | (2 * 86400);
  // Records every 10 minutes from 10:00 for two days.
  std::vector<uint32_t> times = Every(Local(2026, 6, 10, 10, 0), Local(2026, 6, 12, 10, 0), 600);
  EXPECT_EQ(Accepted(2, limit, times),
            (std::vector<uint32_t>{Local(2026, 6, 10, 10, 0), Local(2026, 6, 10, 14, 0),
                                   Local(2026, 6, 11, 14, 0)}));
  // The first record lies in hour 14 and does not mark it taken: the next one of that
  // same hour is accepted too.
  std::vector<uint32_t> inHour = Every(Local(2026, 6, 10, 14, 0), Local(2026, 6, 10, 16, 0), 600);
  EXPECT_EQ(Accepted(2, (14u << 24) | 86400, inHour),
            (std::vector<uint32_t>{Local(2026, 6, 10, 14, 0), Local(2026, 6, 10, 14, 10)}));
}

TEST(HistoryFilterTest, WindowEndsAtFirstRecordPlusLength) {
  const uint32_t t0 = 1'000'000;
  std::vector<uint32_t> times = Every(t0 + 7, t0 + 100, 1);
  std::vector<uint32_t> out = Accepted(2, (24u << 24) | 10, times);
  EXPECT_EQ(out, Every(t0 + 7, t0 + 17, 1));
  // Window length 0 takes exactly the first record and those with the same time.
  EXPECT_EQ(Accepted(2, (24u << 24) | 0, {5, 5, 6}), (std::vector<uint32_t>{5, 5}));
}

TEST(HistoryFilterTest, ResetStartsAFreshRound) {
  HistoryFilter filter;
  const uint32_t limit = (25u << 24) | 1000;
  filter.FilterReset(2, limit);
  EXPECT_TRUE(filter.FilterAccept(2, limit, {100, 0}));
  EXPECT_FALSE(filter.FilterAccept(2, limit, {110, 0}));
  filter.FilterReset(2, limit);
  EXPECT_TRUE(filter.FilterAccept(2, limit, {110, 0}));  // first of the new round
}

// The hour cache must give exactly the hour a direct conversion gives, including on
// the days the clocks change and in zones with half-hour offsets.
TEST(HistoryFilterTest, HourDecisionsMatchDirectConversionAcrossClockChanges) {
  for (const char* zoneName : {"CET-1CEST,M3.5.0,M10.5.0/3", "<+1030>-10:30<+11>-11,M10.1.0,M4.1.0",
                               "EST5EDT,M3.2.0,M11.1.0", "UTC0"}) {
    ZoneGuard zone(zoneName);
    for (uint32_t from : {Local(2026, 3, 28, 0, 0), Local(2026, 10, 24, 0, 0),
                          Local(2026, 4, 4, 0, 0), Local(2026, 11, 1, 0, 0)}) {
      std::vector<uint32_t> times = Every(from, from + 3 * 86400, 421);
      for (uint32_t hour = 0; hour < 24; ++hour) {
        std::vector<uint32_t> expected;
        bool taken = false;
        for (uint32_t t : times) {
          if (LocalHourOf(t) != static_cast<int>(hour)) {
            taken = false;
          } else if (!taken) {
            taken = true;
            expected.push_back(t);
          }
        }
        ASSERT_EQ(Accepted(1, hour, times), expected) << zoneName << " hour " << hour;
      }
    }
  }
}

}  // namespace
}  // namespace orvexa
