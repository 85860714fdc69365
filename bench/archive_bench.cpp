// Archive benchmark, against a private PostgreSQL cluster started for the run.
//  1. Ingest: the archive's transactions (COPY into the day-partitioned table with its
//     primary key, cursor moved in the same transaction, 50000 records each) against a
//     plain COPY of the same rows into an unindexed table, measured in the same run
//     (target: at least 0.25x).
//  2. Backfill end to end: the real server with a prepared log of N records (default
//     2,000,000, one a second) and `orvexa-archiver --once` copying all of it; the rate
//     and the time a 60,000,000-record backfill would take at that rate (target: 10 min).
//  3. One channel-day (86400 records) read through the public view `sample` and through
//     the function sample_between (target: 20 ms), and the bytes the rows take per sample
//     (table and index); then the same after the days are packed per channel-hour, and
//     the day as its 24 hour arrays (targets: 5 ms, 10 bytes a sample). Each read gives
//     its round trip and the server's execution alone, and the round trip with binary
//     results through libpq (every value decoded), against libpqxx's text results; and
//     the day through orvexa.archive.history in Python.
//  4. Lag: the archiver following 1000 channels logged once a second (a stand-in lab
//     server, see LabStandIn) for S seconds (default 60); for every record, the time its
//     cursor's commit was seen minus the record's time (target: p99 15 s).
//
//   build/bench/archive_bench [records for the backfill] [S]
#include <libpq-fe.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <pqxx/pqxx>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "archive/archive_store.h"
#include "archive/lab_stand_in.h"
#include "archive/postgres_cluster.h"
#include "support/server_process.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
using orvexa::archive::ArchiveStore;
using orvexa::archive::ChannelCursor;
using orvexa::archive::LogRecords;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// A big-endian integer of `n` bytes (2, 4 or 8) of a binary result.
int64_t BigEndian(const char* p, int n) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i) v = v << 8 | static_cast<uint8_t>(p[i]);
  const int shift = 64 - 8 * n;
  return static_cast<int64_t>(v << shift) >> shift;
}

// Decodes one binary field as a client would take it in (timestamptz: microseconds
// since 2000-01-01; float8; int2, int4, int8; one-dimensional int2 and int4 arrays:
// ndim, flags, element type, then size and lower bound per dimension, then each element
// as its length and bytes) and adds it up, so that nothing is skipped. Returns false for
// a type it does not know.
bool AddField(const char* p, int length, Oid type, double* sum) {
  constexpr int64_t kEpoch2000 = 946684800;
  switch (type) {
    case 1184:  // timestamptz
      if (length != 8) return false;
      *sum += static_cast<double>(BigEndian(p, 8) / 1000000 + kEpoch2000);
      return true;
    case 701: {  // float8
      if (length != 8) return false;
      uint64_t bits = static_cast<uint64_t>(BigEndian(p, 8));
      double v;
      std::memcpy(&v, &bits, 8);
      *sum += v;
      return true;
    }
    case 21:
    case 23:
    case 20:
      if (length != 2 && length != 4 && length != 8) return false;
      *sum += static_cast<double>(BigEndian(p, length));
      return true;
    case 1005:    // int2[]
    case 1007: {  // int4[]
      const char* end = p + length;
      if (length < 12) return false;
      const int64_t dimensions = BigEndian(p, 4);
      if (dimensions == 0) return true;  // empty
      if (dimensions != 1 || length < 20) return false;
      const int64_t n = BigEndian(p + 12, 4);
      const char* e = p + 20;
      for (int64_t i = 0; i < n; ++i) {
        if (end - e < 4) return false;
        const int64_t size = BigEndian(e, 4);
        e += 4;
        if (size < 0) continue;  // null
        if ((size != 2 && size != 4) || end - e < size) return false;
        *sum += static_cast<double>(BigEndian(e, static_cast<int>(size)));
        e += size;
      }
      return true;
    }
    default:
      return false;
  }
}

// Best of 10 runs of a query over one day (`$1`, a timestamptz text), prepared: the round
// trip (rows turned into text, sent, and taken in by libpqxx, values left as text), the
// server's execution alone (EXPLAIN ANALYZE without per-row timing), in ms, and the rows
// it gave; then the same query with binary results through libpq, every value decoded,
// and the bytes of the values in either format.
struct QueryTime {
  double roundTrip = 1e9;
  double server = 1e9;
  double binary = 1e9;
  size_t rows = 0;
  double textBytes = 0;
  double binaryBytes = 0;
};

