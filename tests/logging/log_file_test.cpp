#include "logging/log_file.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/mapped_file.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"

namespace orvexa {
namespace {

using test::FileSizeLimit;
using test::TempDir;

constexpr uint32_t kSmall = 16;  // records in the unit tests' files

uint64_t FileBytes(uint32_t capacity) {
  return 12 + 8ull * capacity;
}

LogFileHeader HeaderOnDisk(const TempDir& dir, const std::string& name) {
  std::string bytes = dir.Read(name);
  LogFileHeader header{};
  if (bytes.size() >= sizeof header) std::memcpy(&header, bytes.data(), sizeof header);
  return header;
}

LogRecord RecordOnDisk(const TempDir& dir, const std::string& name, uint32_t slot) {
  std::string bytes = dir.Read(name);
  LogRecord record{};
  std::memcpy(&record, bytes.data() + 12 + 8 * slot, sizeof record);
  return record;
}

// Collects what the log file would show in a message box.
class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LogFile::SetErrorSink([this](const std::string& text) { messages.push_back(text); });
  }
  void TearDown() override { LogFile::SetErrorSink(nullptr); }

  TempDir dir;
  std::vector<std::string> messages;
};

TEST_F(LogFileTest, NewFileHasFullSizeAndEmptyHeader) {
  LogFile log(dir.File("tank.log"));
  ASSERT_TRUE(log.Open(false));  // the server's own capacity: 15000000 records
  EXPECT_EQ(std::filesystem::file_size(dir.File("tank.log")), 120000012u);
  EXPECT_EQ(log.Header()->nextIndex, 0u);
  EXPECT_EQ(log.Header()->count, 0u);
  EXPECT_EQ(log.Header()->capacity, kLogCapacity);
  EXPECT_TRUE(messages.empty());
}

TEST_F(LogFileTest, AppendStoresFixedPointAndFlushReachesTheFile) {
  LogFile log(dir.File("a.log"));
  ASSERT_TRUE(log.Open(false, kSmall));
  log.Append(100, 1.5f);
  log.Append(101, -1.999f);
  log.Append(102, 0.0039f);  // below 1/256
  log.Append(103, 0.004f);   // 1.024 / 256: one step, not zero
  log.Flush();
  EXPECT_EQ(log.Header()->count, 4u);
  EXPECT_EQ(log.Header()->nextIndex, 4u);
  EXPECT_EQ(RecordOnDisk(dir, "a.log", 0).value, 384);
  EXPECT_EQ(RecordOnDisk(dir, "a.log", 0).time, 100u);
  EXPECT_EQ(RecordOnDisk(dir, "a.log", 1).value, -511);
  EXPECT_EQ(RecordOnDisk(dir, "a.log", 2).value, 0);
  EXPECT_EQ(RecordOnDisk(dir, "a.log", 3).value, 1);
  EXPECT_EQ(HeaderOnDisk(dir, "a.log").count, 4u);
}

TEST(LogFileFixedPointTest, OutOfRangeSaturatesAndNaNIsZero) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  EXPECT_EQ(LogFile::FixedPoint(std::nanf("")), 0);
  EXPECT_EQ(LogFile::FixedPoint(-std::nanf("")), 0);
  EXPECT_EQ(LogFile::FixedPoint(8388608.0f), kMax);  // 2^31 does not fit
  EXPECT_EQ(LogFile::FixedPoint(1e30f), kMax);
  EXPECT_EQ(LogFile::FixedPoint(INFINITY), kMax);
  EXPECT_EQ(LogFile::FixedPoint(-8388608.0f), kMin);  // -2^31 fits exactly
  EXPECT_EQ(LogFile::FixedPoint(-1e30f), kMin);
  EXPECT_EQ(LogFile::FixedPoint(-INFINITY), kMin);
  EXPECT_EQ(LogFile::FixedPoint(8388607.5f), 2147483520);
  EXPECT_EQ(LogFile::FixedPoint(-0.0039f), 0);  // toward zero, not down
}

TEST_F(LogFileTest, RingWrapsOverTheOldestRecord) {
  LogFile log(dir.File("ring.log"));
  ASSERT_TRUE(log.Open(false, 4));
  for (uint32_t t = 1; t <= 6; ++t) log.Append(t, static_cast<float>(t));
  EXPECT_EQ(log.Header()->count, 4u);
  EXPECT_EQ(log.Header()->nextIndex, 2u);
  EXPECT_EQ(log.Records()[0].time, 5u);
  EXPECT_EQ(log.Records()[1].time, 6u);
  EXPECT_EQ(log.Records()[2].time, 3u);  // oldest, next to be overwritten
  for (uint32_t t = 7; t <= 8; ++t) log.Append(t, 0.0f);
  EXPECT_EQ(log.Header()->nextIndex, 0u);
}

