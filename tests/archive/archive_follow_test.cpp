// The archiver end to end: the real server with the Simulator plug-in serves a prepared
// log (several days, with a clock step back) and goes on logging once a second, while
// the archiver copies it into a private PostgreSQL cluster and is killed, loses its
// database and its server again and again. The archive must equal the log record for
// record, and per day through the public view.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <pqxx/pqxx>
#include <thread>

#include "archive/postgres_cluster.h"
#include "support/server_process.h"
#include "support/temp_dir.h"

namespace orvexa::test {
namespace {

struct Record {
  uint32_t time;
  int32_t raw;
  bool operator==(const Record&) const = default;
};

constexpr uint32_t kCapacity = 15000000;

void WriteLog(const std::string& path, const std::vector<Record>& records) {
  std::ofstream out(path, std::ios::binary);
  uint32_t header[3] = {static_cast<uint32_t>(records.size()),
                        static_cast<uint32_t>(records.size()), kCapacity};
  out.write(reinterpret_cast<const char*>(header), sizeof header);
  out.write(reinterpret_cast<const char*>(records.data()), records.size() * sizeof(Record));
}

// Appends to a log the way the server does (while no server has it open).
void AppendToLog(const std::string& path, const std::vector<Record>& records) {
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  uint32_t header[3] = {};
  f.read(reinterpret_cast<char*>(header), sizeof header);
  f.seekp(12 + std::streamoff{8} * header[0]);
  f.write(reinterpret_cast<const char*>(records.data()), records.size() * sizeof(Record));
  header[0] += static_cast<uint32_t>(records.size());
  header[1] += static_cast<uint32_t>(records.size());
  f.seekp(0);
  f.write(reinterpret_cast<const char*>(header), 8);
}

// The log's records in ring order (the test's logs never wrap).
std::vector<Record> ReadLog(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  uint32_t header[3] = {};
  in.read(reinterpret_cast<char*>(header), sizeof header);
  std::vector<Record> records(header[1]);
  in.read(reinterpret_cast<char*>(records.data()), records.size() * sizeof(Record));
  return records;
}

class Archive {
 public:
  explicit Archive(std::string connection) : connection_(std::move(connection)) {}

