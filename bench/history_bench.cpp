// History benchmark.
//  1. ReadHistory end to end over loopback: the real server with a full generated log
//     of 15,000,000 records answers a request for the newest 131072 of them (1 MB of
//     samples); compared with sending the same 1 MB over a plain socket in the same run
//     (target: at most 2x).
//  2. SamplesSince for the last hour on a 1,000,000-record log versus a 15,000,000-record
//     log (target: about equal, the walk touches only what it returns).
//  3. The work of one query over a full 15,000,000-record ring (one record a second,
//     wrapped), searched with the ring's RecordOrder versus the straightforward scan
//     (walk back from the newest record, every record through the filter) measured in
//     the same run: mode 0 over the whole log, mode 1 (first sample of hour 14 over the
//     whole log), mode 2 thinned to one sample per hour and to hour 14 over a 190-day
//     window. Target: a mode-1 query <= 1 ms of work.
//
//   build/bench/history_bench [rounds, default 20]
//   build/bench/history_bench search [rounds]   (part 3 only)
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "client/protocol_client.h"
#include "logging/history_query.h"
#include "logging/log_file.h"
#include "logging/record_order.h"
#include "platform/clock.h"
#include "platform/tcp_socket.h"
#include "protocol/history_wire.h"
#include "support/server_process.h"
#include "support/temp_dir.h"

using namespace orvexa;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t kWanted = kHistoryReplyCap;  // 131072 records, 1 MB of samples

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

// The baseline: a thread that answers each 1-byte request with 4 + 1 MB of bytes.
class BulkServer {
 public:
  BulkServer() : payload_(4 + 8 * size_t{kWanted}, 'x') {
    ListenResult listening = OpenListeningSocket(0, 4);
    socket_ = listening.socket;
    port_ = listening.boundPort;
    SetBlocking(socket_, true);
    thread_ = std::thread([this] {
      // One connection after the other, each served until the client closes it.
      for (;;) {
        int connection = ::accept(socket_, nullptr, nullptr);
        if (connection < 0) return;
        SetNoDelay(connection);
        char request;
        while (::recv(connection, &request, 1, 0) == 1) {
          size_t sent = 0;
          while (sent < payload_.size()) {
            ssize_t n = ::send(connection, payload_.data() + sent, payload_.size() - sent, 0);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
          }
        }
        ::close(connection);
      }
    });
  }
  ~BulkServer() {
    ::shutdown(socket_, SHUT_RDWR);
    ::close(socket_);
    thread_.join();
  }
  int port() const { return port_; }

 private:
  std::string payload_;
  SocketHandle socket_;
  int port_ = 0;
  std::thread thread_;
};

double BaselineRound(int port, int rounds) {
  client::ProtocolClient client;
  client.ConnectRaw("127.0.0.1", port);
  std::vector<double> times;
  for (int r = 0; r < rounds; ++r) {
    auto start = Clock::now();
    client.SendRaw(std::string(1, 'r'));
    client.ReadBytes(4 + 8 * size_t{kWanted});
    times.push_back(Seconds(start));
  }
  return Median(times);
}

double HistoryRound(int port, uint32_t start, int rounds, uint32_t* count) {
  client::ProtocolClient client;
  client.Connect("127.0.0.1", port, client::Transport::kTcp);
  client.Hello();
  const uint16_t channel = client.FindChannel(3, "Probe_level");
  std::vector<double> times;
  for (int r = 0; r < rounds; ++r) {
    auto begin = Clock::now();
    client.U8(8).U16(channel).U32(start).U16(2).U32((24u << 24) | (kWanted - 1)).Send();
    *count = client.ReadU32();
    client.ReadBytes(8 * size_t{*count});
    times.push_back(Seconds(begin));
  }
  return Median(times);
}

// Median time of SamplesSince for the last hour of a log of `records` records, one per
// second, whose ring has wrapped.
double SinceLastHour(uint32_t records, int rounds) {
  std::vector<LogRecord> ring(records);
  const uint32_t newest = 2'000'000'000;
  const uint32_t next = records / 3;  // the oldest record sits at slot `next`
  for (uint32_t k = 0; k < records; ++k) {
    const uint32_t slot = (next + k) % records;
    ring[slot] = {newest - (records - 1 - k), static_cast<int32_t>(k)};
  }
  LogFileHeader header{next, records, records};
  std::vector<double> times;
  uint64_t total = 0;
  for (int r = 0; r < rounds; ++r) {
    auto start = Clock::now();
    RecordRuns runs = SamplesSince(&header, ring.data(), records, newest - 3599);
    times.push_back(Seconds(start));
    total += runs.older.count + runs.newer.count;
  }
  if (total != uint64_t{3600} * rounds) std::fprintf(stderr, "unexpected run length\n");
  return Median(times);
}

// Median time of one query, and its reply bytes (for the comparison).
double QueryWork(const LogFileHeader& header, const std::vector<LogRecord>& ring,
                 const RecordOrder* order, int64_t now, uint32_t spanOrStart, uint16_t mode,
                 uint32_t limit, int rounds, std::vector<uint8_t>* reply) {
  std::vector<double> times;
  for (int r = 0; r < rounds; ++r) {
    reply->clear();
    auto start = Clock::now();
    VisitHistory(
        &header, ring.data(), static_cast<uint32_t>(ring.size()), now, spanOrStart, mode, limit,
        [reply](const LogRecord* first, uint32_t count) { EncodeHistory(first, count, reply); },
        order);
    times.push_back(Seconds(start));
  }
  return Median(times);
}