TEST_F(LogFileTest, ReopenKeepsRecordsUnlessAlwaysReset) {
  {
    LogFile log(dir.File("keep.log"));
    ASSERT_TRUE(log.Open(false, kSmall));
    log.Append(10, 1.0f);
    log.Append(11, 2.0f);
    log.Flush();
  }
  LogFile log(dir.File("keep.log"));
  ASSERT_TRUE(log.Open(false, kSmall));
  EXPECT_EQ(log.Header()->count, 2u);
  EXPECT_EQ(log.Header()->nextIndex, 2u);
  EXPECT_EQ(log.Records()[1].value, 512);
  log.Append(12, 3.0f);
  EXPECT_EQ(log.Header()->count, 3u);

  ASSERT_TRUE(log.Open(true, kSmall));  // Open closes what was open first
  EXPECT_EQ(log.Header()->count, 0u);
  EXPECT_EQ(log.Header()->nextIndex, 0u);
  EXPECT_EQ(log.Records()[0].time, 10u);  // old bytes stay, only the header is reset
}

TEST_F(LogFileTest, ReopenWithSmallerStoredCapacityKeepsItsOwnCapacity) {
  {
    LogFile log(dir.File("small.log"));
    ASSERT_TRUE(log.Open(false, 4));
  }
  LogFile log(dir.File("small.log"));
  ASSERT_TRUE(log.Open(false, kSmall));
  EXPECT_EQ(log.Header()->capacity, 4u);
  EXPECT_EQ(std::filesystem::file_size(dir.File("small.log")), FileBytes(kSmall));
  for (int i = 0; i < 5; ++i) log.Append(i, 0.0f);
  EXPECT_EQ(log.Header()->nextIndex, 1u);
}

TEST_F(LogFileTest, EmptyExistingFileStartsAnew) {
  dir.Write("empty.log", "");
  LogFile log(dir.File("empty.log"));
  ASSERT_TRUE(log.Open(false, kSmall));
  EXPECT_EQ(log.Header()->capacity, kSmall);
  EXPECT_EQ(log.Header()->count, 0u);
}

TEST_F(LogFileTest, SecondOpenerIsRefusedUntilTheFirstCloses) {
  LogFile first(dir.File("shared.log"));
  ASSERT_TRUE(first.Open(false, kSmall));
  LogFile second(dir.File("shared.log"));
  EXPECT_FALSE(second.Open(false, kSmall));
  EXPECT_FALSE(second.IsOpen());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("Unable to create the log file. Error 0x0000000b", 0), 0u)
      << messages[0];
  first.Close();
  EXPECT_TRUE(second.Open(false, kSmall));
}

TEST_F(LogFileTest, ClosedLogIgnoresAppendFlushAndReplicate) {
  LogFile log(dir.File("closed.log"));
  log.Append(1, 1.0f);
  log.Flush();
  log.replicationPeriod = 1;
  EXPECT_FALSE(log.ReplicateAt(100000));
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(log.Header(), nullptr);
  EXPECT_FALSE(dir.Exists("closed.log"));
}

TEST_F(LogFileTest, MovedLogFileHandsOverTheMapping) {
  LogFile source(dir.File("moved.log"));
  ASSERT_TRUE(source.Open(false, kSmall));
  LogFile target(std::move(source));
  EXPECT_FALSE(source.IsOpen());
  source.Append(1, 1.0f);  // must not reach the mapping
  EXPECT_TRUE(target.IsOpen());
  EXPECT_EQ(target.Header()->count, 0u);
}

// Header defects: each fixture names what is wrong with it. The file must be refused as
// it stands: no reads or writes outside the mapping, the file untouched, the lock free.
class DamagedHeaderTest : public LogFileTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(DamagedHeaderTest, RefusedAndLeftUntouched) {
  std::string name = GetParam();
  std::filesystem::copy_file(std::string(ORVEXA_SOURCE_DIR) + "/tests/logging/fixtures/" + name,
                             dir.File(name));
  std::string before = dir.Read(name);
  LogFile log(dir.File(name));
  EXPECT_FALSE(log.Open(false, kSmall));
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(dir.Read(name), before);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("damaged header"), std::string::npos) << messages[0];
  EXPECT_NE(messages[0].find(name), std::string::npos) << messages[0];
  // Nothing stays held: another opener gets the lock at once.
  MappedFile other;
  bool created = true;
  int error = 0;
  EXPECT_TRUE(other.Open(dir.File(name), &created, &error).ok);
  other.Close();
  // Resetting such a file is a deliberate choice and works.
  EXPECT_TRUE(log.Open(true, kSmall));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DamagedHeaderTest,
                         ::testing::Values("capacity_beyond_mapped_ring.log",
                                           "next_index_at_capacity.log",
                                           "count_beyond_capacity.log", "capacity_zero.log"));

