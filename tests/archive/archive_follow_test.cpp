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
#include <optional>
#include <pqxx/pqxx>
#include <thread>

#include "archive/archive_store.h"
#include "archive/postgres_cluster.h"
#include "client/protocol_client.h"
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
  {
    // sample_between gives what the view gives, over a span that cuts packed hours and
    // reaches into the rows.
    pqxx::connection c(db.Connection());
    pqxx::read_transaction w(c);
    const std::string span = "to_timestamp(" + std::to_string(now - 300000 + 1234) +
                             "), to_timestamp(" + std::to_string(now - 50 + 7) + ")";
    const std::string sums =
        "SELECT count(*), sum((value * 256)::bigint * (extract(epoch FROM time)::bigint % 100000))";
    pqxx::row between =
        w.exec1(sums + " FROM sample_between('lab1', 'Simulator_Sine', " + span + ")");
    pqxx::row view = w.exec1(sums + " FROM sample, (SELECT " + span +
                             ") AS s (t0, t1) WHERE lab = 'lab1' AND channel_id = "
                             "'Simulator_Sine' AND time >= t0 AND time < t1");
    EXPECT_GT(view[0].as<long long>(), 200000);
    EXPECT_EQ(between[0].as<long long>(), view[0].as<long long>());
    EXPECT_EQ(between[1].as<std::string>(), view[1].as<std::string>());
  }

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

  // An archive of the schema before is brought up to date; an hour packed in a half-hour
  // time zone starts at :30 UTC, and a span from a quarter past finds its last 900
  // records whatever zone the reading session is in.
  {
    pqxx::connection c(db.Connection());
    pqxx::work w(c);
    w.exec0("UPDATE archive_schema SET version = version - 1");
    w.exec0("INSERT INTO archive_channel (lab, channel_id) VALUES ('lab2', 'half')");
    w.exec0(
        "INSERT INTO sample_hour SELECT id, '2026-11-03 09:30+00', 1, ARRAY(SELECT "
        "generate_series(0, 3599)::smallint), ARRAY(SELECT generate_series(0, 3599)) "
        "FROM archive_channel WHERE lab = 'lab2'");
    w.commit();
  }
  archive::ArchiveStore migrated(db.Connection());
  pqxx::connection c(db.Connection());
  pqxx::read_transaction w(c);
  EXPECT_EQ(w.exec1("SELECT version FROM archive_schema")[0].as<int>(),
            archive::ArchiveStore::kSchemaVersion);
  for (const char* zone : {"UTC", "Asia/Kolkata"}) {
    w.exec0(std::string("SET timezone = '") + zone + "'");
    EXPECT_EQ(w.exec1("SELECT count(*) FROM sample_between('lab2', 'half', '2026-11-03 "
                      "10:15+00', '2026-11-03 12:00+00')")[0]
                  .as<int>(),
              900)
        << zone;
  }
}

// One experiment channel as the server sends it: (sequence, relative time, value) in
// order, and the stored count.
struct ExperimentChannel {
  uint32_t stored = 0;
  std::vector<std::tuple<uint32_t, uint32_t, float>> samples;
};

// Reads channels `numbers` of experiment `id` whole; none when the server holds no such
// experiment.
std::optional<std::map<uint16_t, ExperimentChannel>> ReadWhole(
    client::ProtocolClient& lab, uint32_t id, const std::vector<uint16_t>& numbers) {
  lab.Code(RequestCode::kReadExperiment).U32(id).U32(static_cast<uint32_t>(numbers.size()));
  for (uint16_t n : numbers) lab.U16(n).U32(0).U32(0xFFFFFFFF);
  lab.Send();
  uint32_t k = lab.ReadU32();
  if (k == 0xFFFFFFFF) return std::nullopt;
  std::map<uint16_t, ExperimentChannel> out;
  for (uint32_t i = 0; i < k; ++i) {
    uint16_t number = lab.ReadU16();
    auto& c = out[number];
    c.stored = lab.ReadU32();
    for (uint32_t j = lab.ReadU32(); j > 0; --j) {
      uint32_t seq = lab.ReadU32();
      uint32_t t = lab.ReadU32();
      c.samples.emplace_back(seq, t, lab.ReadF32());
    }
  }
  return out;
}