double ValueBytes(const PGresult* r) {
  double bytes = 0;
  for (int i = 0; i < PQntuples(r); ++i)
    for (int j = 0; j < PQnfields(r); ++j) bytes += PQgetlength(r, i, j);
  return bytes;
}

QueryTime BestOf10(pqxx::connection& c, PGconn* binary, const std::string& query,
                   const std::string& day) {
  QueryTime best;
  c.prepare("bench_query", query);
  for (int round = 0; round < 10; ++round) {
    pqxx::read_transaction w(c);
    auto start = Clock::now();
    pqxx::result r = w.exec_prepared("bench_query", day);
    best.roundTrip = std::min(best.roundTrip, Seconds(start) * 1000);
    best.rows = r.size();
    pqxx::result plan = w.exec_params("EXPLAIN (ANALYZE, TIMING OFF) " + query, day);
    const std::string last = plan[plan.size() - 1][0].as<std::string>();
    if (size_t colon = last.find("Execution Time: "); colon != std::string::npos)
      best.server = std::min(best.server, std::atof(last.c_str() + colon + 16));
  }
  c.unprepare("bench_query");

  PQclear(PQprepare(binary, "bench_binary", query.c_str(), 1, nullptr));
  const char* param = day.c_str();
  for (int round = 0; round < 10; ++round) {
    auto start = Clock::now();
    PGresult* r = PQexecPrepared(binary, "bench_binary", 1, &param, nullptr, nullptr, 1);
    double sum = 0;
    bool known = PQresultStatus(r) == PGRES_TUPLES_OK;
    for (int i = 0; known && i < PQntuples(r); ++i)
      for (int j = 0; known && j < PQnfields(r); ++j)
        known = AddField(PQgetvalue(r, i, j), PQgetlength(r, i, j), PQftype(r, j), &sum);
    const double took = Seconds(start) * 1000;
    if (!known) {
      std::printf("binary results: %s (or a type not decoded)\n", PQresultErrorMessage(r));
      PQclear(r);
      break;
    }
    best.binary = std::min(best.binary, took);
    if (round == 0) best.binaryBytes = ValueBytes(r);
    PQclear(r);
    if (round == 0) {
      r = PQexecPrepared(binary, "bench_binary", 1, &param, nullptr, nullptr, 0);
      best.textBytes = ValueBytes(r);
      PQclear(r);
    }
  }
  PQclear(PQexec(binary, "DEALLOCATE bench_binary"));
  return best;
}

void PrintQuery(const char* what, const QueryTime& q, const char* target) {
  std::printf(
      "%s: %zu rows, %.2f ms on the server, round trip %.1f ms text (libpqxx) / %.1f ms "
      "binary (libpq, decoded), values %.1f / %.1f MB (best of 10; %s)\n",
      what, q.rows, q.server, q.roundTrip, q.binary, q.textBytes / 1e6, q.binaryBytes / 1e6,
      target);
}

// orvexa.archive.history in Python over the channel-day (what `orvexa-cli archive`
// reads), best of 5, printed by the script itself.
void PythonHistory(const orvexa::test::TempDir& dir, const std::string& connection, uint32_t day,
                   const char* what) {
  const std::string script = dir.File("history.py");
  std::ofstream(script) << "import sys, time\n"
                           "from orvexa import archive\n"
                           "day, best = int(sys.argv[1]), 1e9\n"
                           "for i in range(5):\n"
                           "    t = time.perf_counter()\n"
                           "    n = len(archive.history('bench', 'ingest', day, day + 86400, "
                           "sys.argv[2]))\n"
                           "    best = min(best, time.perf_counter() - t)\n"
                           "print('%s, orvexa.archive.history in Python: %d records, %.1f ms "
                           "(best of 5)' % (sys.argv[3], n, best * 1000))\n";
  std::fflush(stdout);
  const std::string command = "PYTHONPATH='" + std::string(ORVEXA_SOURCE_DIR) +
                              "/clients/python' /usr/bin/python3 '" + script + "' " +
                              std::to_string(day) + " '" + connection + "' '" + what + "'";
  if (std::system(command.c_str()) != 0) std::printf("%s: the Python history failed\n", what);
}