// Lowers the file-size limit for the duration of a test (SIGXFSZ ignored), so that a
// write or an extension of a file fails the way a full disk makes it fail.
TEST_F(LogFileTest, FailedExtensionClosesTheFileAtOnce) {
  {
    FileSizeLimit limit(1000);
    LogFile log(dir.File("big.log"));
    EXPECT_FALSE(log.Open(false, 10000));
    EXPECT_FALSE(log.IsOpen());
  }
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("Unable to create file mapping. Error 0x", 0), 0u) << messages[0];
  MappedFile other;
  bool created = true;
  int error = 0;
  EXPECT_TRUE(other.Open(dir.File("big.log"), &created, &error).ok) << error;
}

class ReplicationTest : public LogFileTest {
 protected:
  void SetUp() override {
    LogFileTest::SetUp();
    setenv("TZ", "UTC", 1);
    tzset();
  }
  // 7 March 2016 09:05:30 UTC
  static constexpr int64_t kMarch7 = 1457341530;
};

TEST_F(ReplicationTest, CopyIsTakenOnlyWhenDue) {
  LogFile log(dir.File("tank.log"));
  ASSERT_TRUE(log.Open(false, kSmall));
  log.Append(5, 2.0f);
  EXPECT_FALSE(log.ReplicateAt(kMarch7));  // period 0: never
  log.replicationPeriod = 3600;
  log.lastReplication = kMarch7 - 3599;
  EXPECT_FALSE(log.ReplicateAt(kMarch7));
  log.lastReplication = kMarch7 - 3600;
  ASSERT_TRUE(log.ReplicateAt(kMarch7));
  EXPECT_EQ(log.lastReplication, kMarch7);
  EXPECT_EQ(log.CopyName(kMarch7), dir.File("tank.log.07_03_2016_09_05_30"));
  std::string copy = dir.Read("tank.log.07_03_2016_09_05_30");
  EXPECT_EQ(copy.size(), FileBytes(kSmall));
  EXPECT_EQ(copy, dir.Read("tank.log"));
  EXPECT_FALSE(log.ReplicateAt(kMarch7 + 1));  // not due again yet
}

TEST_F(ReplicationTest, CopyLargerThanOneChunkIsComplete) {
  LogFile log(dir.File("long.log"));
  ASSERT_TRUE(log.Open(false, 5000));  // 40012 bytes: five chunks
  for (uint32_t t = 0; t < 5000; ++t) log.Append(t, static_cast<float>(t));
  log.replicationPeriod = 1;
  ASSERT_TRUE(log.ReplicateAt(kMarch7));
  EXPECT_EQ(dir.Read("long.log.07_03_2016_09_05_30"), dir.Read("long.log"));
}

TEST_F(ReplicationTest, CopyThatCannotBeCreatedFailsAndIsRetried) {
  LogFile log(dir.File("tank.log"));
  ASSERT_TRUE(log.Open(false, kSmall));
  log.replicationPeriod = 3600;
  // A folder in the copy's place makes its creation fail (even for root).
  std::filesystem::create_directory(dir.File("tank.log.07_03_2016_09_05_30"));
  EXPECT_FALSE(log.ReplicateAt(kMarch7));
  EXPECT_EQ(log.lastReplication, 0);
  std::filesystem::remove(dir.File("tank.log.07_03_2016_09_05_30"));
  EXPECT_TRUE(log.ReplicateAt(kMarch7 + 1));
}

// What a copy cut short by a stop left behind goes at the next start; nothing else does.
TEST_F(ReplicationTest, UnfinishedCopiesOfTheLogAreRemoved) {
  for (const char* name : {"tank.log.07_03_2016_09_05_30.part", "tank.log.07_03_2016_09_05_30",
                           "tank.log.notes.part", "other.log.07_03_2016_09_05_30.part"})
    dir.Write(name, "x");
  EXPECT_TRUE(LogFile::RemovePartialCopies(dir.File("tank.log")).ok);
  EXPECT_FALSE(dir.Exists("tank.log.07_03_2016_09_05_30.part"));
  EXPECT_TRUE(dir.Exists("tank.log.07_03_2016_09_05_30"));
  EXPECT_TRUE(dir.Exists("tank.log.notes.part"));
  EXPECT_TRUE(dir.Exists("other.log.07_03_2016_09_05_30.part"));
}

TEST_F(ReplicationTest, ShortWriteLeavesNoPartialCopy) {
  LogFile log(dir.File("tank.log"));
  ASSERT_TRUE(log.Open(false, 10000));  // 80012 bytes
  log.replicationPeriod = 3600;
  {
    FileSizeLimit limit(25000);
    EXPECT_FALSE(log.ReplicateAt(kMarch7));
  }
  EXPECT_FALSE(dir.Exists("tank.log.07_03_2016_09_05_30"));
  EXPECT_EQ(log.lastReplication, 0);
}