void SearchVersusScan(int rounds) {
  const uint32_t records = kLogCapacity;
  std::vector<LogRecord> ring(records);
  const uint32_t newest = CalendarTime32() - 10;
  const uint32_t next = records / 3;  // the oldest record sits at slot `next`
  for (uint32_t k = 0; k < records; ++k) {
    ring[(next + k) % records] = {newest - (records - 1 - k), static_cast<int32_t>(k)};
  }
  const uint32_t oldest = newest - (records - 1);
  LogFileHeader header{next, records, records};
  RecordOrder order;
  auto built = Clock::now();
  order.Build(&header, ring.data(), records);
  const double build = Seconds(built);
  const int64_t now = newest + 10;
  const uint32_t span = now - oldest;
  struct Query {
    const char* name;
    uint32_t spanOrStart;
    uint16_t mode;
    uint32_t limit;
  };
  const Query queries[] = {
      {"mode 0, whole log (capped at 131072)", span, 0, 0},
      {"mode 1, hour 14, whole log          ", span, 1, 14},
      {"mode 2, one per hour, 190 days      ", oldest, 2, (27u << 24) | (190u * 86400)},
      {"mode 2, hour 14, 190 days           ", oldest, 2, (14u << 24) | (190u * 86400)},
  };
  std::printf("Query work over a full %u-record ring (RecordOrder built once in %.1f ms):\n",
              records, build * 1e3);
  const int scanRounds = std::max(3, rounds / 4);
  const int searchRounds = rounds * 50;
  for (const Query& q : queries) {
    std::vector<uint8_t> scanned, searched;
    const double scan =
        QueryWork(header, ring, nullptr, now, q.spanOrStart, q.mode, q.limit, scanRounds, &scanned);
    const double search = QueryWork(header, ring, &order, now, q.spanOrStart, q.mode, q.limit,
                                    searchRounds, &searched);
    std::printf("  %s %6zu records: scan %8.3f ms, search %7.3f ms, ratio scan/search %7.1f%s\n",
                q.name, searched.size() / kHistoryWireSize, scan * 1e3, search * 1e3, scan / search,
                scanned == searched ? "" : "  REPLIES DIFFER");
    if (q.mode == 1) {
      std::printf("  mode-1 search: %.3f ms   (target <= 1 ms)\n", search * 1e3);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "search") {
    SearchVersusScan(argc > 2 ? std::max(1, std::atoi(argv[2])) : 20);
    return 0;
  }
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  test::TempDir dir;

  // A full log of 15,000,000 records, one per second, that has wrapped: the newest
  // record is ten seconds old.
  const uint32_t newest = CalendarTime32() - 10;
  const uint32_t total = kLogCapacity + kLogCapacity / 7;
  {
    LogFile log(dir.File("level.log"));
    if (!log.Open(true, kLogCapacity)) {
      std::fprintf(stderr, "cannot create the log: %s\n", log.LastError().c_str());
      return 1;
    }
    for (uint32_t k = 0; k < total; ++k) log.Append(newest - (total - 1 - k), 1.5f);
    log.Flush();
  }
  dir.Write("orvexa.cfg",
            "OrvexaConfig {\n  LogingInfo = struct {\n    Probe_level = struct {\n"
            "      LogingEnabled = true  LogFileName = \"level.log\"  TimeBetweenLogs = 100000000\n"
            "    }\n  }\n}\n");
  const std::string probe = std::string(ORVEXA_BUILD_DIR) + "/tests/experiment_plugins/Probe.ldp";
  std::error_code error;
  std::filesystem::copy_file(probe, dir.File("Probe.ldp"), error);
  if (error) {
    std::fprintf(stderr, "cannot copy %s (build the tests first)\n", probe.c_str());
    return 1;
  }
  test::ServerProcess server(dir.path(), {"/port", "0"});
  std::optional<int> port = server.WaitForPort();
  if (!port || !server.WaitForOutput("Server running")) {
    std::fprintf(stderr, "server did not start:\n%s\n%s\n", server.Stdout().c_str(),
                 server.Stderr().c_str());
    return 1;
  }

  uint32_t count = 0;
  BulkServer bulk;
  // One warm-up round each, then the measured rounds.
  HistoryRound(*port, newest - (kWanted - 1), 1, &count);
  BaselineRound(bulk.port(), 1);
  const double history = HistoryRound(*port, newest - (kWanted - 1), rounds, &count);
  const double plain = BaselineRound(bulk.port(), rounds);
  std::printf("ReadHistory of %u records from a %u-record log over loopback: %.2f ms\n", count,
              kLogCapacity, history * 1e3);
  std::printf("the same 1 MB over a plain socket:                          %.2f ms\n", plain * 1e3);
  std::printf("ratio history / plain socket: %.2f   (target <= 2)\n", history / plain);

  const double small = SinceLastHour(1'000'000, rounds * 50);
  const double large = SinceLastHour(kLogCapacity, rounds * 50);
  std::printf("SamplesSince last hour: 1,000,000 records %.1f us, 15,000,000 records %.1f us\n",
              small * 1e6, large * 1e6);
  std::printf("ratio 15M / 1M: %.2f   (target: about 1)\n", large / small);
  SearchVersusScan(rounds);
  return 0;
}
