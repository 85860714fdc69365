// The audit log: line prefix in local time without leading zeros, one complete line per
// write even from many threads, nothing written when the file could not be opened, and
// rotation by size that keeps every line whole and in order, also when a rename fails.
#include "sessions/audit_log.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <filesystem>
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

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// The line number of an audit line "(...) <tag> <t> line <i>" for a thread t.
bool ParseLine(const std::string& line, int* t, int* i) {
  const size_t text = line.find(") ");
  return line.front() == '(' && text != std::string::npos &&
         std::sscanf(line.c_str() + text + 2, "User %d line %d", t, i) == 2;
}

TEST(AuditLogTest, RotatesAtTheSizeKeepingTheNewestFilesAndWholeLines) {
  constexpr uint64_t kMax = 300;
  // Many writers, every old file kept: each file within the size and ending in a line
  // end, and oldest to newest every thread's lines once each and in order, so no line
  // was lost, split or doubled at a rotation.
  {
    test::TempDir dir;
    dir.Write("users.log", std::string(150, 'x') + "\n");  // an earlier run's line
    AuditLog log;
    log.SetRotation(kMax, AuditLog::kMaxKeptFiles);
    ASSERT_TRUE(log.Open(dir.File("users.log")));
    constexpr int kThreads = 4, kLines = 100;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&log, t] {
        for (int i = 0; i < kLines; ++i) log.Write("User %d line %d", t, i);
      });
    for (auto& th : threads) th.join();
    log.Close();
    int files = 1;
    while (dir.Exists("users.log." + std::to_string(files))) ++files;
    ASSERT_GT(files, 40);  // about 16 KB in files of at most 300 bytes
    EXPECT_EQ(dir.Read("users.log." + std::to_string(files - 1)).rfind(std::string(150, 'x'), 0),
              0u);
    std::vector<int> next(kThreads, 0);
    for (int k = files - 1; k >= 0; --k) {
      const std::string name = k == 0 ? "users.log" : "users.log." + std::to_string(k);
      const std::string text = dir.Read(name);
      EXPECT_LE(text.size(), kMax) << name;
      ASSERT_EQ(text.back(), '\n') << name;
      for (const std::string& line : LinesOf(text)) {
        if (line.front() == 'x') continue;
        int t = -1, i = -1;
        ASSERT_TRUE(ParseLine(line, &t, &i) && t >= 0 && t < kThreads) << name << ": " << line;
        EXPECT_EQ(i, next[t]++) << name << ": " << line;
      }
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kLines) << "thread " << t;
  }
  // Three old files kept: users.log.4 never appears, and the four files hold the newest
  // lines without a gap.
  {
    test::TempDir dir;
    AuditLog log;
    log.SetRotation(kMax, 3);
    ASSERT_TRUE(log.Open(dir.File("users.log")));
    for (int i = 0; i < 100; ++i) log.Write("User 0 line %d", i);
    log.Close();
    EXPECT_FALSE(dir.Exists("users.log.4"));
    std::string text;
    for (const char* name : {"users.log.3", "users.log.2", "users.log.1", "users.log"}) {
      ASSERT_TRUE(dir.Exists(name)) << name;
      text += dir.Read(name);
    }
    std::vector<std::string> lines = LinesOf(text);
    ASSERT_GT(lines.size(), 20u);
    for (size_t k = 0; k < lines.size(); ++k) {
      int t = -1, i = -1;
      ASSERT_TRUE(ParseLine(lines[k], &t, &i)) << lines[k];
      EXPECT_EQ(i, static_cast<int>(100 - lines.size() + k)) << lines[k];
    }
  }
}

TEST(AuditLogTest, FailedRotationKeepsAppendingAndSaysSoOnce) {
  test::TempDir dir;
  // A folder in the place of users.log.1: the file cannot be renamed onto it.
  std::filesystem::create_directories(dir.File("users.log.1/inside"));
  AuditLog log;
  log.SetRotation(100, 1);
  ASSERT_TRUE(log.Open(dir.File("users.log")));
  testing::internal::CaptureStderr();
  for (int i = 0; i < 20; ++i) log.Write("line %d", i);
  const std::string warnings = testing::internal::GetCapturedStderr();
  std::vector<std::string> lines = LinesOf(dir.Read("users.log"));
  ASSERT_EQ(lines.size(), 20u);
  EXPECT_NE(lines.back().find(") line 19"), std::string::npos) << lines.back();
  EXPECT_EQ(LinesOf(warnings).size(), 1u) << warnings;
  EXPECT_NE(warnings.find("users.log not rotated"), std::string::npos) << warnings;
  // Once the way is clear, the next rotation moves the whole file aside.
  std::filesystem::remove_all(dir.File("users.log.1"));
  int written = 20;
  while (!dir.Exists("users.log.1") && written < 30) log.Write("line %d", written++);
  log.Close();
  ASSERT_TRUE(dir.Exists("users.log.1"));
  EXPECT_EQ(LinesOf(dir.Read("users.log.1")).size(), static_cast<size_t>(written - 1));
  EXPECT_EQ(LinesOf(dir.Read("users.log")).size(), 1u);
  EXPECT_EQ(dir.Read("users.log.1").find(") line 0\n"), lines.front().find(") "));
}

}  // namespace
}  // namespace orvexa