// A copy is the log exactly as it stood when it was started, although the logger goes on
// appending (here it wraps the ring over the oldest records, and rewrites the header)
// while the copy reads the file on another thread: the copy opens as a log file with the
// header and every record of that instant, and no ".part" file stays. A copy stopped at
// shutdown, or of a log closed while it still reads it, leaves nothing behind.
TEST_F(ReplicationTest, CopyTakenWhileAppendsContinueIsTheLogAtItsInstant) {
  constexpr uint32_t kCapacity = 50000;  // 400 KB: more than one chunk read
  LogFile log(dir.File("busy.log"));
  ASSERT_TRUE(log.Open(false, kCapacity));
  for (uint32_t t = 0; t < 30000; ++t) log.Append(t, static_cast<float>(t));
  log.replicationPeriod = 1;
  std::optional<LogCopy> copy = log.StartCopy(kMarch7);
  ASSERT_TRUE(copy);
  const std::string instant(reinterpret_cast<const char*>(log.Header()), FileBytes(kCapacity));
  EXPECT_FALSE(log.StartCopy(kMarch7 + 1));  // one copy of a log at a time
  // Before the copy reads anything, and while it reads: 40000 more records wrap the ring.
  for (uint32_t t = 30000; t < 50000; ++t) log.Append(t, -1.0f);
  std::thread copier([&copy] { EXPECT_TRUE(copy->Run().ok); });
  for (uint32_t t = 50000; t < 70000; ++t) log.Append(t, -2.0f);
  copier.join();
  EXPECT_EQ(log.Header()->nextIndex, 20000u);  // the live log went on
  const std::string name = "busy.log.07_03_2016_09_05_30";
  EXPECT_FALSE(dir.Exists(name + ".part"));
  ASSERT_TRUE(dir.Read(name) == instant) << "the copy is not the log of its instant";
  LogFile reopened(dir.File(name));
  ASSERT_TRUE(reopened.Open(false, kCapacity));
  EXPECT_EQ(reopened.Header()->count, 30000u);
  EXPECT_EQ(reopened.Header()->nextIndex, 30000u);
  EXPECT_EQ(reopened.Records()[29999].time, 29999u);
  reopened.Close();

  // Stopped (shutdown) or closed while the copy has not finished reading: dropped,
  // nothing left behind under either name.
  const std::atomic<bool> stopping{true};
  std::optional<LogCopy> stopped = log.StartCopy(kMarch7 + 6);
  ASSERT_TRUE(stopped);
  EXPECT_FALSE(stopped->Run(&stopping).ok);
  EXPECT_FALSE(dir.Exists("busy.log.07_03_2016_09_05_36"));
  EXPECT_FALSE(dir.Exists("busy.log.07_03_2016_09_05_36.part"));
  std::optional<LogCopy> dropped = log.StartCopy(kMarch7 + 7);
  ASSERT_TRUE(dropped);
  log.Close();
  EXPECT_FALSE(dropped->Run().ok);
  EXPECT_FALSE(dir.Exists("busy.log.07_03_2016_09_05_37"));
  EXPECT_FALSE(dir.Exists("busy.log.07_03_2016_09_05_37.part"));
}

// A full disk: a small tmpfs of the test's own. A log that does not fit is refused when
// it is opened (its blocks are reserved then), never a SIGBUS when a record lands on an
// unbacked page; a copy that does not fit leaves nothing behind, under either name.
TEST_F(ReplicationTest, FullDiskRefusesTheLogAndLeavesNoCopy) {
  const std::string disk = dir.File("disk");
  std::filesystem::create_directory(disk);
  if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here (needs root): " << std::strerror(errno);
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{disk};
  {
    LogFile tooBig(disk + "/big.log");
    ASSERT_FALSE(tooBig.Open(false, 200000));  // 1.6 MB
    EXPECT_FALSE(tooBig.IsOpen());
  }
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("Unable to create file mapping. Error 0x", 0), 0u) << messages[0];
  std::filesystem::remove(disk + "/big.log");
  LogFile log(disk + "/tank.log");
  ASSERT_TRUE(log.Open(false, 80000));  // 640 KB: every record can be stored
  for (uint32_t t = 0; t < 80000; ++t) log.Append(t, 1.0f);
  log.Flush();
  log.replicationPeriod = 3600;
  EXPECT_FALSE(log.ReplicateAt(kMarch7));  // no room for a second 640 KB
  EXPECT_EQ(log.lastReplication, 0);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(disk))
    names.push_back(entry.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"tank.log"});
}

}  // namespace
}  // namespace orvexa