LogRecords Records(uint32_t first, size_t n) {
  LogRecords out(n);
  for (size_t i = 0; i < n; ++i)
    out[i] = {first + static_cast<uint32_t>(i), static_cast<int32_t>((i * 7919) % 100003)};
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t backfill = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 2000000;
  const int lagSeconds = argc > 2 ? std::atoi(argv[2]) : 60;
  orvexa::test::TempDir dir;
  for (const char* sub : {"db", "server", "archiver"})
    std::filesystem::create_directory(dir.File(sub));
  orvexa::test::PostgresCluster db(dir.File("db"));
  const uint32_t now = static_cast<uint32_t>(std::time(nullptr));

  // 1. Ingest.
  const size_t rows = 1000000, chunk = 50000;
  const uint32_t first = now - 30 * 86400;
  LogRecords records = Records(first, rows);
  double plain = 0;
  {
    pqxx::connection c(db.Connection());
    pqxx::work w(c);
    w.exec0("CREATE TABLE plain_copy (channel int, t timestamptz, seq bigint, raw int)");
    w.commit();
    auto start = Clock::now();
    for (size_t from = 0; from < rows; from += chunk) {
      pqxx::work copy(c);
      pqxx::stream_to s(copy, "plain_copy", std::vector<std::string>{"channel", "t", "seq", "raw"});
      for (size_t i = from; i < from + chunk; ++i)
        s << std::make_tuple(1, orvexa::archive::UtcTimestampText(records[i].time),
                             static_cast<int64_t>(i + 1), records[i].raw);
      s.complete();
      copy.commit();
    }
    plain = Seconds(start);
  }
  double archived = 0;
  {
    ArchiveStore store(db.Connection());
    int key = store.ChannelKey("bench", "ingest");
    ChannelCursor cursor = store.Cursor(key);
    auto start = Clock::now();
    for (size_t from = 0; from < rows; from += chunk)
      cursor = store.Append(key, cursor,
                            LogRecords(records.begin() + from, records.begin() + from + chunk));
    archived = Seconds(start);
  }
  std::printf("ingest: plain COPY %.0f rows/s, archive %.0f rows/s: %.2fx (target >= 0.25x)\n",
              rows / plain, rows / archived, plain / archived);

  // 3. A channel-day through the view and through sample_between, from rows and packed.
  const std::string view =
      "SELECT time, value FROM sample WHERE lab = 'bench' AND channel_id = 'ingest' AND time >= "
      "$1::timestamptz AND time < $1::timestamptz + interval '1 day'";
  const std::string between =
      "SELECT * FROM sample_between('bench', 'ingest', $1::timestamptz, $1::timestamptz + "
      "interval '1 day')";
  std::unique_ptr<PGconn, decltype(&PQfinish)> binary(PQconnectdb(db.Connection().c_str()),
                                                      &PQfinish);
  if (PQstatus(binary.get()) != CONNECTION_OK) {
    std::printf("libpq: %s\n", PQerrorMessage(binary.get()));
    return 1;
  }
  {
    pqxx::connection c(db.Connection());
    const std::string day = orvexa::archive::UtcTimestampText((first / 86400 + 3) * 86400);
    PrintQuery("channel-day from rows, view", BestOf10(c, binary.get(), view, day), "target 20 ms");
    PrintQuery("channel-day from rows, sample_between", BestOf10(c, binary.get(), between, day),
               "target 20 ms");
    PythonHistory(dir, db.Connection(), (first / 86400 + 3) * 86400, "channel-day from rows");
    pqxx::read_transaction w(c);
    double bytes = w.exec1(
                        "SELECT sum(pg_total_relation_size(inhrelid)) FROM pg_inherits "
                        "WHERE inhparent = 'sample_raw'::regclass")[0]
                       .as<double>();
    std::printf("rows: %.1f bytes a sample (table and primary key)\n", bytes / rows);
  }
  {
    ArchiveStore store(db.Connection());
    std::printf("packed %d days per channel-hour\n", store.PackOldDays(now, 14));
    pqxx::connection c(db.Connection());
    const std::string day = orvexa::archive::UtcTimestampText((first / 86400 + 3) * 86400);
    PrintQuery("channel-day packed, view", BestOf10(c, binary.get(), view, day), "target 5 ms");
    PrintQuery("channel-day packed, sample_between", BestOf10(c, binary.get(), between, day),
               "target 5 ms");
    PythonHistory(dir, db.Connection(), (first / 86400 + 3) * 86400, "channel-day packed");
    // The hours as they are stored (24 rows of arrays), as a plotting tool that knows
    // the packed form reads them.
    PrintQuery("channel-day packed, its hour arrays",
               BestOf10(c, binary.get(),
                        "SELECT h.hour, h.t_off, h.raw FROM sample_hour h JOIN archive_channel c "
                        "ON c.id = h.channel WHERE c.lab = 'bench' AND c.channel_id = 'ingest' "
                        "AND h.hour >= $1::timestamptz AND h.hour < $1::timestamptz + interval "
                        "'1 day' ORDER BY h.hour",
                        day),
               "target 5 ms");
    pqxx::read_transaction w(c);
    auto size = w.exec1(
        "SELECT pg_total_relation_size('sample_hour'), (SELECT sum(cardinality(raw)) FROM "
        "sample_hour)");
    std::printf("packed: %.1f bytes a sample (target 10)\n",
                size[0].as<double>() / size[1].as<double>());
  }

  // 2. Backfill from the real server.
  {
    const std::string server = dir.File("server");
    {
      std::ofstream out(server + "/sine.log", std::ios::binary);
      uint32_t header[3] = {static_cast<uint32_t>(backfill), static_cast<uint32_t>(backfill),
                            15000000};
      out.write(reinterpret_cast<const char*>(header), sizeof header);
      LogRecords log = Records(now - 10 - static_cast<uint32_t>(backfill), backfill);
      out.write(reinterpret_cast<const char*>(log.data()), log.size() * 8);
    }
    std::ofstream(server + "/orvexa.cfg")
        << "OrvexaConfig { Enable = true LogingInfo = struct { Simulator_Sine = struct {\n"
           "  LogingEnabled = true LogFileName = \"sine.log\" TimeBetweenLogs = 1 } } }\n";
    std::filesystem::copy_file(std::string(ORVEXA_BUILD_DIR) + "/Simulator.ldp",
                               server + "/Simulator.ldp");
    orvexa::test::ServerProcess lab(server, {"/port", "0"});
    int port = lab.WaitForPort().value_or(0);
    lab.WaitForOutput("Server running");
    auto start = Clock::now();
    orvexa::test::ServerProcess archiver(dir.File("archiver"),
                                         {"--server", "lab=127.0.0.1:" + std::to_string(port),
                                          "--database", db.Connection(), "--once"},
                                         {}, std::string(ORVEXA_BUILD_DIR) + "/orvexa-archiver");
    auto status = archiver.WaitForExit(std::chrono::minutes(30));
    double took = Seconds(start);
    if (status != 0) {
      std::printf("backfill failed: %s\n", archiver.Stderr().c_str());
      return 1;
    }
    std::printf(
        "backfill: %zu records in %.1f s, %.0f records/s; 60M records: %.1f min "
        "(target 10 min)\n",
        backfill, took, backfill / took, 60e6 / (backfill / took) / 60);
  }

  // 4. Lag at 1000 channels x 1 Hz, after a minute of warm-up (the first pass catches up
  // the records since the start).
  {
    const int channels = 1000;
    const uint32_t start = static_cast<uint32_t>(std::time(nullptr));
    orvexa::bench::LabStandIn lab(channels, start);
    orvexa::test::ServerProcess archiver(
        dir.File("archiver"),
        {"--server", "lag=127.0.0.1:" + std::to_string(lab.port()), "--database", db.Connection()},
        {}, std::string(ORVEXA_BUILD_DIR) + "/orvexa-archiver");
    pqxx::connection c(db.Connection());
    std::map<int, int64_t> seen;  // channel key -> newest record time committed
    std::vector<double> lags;
    const uint32_t measuredFrom = start + 20;
    const auto until = Clock::now() + std::chrono::seconds(20 + lagSeconds);
    while (Clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      std::vector<std::pair<int, int64_t>> cursors;
      try {
        pqxx::read_transaction w(c);
        for (const auto& row :
             w.exec("SELECT k.channel, k.last_time FROM archive_cursor k JOIN archive_channel a "
                    "ON a.id = k.channel WHERE a.lab = 'lag' AND k.seq > 0"))
          cursors.emplace_back(row[0].as<int>(), row[1].as<int64_t>());
      } catch (const pqxx::sql_error&) {
        continue;  // the archiver has not made its tables yet
      }
      const double now =
          std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
              .count();
      for (const auto& [key, last] : cursors) {
        int64_t& before = seen.try_emplace(key, int64_t{start} - 1).first->second;
        for (int64_t t = before + 1; t <= last; ++t)
          if (t >= measuredFrom) lags.push_back(now - static_cast<double>(t));
        before = std::max(before, last);
      }
    }
    std::sort(lags.begin(), lags.end());
    const size_t expected = static_cast<size_t>(channels) * lagSeconds;
    if (lags.empty()) {
      std::printf("lag: nothing archived: %s\n", archiver.Stderr().c_str());
      return 1;
    }
    std::printf(
        "lag at %d channels x 1 Hz over %d s: %zu records (of about %zu), p50 %.1f s, p99 "
        "%.1f s, max %.1f s (target p99 15 s)\n",
        channels, lagSeconds, lags.size(), expected, lags[lags.size() / 2],
        lags[lags.size() * 99 / 100], lags.back());
  }
  return 0;
}
