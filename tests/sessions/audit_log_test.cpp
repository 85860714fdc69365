// The audit log: line prefix in local time without leading zeros, one complete line per
// write even from many threads, nothing written when the file could not be opened.
#include "sessions/audit_log.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <sstream>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace orvexa {
namespace {

TEST(AuditLogTest, PrefixIsLocalTimeWithoutLeadingZeros) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  // 2026-03-05 04:07:09 UTC
  EXPECT_EQ(AuditLog::TimePrefix(1772683629), "(5.3.2026 at 4:7:9) ");
  ::setenv("TZ", "CET-1", 1);
  ::tzset();
  EXPECT_EQ(AuditLog::TimePrefix(1772683629), "(5.3.2026 at 5:7:9) ");
  ::setenv("TZ", "UTC", 1);
  ::tzset();
}

TEST(AuditLogTest, LinesFromManyThreadsStayWhole) {
  test::TempDir dir;
  AuditLog log;
  ASSERT_TRUE(log.Open(dir.File("users.log")));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&log, t] {
      for (int i = 0; i < 200; ++i)
        log.Write("User %u sets device ID:\"%s\" to value:%f\n", t, "x", 1.5);
    });
  for (auto& th : threads) th.join();
  log.Write("Server stoped");  // a missing line end is added
  log.Close();
  std::istringstream lines(dir.Read("users.log"));
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    ASSERT_EQ(line.front(), '(') << line;
    ASSERT_NE(line.find(") "), std::string::npos) << line;
  }
  EXPECT_EQ(count, 801);
  EXPECT_NE(dir.Read("users.log").find(") Server stoped\n"), std::string::npos);
}

TEST(AuditLogTest, AppendsToAnExistingLogAndStaysSilentWhenClosed) {
  test::TempDir dir;
  dir.Write("users.log", "earlier line\n");
  AuditLog log;
  log.Write("before open\n");  // no file: nothing happens
  ASSERT_TRUE(log.Open(dir.File("users.log")));
  EXPECT_TRUE(log.IsOpen());
  log.Write("Server started\n");
  log.Close();
  log.Write("after close\n");
  std::string text = dir.Read("users.log");
  EXPECT_EQ(text.rfind("earlier line\n(", 0), 0u);
  EXPECT_EQ(text.find("before open"), std::string::npos);
  EXPECT_EQ(text.find("after close"), std::string::npos);
  AuditLog missing;
  EXPECT_FALSE(missing.Open(dir.File("no/such/folder/users.log")));
  EXPECT_FALSE(missing.IsOpen());
}

}  // namespace
}  // namespace orvexa