uint32_t StartRecording(client::ProtocolClient& lab, uint32_t ownerKey,
                        const std::vector<uint16_t>& channels) {
  lab.Code(RequestCode::kStartRecording).U32(ownerKey).U32(0).U32(30000).U32(0).U8(0);
  lab.U16(static_cast<uint16_t>(channels.size()));
  for (uint16_t n : channels) lab.U16(n);
  lab.Send();
  return lab.ReadU32();
}

TEST(ArchiveFollowTest, FinishedExperimentsAndBurstsOutliveTheServersStore) {
  TempDir dir;
  for (const char* sub : {"db", "server", "archiver"})
    std::filesystem::create_directory(dir.File(sub));
  PostgresCluster db(dir.File("db"));
  const std::string server = dir.File("server");
  std::ofstream(server + "/orvexa.cfg")
      << "OrvexaConfig { Enable = true LogingInfo = struct { Simulator_Sine = struct {\n"
         "  FastLogEnabled = true FastLogFreq = 200 FastLogSize = 1000 } } }\n";
  std::filesystem::copy_file(std::string(ORVEXA_BUILD_DIR) + "/Simulator.ldp",
                             server + "/Simulator.ldp");
  ServerProcess lab(server, {"/port", "0"});
  const int port = lab.WaitForPort().value_or(0);
  ASSERT_TRUE(lab.WaitForOutput("Server running")) << lab.Stderr();
  const std::string archiverBinary = std::string(ORVEXA_BUILD_DIR) + "/orvexa-archiver";
  const std::vector<std::string> args = {"--server",   "lab1=127.0.0.1:" + std::to_string(port),
                                         "--database", db.Connection(),
                                         "--interval", "1"};
  auto archiver = std::make_unique<ServerProcess>(dir.File("archiver"), args,
                                                  std::vector<std::string>{}, archiverBinary);

  client::ProtocolClient user;
  user.Connect("127.0.0.1", port, client::Transport::kTcp);
  ASSERT_EQ(user.Hello(1), 0);
  const uint16_t sine =
      user.FindChannel(static_cast<uint8_t>(RequestCode::kFindReadableChannel), "Simulator_Sine");
  ASSERT_NE(sine, 0);
  pqxx::connection archive(db.Connection());
  auto archivedCount = [&](const std::string& where) {
    pqxx::read_transaction w(archive);
    return w.exec1("SELECT count(*) FROM archive_experiment WHERE lab = 'lab1' AND " + where)[0]
        .as<int>();
  };
  auto waitArchived = [&](const std::string& where, int count) {
    for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
         std::chrono::steady_clock::now() < until;
         std::this_thread::sleep_for(std::chrono::milliseconds(50)))
      try {  // the archiver may not have made its tables yet
        if (archivedCount(where) >= count) return true;
      } catch (const pqxx::sql_error&) {
      }
    return false;
  };

  // A recording runs while a burst is taken and archived: the archiver leaves the
  // recording alone until it has finished.
  const uint32_t recording = StartRecording(user, 5, {sine});
  ASSERT_NE(recording, 0xFFFFFFFF);
  user.Code(RequestCode::kRunBurst).Str("sweep").U32(50);
  user.Send();
  const uint32_t burst = user.ReadU32();
  ASSERT_TRUE(waitArchived("burst", 1)) << archiver->Stderr();
  EXPECT_EQ(archivedCount("id = " + std::to_string(recording)), 0);
  for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
       ReadWhole(user, recording, {sine})->at(sine).stored < 100 &&
       std::chrono::steady_clock::now() < until;)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  user.Code(RequestCode::kStopRecording).Send();
  ASSERT_EQ(user.ReadU32(), recording);
  const auto recorded = ReadWhole(user, recording, {sine}).value();
  std::vector<uint16_t> slots;
  for (uint16_t s = kFirstBurstSlot; s < kFirstBurstSlot + kBurstSlotCount; ++s) slots.push_back(s);
  const auto swept = ReadWhole(user, burst, slots).value();
  ASSERT_GE(recorded.at(sine).stored, 100u);
  ASSERT_EQ(swept.at(kFirstBurstSlot).stored, 50u);
  ASSERT_TRUE(waitArchived("id = " + std::to_string(recording), 1)) << archiver->Stderr();

  // 101 more experiments (each start stops the one before) evict both from the server
  // while the archiver is away (the first of them goes unseen); then it catches up,
  // and a second run adds nothing twice.
  archiver->Signal(SIGKILL);
  archiver->WaitForExit();
  for (int i = 0; i < 101; ++i) ASSERT_NE(StartRecording(user, 9, {}), 0xFFFFFFFF);
  user.Code(RequestCode::kStopRecording).Send();
  user.ReadU32();
  EXPECT_FALSE(ReadWhole(user, recording, {sine}).has_value());
  EXPECT_FALSE(ReadWhole(user, burst, slots).has_value());
  std::vector<std::string> once = args;
  once.push_back("--once");
  for (int run = 0; run < 2; ++run) {
    ServerProcess last(dir.File("archiver"), once, {}, archiverBinary);
    ASSERT_EQ(last.WaitForExit(std::chrono::seconds(120)), 0) << last.Stderr();
  }
  EXPECT_EQ(archivedCount("true"), 102);
  EXPECT_EQ(archivedCount("owner_key = 9 AND NOT burst"), 100);

  // Every sample, as the server sent it, under the experiment's own data.
  auto archived = [&](uint32_t id, const std::string& channel) {
    pqxx::read_transaction w(archive);
    ExperimentChannel out;
    pqxx::row head = w.exec_params1(
        "SELECT c.stored FROM archive_experiment e JOIN archive_experiment_channel c ON "
        "c.experiment = e.key WHERE e.lab = 'lab1' AND e.id = $1 AND c.channel_id = $2",
        static_cast<long long>(id), channel);
    out.stored = head[0].as<uint32_t>();
    for (const auto& row : w.exec_params(
             "SELECT s.seq, s.t_rel, s.value FROM experiment_sample s JOIN archive_experiment e "
             "ON e.key = s.experiment WHERE e.lab = 'lab1' AND e.id = $1 AND s.channel_id = $2 "
             "ORDER BY s.seq",
             static_cast<long long>(id), channel))
      out.samples.emplace_back(row[0].as<uint32_t>(), row[1].as<uint32_t>(), row[2].as<float>());
    return out;
  };
  auto same = [](const ExperimentChannel& a, const ExperimentChannel& b) {
    return a.stored == b.stored && a.samples == b.samples;
  };
  EXPECT_TRUE(same(archived(recording, "Simulator_Sine"), recorded.at(sine)));
  for (int s = 0; s < kBurstSlotCount; ++s)
    EXPECT_TRUE(same(archived(burst, "burst_" + std::to_string(s)),
                     swept.at(static_cast<uint16_t>(kFirstBurstSlot + s))))
        << "burst column " << s;
  pqxx::read_transaction w(archive);
  pqxx::row kinds =
      w.exec1("SELECT bool_and(burst = (id = " + std::to_string(burst) +
              ")), "
              "bool_and(client_address = '127.0.0.1'), bool_and(stop_time >= start_time), "
              "max(owner_key) FILTER (WHERE id = " +
              std::to_string(recording) +
              ") "
              "FROM archive_experiment WHERE id IN (" +
              std::to_string(recording) + ", " + std::to_string(burst) + ")");
  EXPECT_TRUE(kinds[0].as<bool>() && kinds[1].as<bool>() && kinds[2].as<bool>());
  EXPECT_EQ(kinds[3].as<int>(), 5);
}

}  // namespace
}  // namespace orvexa::test
