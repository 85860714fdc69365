// Range query and history selection over small rings that wrap, compared with a
// straightforward reference, plus the reply cap and the mode-2 window test.
#include "logging/history_query.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <random>
#include <vector>

#include "history_selection.h"
#include "logging/log_file.h"
#include "support/temp_dir.h"

namespace orvexa {
namespace {

using test::CountAccepted;
using test::SelectHistory;

// A log image of `capacity` slots filled the way the log file appends.
struct SmallLog {
  explicit SmallLog(uint32_t capacity) : records(capacity, LogRecord{0, 0}) {
    header = {0, 0, capacity};
  }
  void Append(uint32_t time, int32_t value) {
    records[header.nextIndex] = {time, value};
    header.nextIndex = (header.nextIndex + 1) % header.capacity;
    if (header.count < header.capacity) ++header.count;
  }
  RecordRuns Since(uint32_t start) const {
    return SamplesSince(&header, records.data(), static_cast<uint32_t>(records.size()), start);
  }
  // Valid records oldest first.
  std::vector<LogRecord> InOrder() const {
    std::vector<LogRecord> out;
    const uint32_t first = header.count < header.capacity ? 0 : header.nextIndex;
    for (uint32_t k = 0; k < header.count; ++k)
      out.push_back(records[(first + k) % header.capacity]);
    return out;
  }
  LogFileHeader header;
  std::vector<LogRecord> records;
};

std::vector<uint32_t> Times(const RecordRuns& runs) {
  std::vector<uint32_t> out;
  for (const RecordRun* run : {&runs.older, &runs.newer})
    for (uint32_t k = 0; k < run->count; ++k) out.push_back(run->first[k].time);
  return out;
}

std::vector<uint32_t> Range(uint32_t from, uint32_t to) {
  std::vector<uint32_t> out;
  for (uint32_t t = from; t <= to; ++t) out.push_back(t);
  return out;
}

TEST(SamplesSinceTest, UnwrappedLogGivesOneRunFromTheStart) {
  SmallLog log(16);
  for (uint32_t t = 100; t < 110; ++t) log.Append(t, 0);

  RecordRuns runs = log.Since(105);
  EXPECT_EQ(runs.older.count, 5u);
  EXPECT_EQ(runs.older.first, &log.records[5]);
  EXPECT_EQ(runs.newer.count, 0u);
  EXPECT_EQ(runs.newer.first, nullptr);
  EXPECT_EQ(Times(runs), Range(105, 109));

  EXPECT_EQ(Times(log.Since(100)), Range(100, 109));
  EXPECT_EQ(Times(log.Since(0)), Range(100, 109));
  RecordRuns none = log.Since(110);
  EXPECT_EQ(none.older.count, 0u);
  EXPECT_EQ(none.older.first, nullptr);
  EXPECT_EQ(none.newer.count, 0u);
}

TEST(SamplesSinceTest, EmptyClosedOrZeroCapacityLogGivesNothing) {
  SmallLog empty(8);
  EXPECT_TRUE(Times(empty.Since(0)).empty());
  EXPECT_TRUE(Times(SamplesSince(nullptr, nullptr, 0, 0)).empty());
  LogFileHeader zero{0, 0, 0};
  LogRecord dummy{5, 5};
  EXPECT_TRUE(Times(SamplesSince(&zero, &dummy, 1, 0)).empty());
}

TEST(SamplesSinceTest, WrappedRingWithNewestInSlotZero) {
  SmallLog log(8);
  for (uint32_t t = 1; t <= 9; ++t) log.Append(t, 0);  // slot 0 holds 9, the newest
  ASSERT_EQ(log.header.nextIndex, 1u);
  RecordRuns runs = log.Since(0);
  EXPECT_EQ(runs.older.first, &log.records[1]);
  EXPECT_EQ(runs.older.count, 7u);  // slots 1..7
  EXPECT_EQ(runs.newer.first, &log.records[0]);
  EXPECT_EQ(runs.newer.count, 1u);
  EXPECT_EQ(Times(runs), Range(2, 9));

  // A start inside the wrapped part cuts it; a start inside the recent part drops it.
  EXPECT_EQ(Times(log.Since(5)), Range(5, 9));
  RecordRuns recentOnly = log.Since(9);
  EXPECT_EQ(recentOnly.older.first, &log.records[0]);
  EXPECT_EQ(recentOnly.newer.count, 0u);
  EXPECT_EQ(Times(log.Since(10)), std::vector<uint32_t>{});
}

TEST(SamplesSinceTest, FullRingWithNextIndexZeroIsOneRun) {
  SmallLog log(6);
  for (uint32_t t = 1; t <= 12; ++t) log.Append(t, 0);
  ASSERT_EQ(log.header.nextIndex, 0u);
  RecordRuns runs = log.Since(0);
  EXPECT_EQ(runs.older.count, 6u);
  EXPECT_EQ(runs.newer.count, 0u);
  EXPECT_EQ(Times(runs), Range(7, 12));
  EXPECT_EQ(Times(log.Since(10)), Range(10, 12));
}

// Every ring size, fill level and start against the reference: the records at or after
// the start, oldest first.
TEST(SamplesSinceTest, MatchesReferenceOnRandomRings) {
  std::mt19937 random(7);
  for (int round = 0; round < 3000; ++round) {
    const uint32_t capacity = 1 + random() % 9;
    SmallLog log(capacity);
    const int appends = random() % 30;
    uint32_t t = 50;
    for (int k = 0; k < appends; ++k) {
      t += random() % 3;  // equal times allowed
      log.Append(t, k);
    }
    const uint32_t start = 45 + random() % (t - 40);
    std::vector<uint32_t> expected;
    for (const LogRecord& r : log.InOrder())
      if (r.time >= start) expected.push_back(r.time);
    RecordRuns runs = log.Since(start);
    ASSERT_EQ(Times(runs), expected)
        << "capacity " << capacity << " appends " << appends << " start " << start;
    if (runs.older.count == 0) {
      ASSERT_EQ(runs.newer.count, 0u);
    }
  }
}

// A header read from a damaged file never sends the walk past the mapped slots.
TEST(SamplesSinceTest, DamagedHeaderStaysInsideTheMapping) {
  std::vector<LogRecord> records(4, LogRecord{10, 1});
  LogFileHeader bigIndex{1000, 3, 4};
  EXPECT_EQ(Times(SamplesSince(&bigIndex, records.data(), 4, 0)).size(), 4u);
  LogFileHeader bigCount{1, 999999, 4};
  EXPECT_EQ(Times(SamplesSince(&bigCount, records.data(), 4, 0)).size(), 4u);
  LogFileHeader bigCapacity{2, 50, 1000000};
  EXPECT_EQ(Times(SamplesSince(&bigCapacity, records.data(), 4, 0)).size(), 4u);
  LogFileHeader countBelowIndex{3, 1, 4};
  EXPECT_EQ(Times(SamplesSince(&countBelowIndex, records.data(), 4, 0)).size(), 3u);
}

TEST(SelectHistoryTest, SpanCountsBackFromNowAndValuesStayFixedPoint) {
  SmallLog log(4000);
  for (uint32_t t = 1000; t < 5000; ++t) log.Append(t, static_cast<int32_t>(t) - 3000);
  std::vector<LogRecord> out =
      SelectHistory(&log.header, log.records.data(), 4000, 4999, 3600, kHistoryAll, 0);
  ASSERT_EQ(out.size(), 3601u);  // 1399 .. 4999
  EXPECT_EQ(out.front().time, 1399u);
  EXPECT_EQ(out.back().time, 4999u);
  EXPECT_EQ(out.back().value, 1999);
  // Other modes send nothing.
  EXPECT_TRUE(SelectHistory(&log.header, log.records.data(), 4000, 4999, 3600, 3, 0).empty());
  EXPECT_TRUE(SelectHistory(&log.header, log.records.data(), 4000, 4999, 3600, 0xFFFF, 0).empty());
}

TEST(SelectHistoryTest, SpanReachingBefore1970TakesEverything) {
  SmallLog log(8);
  for (uint32_t t = 1; t <= 5; ++t) log.Append(t, 0);
  EXPECT_EQ(HistoryStart(100, 0x7FFFFFFF, kHistoryAll), 0u);
  EXPECT_EQ(SelectHistory(&log.header, log.records.data(), 8, 100, 0x7FFFFFFF, 0, 0).size(), 5u);
  EXPECT_EQ(HistoryStart(100, 5000, kHistoryWindow), 5000u);
}

TEST(SelectHistoryTest, ReplyIsCappedToTheOldestAcceptedRecords) {
  const uint32_t total = kHistoryReplyCap + 1000;
  SmallLog log(total);
  for (uint32_t k = 0; k < total; ++k) log.Append(10 + k, static_cast<int32_t>(k));
  std::vector<LogRecord> all =
      SelectHistory(&log.header, log.records.data(), total, 10 + total, total + 100, 0, 0);
  ASSERT_EQ(all.size(), kHistoryReplyCap);
  EXPECT_EQ(all.front().value, 0);
  EXPECT_EQ(all.back().value, static_cast<int32_t>(kHistoryReplyCap - 1));
  // Mode 2 with no thinning is capped the same way.
  const uint32_t limit = (24u << 24) | 0xFFFFFF;
  std::vector<LogRecord> window =
      SelectHistory(&log.header, log.records.data(), total, 0, 10, kHistoryWindow, limit);
  ASSERT_EQ(window.size(), kHistoryReplyCap);
  EXPECT_EQ(window.front().time, 10u);
}

TEST(SelectHistoryTest, WindowStartingAfterItsEndOrAfterTheNewestRecordIsEmpty) {
  SmallLog log(100);
  for (uint32_t t = 1000; t < 1100; ++t) log.Append(t, 1);
  const uint32_t tenSeconds = (24u << 24) | 10;
  // The first record at or after 900 is 1000, beyond 900 + 10: nothing.
  EXPECT_TRUE(
      SelectHistory(&log.header, log.records.data(), 100, 5000, 900, 2, tenSeconds).empty());
  // Start after the newest record: nothing.
  EXPECT_TRUE(
      SelectHistory(&log.header, log.records.data(), 100, 5000, 1100, 2, tenSeconds).empty());
  // A window that reaches the first record: from it to its own start + 10 s.
  std::vector<LogRecord> out =
      SelectHistory(&log.header, log.records.data(), 100, 5000, 995, 2, tenSeconds);
  ASSERT_EQ(out.size(), 11u);  // the window runs from the first record 1000 to 1010
  EXPECT_EQ(out.front().time, 1000u);
  EXPECT_EQ(out.back().time, 1010u);
}

TEST(SelectHistoryTest, CountMatchesTheRecordsSent) {
  SmallLog log(5000);
  for (uint32_t k = 0; k < 5000; ++k) log.Append(k * 37, 0);
  RecordRuns runs = log.Since(0);
  HistoryFilter filter;
  for (uint32_t limit : {(25u << 24) | 86400u, (27u << 24) | 100000u, (3u << 24) | 200000u}) {
    const uint32_t counted = CountAccepted(filter, kHistoryWindow, limit, runs);
    EXPECT_EQ(counted, SelectHistory(&log.header, log.records.data(), 5000, 0, 0, 2, limit).size());
    EXPECT_EQ(CountAccepted(filter, kHistoryWindow, limit, runs), counted);  // same twice
  }
  EXPECT_EQ(CountAccepted(filter, 0, 0, runs), 5000u);
  EXPECT_EQ(CountAccepted(filter, 7, 0, runs), 0u);
}

// The log file's RecordOrder follows the appends: a record whose clock went back makes
// the queries over it walk, and once the ring has overwritten it they search again. At
// every stage, across both summer-time changes of a zone, every mode and hour gives the
// walk's records.
TEST(SelectHistoryTest, SearchFollowsTheRingOrderAcrossClockStepsAndSummerTime) {
  const char* oldZone = std::getenv("TZ");
  const std::string restore = oldZone != nullptr ? oldZone : "";
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
  test::TempDir dir;
  LogFile log(dir.File("order.log"));
  const uint32_t capacity = 150;
  ASSERT_TRUE(log.Open(true, capacity));
  auto same = [&](const char* stage) {
    const RecordOrder& order = log.Order();
    const LogFileHeader* h = log.Header();
    const int64_t now = 1792872000 + 40 * 3600;
    for (uint16_t mode : {0, 1, 2}) {
      for (uint32_t limit = 0; limit < 32; ++limit) {
        const uint32_t full = mode == 2 ? (limit << 24) | 0xFFFFFF : limit;
        const uint32_t spans[] = {1774728000, 1774728000 + 5 * 3600, 1792872000 + 7 * 3600};
        for (uint32_t from : spans) {
          const uint32_t arg = mode == 2 ? from : static_cast<uint32_t>(now - from);
          std::vector<LogRecord> walked, searched;
          VisitHistory(
              h, log.Records(), log.MappedSlots(), now, arg, mode, full,
              [&](const LogRecord* f, uint32_t n) { walked.insert(walked.end(), f, f + n); });
          VisitHistory(
              h, log.Records(), log.MappedSlots(), now, arg, mode, full,
              [&](const LogRecord* f, uint32_t n) { searched.insert(searched.end(), f, f + n); },
              &order);
          ASSERT_EQ(searched.size(), walked.size())
              << stage << " mode " << mode << " limit " << limit << " from " << from;
          for (size_t k = 0; k < walked.size(); ++k) ASSERT_EQ(searched[k].time, walked[k].time);
        }
      }
    }
  };
  // Every 10 minutes over the night of the spring change, then of the autumn change.
  for (uint32_t k = 0; k < 70; ++k) log.Append(1774728000 + k * 600, 1.0f);
  for (uint32_t k = 0; k < 70; ++k) log.Append(1792872000 + k * 600, 2.0f);
  EXPECT_TRUE(log.Order().Ordered(0, log.Header()->nextIndex));
  same("ordered");
  log.Append(1792872000 + 3 * 600, 3.0f);  // the clock went back
  EXPECT_FALSE(log.Order().Ordered(0, log.Header()->nextIndex));
  same("clock back");
  for (uint32_t k = 0; k < 20; ++k) log.Append(1792872000 + 12 * 3600 + k * 300, 4.0f);
  same("wrapped over it");
  // Once the ring has overwritten the record from the past, the runs are ordered again.
  for (uint32_t k = 0; k < capacity; ++k) log.Append(1792872000 + 14 * 3600 + k * 600, 5.0f);
  EXPECT_TRUE(log.Order().Ordered(0, log.Header()->nextIndex));
  EXPECT_TRUE(log.Order().Ordered(log.Header()->nextIndex, capacity));
  same("overwritten");
  if (oldZone != nullptr)
    setenv("TZ", restore.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

}  // namespace
}  // namespace orvexa

namespace orvexa {
namespace {

// The copying shortcuts for "every record" and unthinned windows must send exactly what
// the filter accepts, also when the clock went back and records are out of order.
TEST(SelectHistoryTest, ShortcutsMatchTheFilterOnDisorderedRecords) {
  std::mt19937 random(11);
  for (int round = 0; round < 300; ++round) {
    const uint32_t capacity = 1 + random() % 60;
    SmallLog log(capacity);
    uint32_t t = 1000;
    const int appends = random() % 90;
    for (int k = 0; k < appends; ++k) {
      t = t + random() % 7 - 2;  // mostly forward, sometimes back
      log.Append(t, k);
    }
    const uint32_t start = 990 + random() % 40;
    const uint32_t length = random() % 50;
    for (uint32_t code : {24u, 30u, 31u}) {
      const uint32_t limit = (code << 24) | length;
      RecordRuns runs = log.Since(start);
      std::vector<uint32_t> expected;
      HistoryFilter filter;
      filter.FilterReset(kHistoryWindow, limit);
      if (!(runs.older.count > 0 && runs.older.first[0].time > int64_t{start} + length)) {
        for (const RecordRun* run : {&runs.older, &runs.newer})
          for (uint32_t k = 0; k < run->count; ++k)
            if (filter.FilterAccept(kHistoryWindow, limit, run->first[k]))
              expected.push_back(run->first[k].time);
      }
      std::vector<uint32_t> got;
      for (const LogRecord& r : SelectHistory(&log.header, log.records.data(), capacity, 0, start,
                                              kHistoryWindow, limit))
        got.push_back(r.time);
      ASSERT_EQ(got, expected) << "round " << round << " code " << code;
    }
    std::vector<uint32_t> all;
    for (const LogRecord& r :
         SelectHistory(&log.header, log.records.data(), capacity, 2000, 2000 - start, 0, 0))
      all.push_back(r.time);
    ASSERT_EQ(all, Times(log.Since(start)));
  }
}

}  // namespace
}  // namespace orvexa

namespace orvexa {
namespace {

// A ring whose clock went back now and then is searched stretch by stretch (between the
// descents its RecordOrder knows): every mode gives the records of the walk.
TEST(SelectHistoryTest, StretchSearchMatchesTheWalkOnDisorderedRecords) {
  std::mt19937 random(23);
  for (int round = 0; round < 400; ++round) {
    const uint32_t capacity = 1 + random() % 80;
    SmallLog log(capacity);
    uint32_t t = 1790000000, lowest = t, highest = t;
    const int appends = random() % 160;
    for (int k = 0; k < appends; ++k) {
      // Mostly forward by up to two hours, sometimes back by up to five.
      t = random() % 8 == 0 ? t - random() % 18000 : t + random() % 7200;
      lowest = std::min(lowest, t);
      highest = std::max(highest, t);
      log.Append(t, k);
    }
    RecordOrder order;
    order.Build(&log.header, log.records.data(), capacity);
    ASSERT_TRUE(order.Usable());
    const int64_t now = int64_t{highest} + 60;
    const uint32_t start = lowest - 100 + random() % (highest - lowest + 200);
    auto visit = [&](uint16_t mode, uint32_t arg, uint32_t limit, const RecordOrder* o) {
      std::vector<uint32_t> times;
      VisitHistory(
          &log.header, log.records.data(), capacity, now, arg, mode, limit,
          [&](const LogRecord* f, uint32_t n) {
            for (uint32_t k = 0; k < n; ++k) times.push_back(f[k].time);
          },
          o);
      return times;
    };
    ASSERT_EQ(Times(SamplesSince(&log.header, log.records.data(), capacity, start, &order)),
              Times(log.Since(start)))
        << "round " << round;
    const uint32_t span = static_cast<uint32_t>(now - start);
    for (uint32_t hour : {0u, 7u, 23u, 24u})
      ASSERT_EQ(visit(kHistoryFirstInHour, span, hour, &order),
                visit(kHistoryFirstInHour, span, hour, nullptr))
          << "round " << round << " hour " << hour;
    const uint32_t length = random() % 40000;
    for (uint32_t code : {3u, 24u, 25u, 27u, 30u}) {
      const uint32_t limit = (code << 24) | length;
      ASSERT_EQ(visit(kHistoryWindow, start, limit, &order),
                visit(kHistoryWindow, start, limit, nullptr))
          << "round " << round << " code " << code;
    }
  }
}

}  // namespace
}  // namespace orvexa