  // Records archived over all channels; -1 while the database is away.
  long long Archived() const {
    try {
      pqxx::connection c(connection_);
      pqxx::read_transaction w(c);
      return w.exec1("SELECT coalesce(sum(seq), 0) FROM archive_cursor")[0].as<long long>();
    } catch (const std::exception&) {
      return -1;
    }
  }
  bool WaitForMore(long long than, std::chrono::seconds deadline = std::chrono::seconds(60)) {
    auto until = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < until) {
      if (Archived() > than) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  std::vector<Record> Channel(const std::string& lab, const std::string& id) const {
    pqxx::connection c(connection_);
    pqxx::read_transaction w(c);
    std::vector<Record> out;
    long long seq = 0;
    for (const auto& row :
         w.exec_params("SELECT s.seq, extract(epoch FROM s.t)::bigint, s.raw FROM sample_raw s "
                       "JOIN archive_channel c ON c.id = s.channel "
                       "WHERE c.lab = $1 AND c.channel_id = $2 ORDER BY s.seq",
                       lab, id)) {
      EXPECT_EQ(row[0].as<long long>(), ++seq) << "a gap or a repeat in the archive's order";
      out.push_back({static_cast<uint32_t>(row[1].as<long long>()), row[2].as<int32_t>()});
    }
    return out;
  }
  // Day (UTC) -> (count, sum of value × 256 weighted by position in the day).
  std::map<long long, std::pair<long long, double>> Days(const std::string& lab,
                                                         const std::string& id) const {
    pqxx::connection c(connection_);
    pqxx::read_transaction w(c);
    std::map<long long, std::pair<long long, double>> out;
    for (const auto& row : w.exec_params(
             "SELECT extract(epoch FROM date_trunc('day', time AT TIME ZONE 'UTC'))::bigint, "
             "count(*), sum(value * 256 * (extract(epoch FROM time)::bigint % 86400 + 1)) "
             "FROM sample WHERE lab = $1 AND channel_id = $2 GROUP BY 1",
             lab, id))
      out[row[0].as<long long>() / 86400] = {row[1].as<long long>(), row[2].as<double>()};
    return out;
  }

 private:
  std::string connection_;
};

std::map<long long, std::pair<long long, double>> Days(const std::vector<Record>& records) {
  std::map<long long, std::pair<long long, double>> out;
  for (const auto& r : records) {
    auto& day = out[r.time / 86400];
    day.first += 1;
    day.second += static_cast<double>(r.raw) * (r.time % 86400 + 1);
  }
  return out;
}

TEST(ArchiveFollowTest, ArchiveEqualsTheLogThroughCrashesOfArchiverDatabaseAndServer) {
  TempDir dir;
  for (const char* sub : {"db", "server", "archiver"})
    std::filesystem::create_directory(dir.File(sub));
  PostgresCluster db(dir.File("db"));
  Archive archive(db.Connection());

  // Five days of records once a second, the clock set back by 5000 s half-way, the last
  // record 100 s ago; values that never repeat a pattern the archiver could mistake.
  const uint32_t now = static_cast<uint32_t>(std::time(nullptr));
  const uint32_t total = 400000;
  std::vector<Record> prepared;
  for (uint32_t i = 0; i < total; ++i) {
    uint32_t t = now - 100 - (total - 1 - i) - (i < total / 2 ? 5000 : 0);
    prepared.push_back({t, static_cast<int32_t>((i * 7919u) % 100003u) - 50000});
  }
  const std::string server = dir.File("server");
  WriteLog(server + "/sine.log", prepared);
  std::ofstream(server + "/orvexa.cfg")
      << "OrvexaConfig { Enable = true LogingInfo = struct { Simulator_Sine = struct {\n"
         "  LogingEnabled = true LogFileName = \"sine.log\" TimeBetweenLogs = 1 } } }\n";
  std::filesystem::copy_file(std::string(ORVEXA_BUILD_DIR) + "/Simulator.ldp",
                             server + "/Simulator.ldp");

  auto lab = std::make_unique<ServerProcess>(server, std::vector<std::string>{"/port", "0"});
  const int port = lab->WaitForPort().value_or(0);
  ASSERT_TRUE(lab->WaitForOutput("Server running")) << lab->Stderr();

  const std::string archiverBinary = std::string(ORVEXA_BUILD_DIR) + "/orvexa-archiver";
  const std::vector<std::string> args = {"--server",      "lab1=127.0.0.1:" + std::to_string(port),
                                         "--database",    db.Connection(),
                                         "--interval",    "1",
                                         "--commit-rows", "3000"};
  auto archiver = std::make_unique<ServerProcess>(dir.File("archiver"), args,
                                                  std::vector<std::string>{}, archiverBinary);

  long long seen = 0;
  for (int round = 0; round < 20; ++round) {
    ASSERT_TRUE(archive.WaitForMore(seen)) << archiver->Stderr();
    seen = archive.Archived();
    if (round % 4 == 1) {
      // The database goes away under a running archiver, which must say so and wait.
      db.StopImmediately();
      ASSERT_TRUE(archiver->WaitForStderr("retrying")) << archiver->Stderr();
      db.Start();
      ASSERT_TRUE(archive.WaitForMore(seen)) << archiver->Stderr();
      seen = archive.Archived();
    }
    if (round == 10) {
      lab->Signal(SIGTERM);
      ASSERT_EQ(lab->WaitForExit(), 0);
      ASSERT_TRUE(archiver->WaitForStderr("failed")) << archiver->Stderr();
      lab = std::make_unique<ServerProcess>(
          server, std::vector<std::string>{"/port", std::to_string(port)});
      ASSERT_TRUE(lab->WaitForOutput("Server running")) << lab->Stderr();
    }
    archiver->Signal(SIGKILL);
    ASSERT_TRUE(archiver->WaitForExit().has_value());
    archiver = std::make_unique<ServerProcess>(dir.File("archiver"), args,
                                               std::vector<std::string>{}, archiverBinary);
  }
  archiver->Signal(SIGKILL);
  archiver->WaitForExit();

  // Catch up once more, then compare with the log as it stood before that.
  const size_t logged = ReadLog(server + "/sine.log").size();
  std::vector<std::string> once = args;
  once.push_back("--once");
  ServerProcess last(dir.File("archiver"), once, {}, archiverBinary);
  ASSERT_EQ(last.WaitForExit(std::chrono::seconds(120)), 0) << last.Stderr();

  std::vector<Record> log = ReadLog(server + "/sine.log");
  std::vector<Record> archived = archive.Channel("lab1", "Simulator_Sine");
  ASSERT_GE(archived.size(), logged);
  ASSERT_GE(log.size(), archived.size());
  log.resize(archived.size());
  EXPECT_TRUE(std::equal(prepared.begin(), prepared.end(), log.begin()));
  EXPECT_TRUE(archived == log) << "the archive differs from the log";
  EXPECT_EQ(archive.Days("lab1", "Simulator_Sine"), Days(log));
  EXPECT_TRUE(archive.Channel("lab1", "Simulator_Ramp").empty());

  // The clock steps back by 1500 s while the archiver is away: the new records repeat
  // seconds the archive holds, and the server's replies for the archive's newest second
  // skip them. They must still come in, in their order, and nothing twice.
  lab->Signal(SIGTERM);
  ASSERT_EQ(lab->WaitForExit(), 0);
  const uint32_t newest = ReadLog(server + "/sine.log").back().time;
  std::vector<Record> stepped;
  for (uint32_t j = 0; j < 1000; ++j) stepped.push_back({newest - 1500 + j, -7 - int32_t(j)});
  AppendToLog(server + "/sine.log", stepped);
  lab = std::make_unique<ServerProcess>(server,
                                        std::vector<std::string>{"/port", std::to_string(port)});
  ASSERT_TRUE(lab->WaitForOutput("Server running")) << lab->Stderr();
  const size_t before = ReadLog(server + "/sine.log").size();
  ServerProcess again(dir.File("archiver"), once, {}, archiverBinary);
  ASSERT_EQ(again.WaitForExit(std::chrono::seconds(120)), 0) << again.Stderr();
  EXPECT_NE(again.Stderr().find("clock step back"), std::string::npos) << again.Stderr();
  log = ReadLog(server + "/sine.log");
  archived = archive.Channel("lab1", "Simulator_Sine");
  ASSERT_GE(archived.size(), before);
  ASSERT_GE(log.size(), archived.size());
  log.resize(archived.size());
  EXPECT_TRUE(archived == log) << "the archive differs from the log after the step back";

  // Packing the days before yesterday per channel-hour, twice, keeps every record.
  std::vector<std::string> pack = once;
  pack.insert(pack.end(), {"--keep-raw-days", "1"});
  for (int run = 0; run < 2; ++run) {
    ServerProcess packer(dir.File("archiver"), pack, {}, archiverBinary);
    ASSERT_EQ(packer.WaitForExit(std::chrono::seconds(120)), 0) << packer.Stderr();
    if (run == 0) EXPECT_NE(packer.Stderr().find("day(s) per channel-hour"), std::string::npos);
  }
  log = ReadLog(server + "/sine.log");
  log.resize(archive.Archived());
  EXPECT_EQ(archive.Days("lab1", "Simulator_Sine"), Days(log));

  // orvexa-cli reads the same records back, packed days and rows, in the log's order.
  const std::string csv = dir.File("sine.csv");
  const std::string command = "PYTHONPATH='" + std::string(ORVEXA_SOURCE_DIR) +
                              "/clients/python' /usr/bin/python3 -m orvexa archive lab1 "
                              "Simulator_Sine --from 0 --to 4000000000 --database '" +
                              db.Connection() + "' --csv '" + csv + "' 2>/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream in(csv);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "time,value");
  size_t row = 0;
  while (std::getline(in, line) && row < log.size()) {
    float value = std::strtof(line.c_str() + line.find(',') + 1, nullptr);
    if (value * 256 != static_cast<float>(log[row].raw)) break;
    ++row;
  }
  EXPECT_EQ(row, log.size()) << "orvexa-cli archive differs from the log at row " << row;
}

}  // namespace
}  // namespace orvexa::test
