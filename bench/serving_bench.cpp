// Serving benchmark: ReadValue round trips per second against the real server (a
// Simulator.ldp channel, plain TCP and WebSocket, 1 and 50 concurrent clients), each
// compared with a minimal thread-per-connection echo server measured in the same run
// with the same message sizes (a 3-byte request, an 8-byte reply). Also prints the
// server's resident memory with 50 idle clients.
//
// With --old, an earlier build of the server (its `orvexa` binary, given by path) runs
// beside this one, with the same plug-in file: 50 clients, controllers and then
// observers, over TCP and WebSocket, the two servers measured in alternation; prints the
// ratio new/old of each. --new measures another binary than this build's.
//
// With --storm, a class arriving at once instead: N clients (default 1000) connect at the
// same moment, each says Hello and reads one value; all must be served, the slowest within
// 2 s, the kernel's ListenOverflows unchanged and the server's peak memory (VmHWM) at most
// 80 MB; then ReadValue round trips of N/2 clients against the echo baseline (>= 0.8x).
//
//   build/bench/serving_bench [seconds per configuration and server, default 3]
//                             [--old path/to/orvexa] [--new path/to/orvexa] [--storm [N]]
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/protocol_client.h"
#include "platform/tcp_socket.h"

using orvexa::client::ProtocolClient;
using orvexa::client::Transport;

namespace {

// ---- The baseline: one thread per connection, read 3 bytes, answer 8. ----
// It runs in a process of its own, like the server, so both pay the same switches
// between the client's process and the serving one.
class EchoServer {
 public:
  EchoServer() {
    orvexa::ListenResult listening = orvexa::OpenListeningSocket(0, 64);
    port_ = listening.boundPort;
    orvexa::SetBlocking(listening.socket, true);
    pid_ = ::fork();
    if (pid_ == 0) {
      Serve(listening.socket);
      _exit(0);
    }
    ::close(listening.socket);
  }
  ~EchoServer() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  int port() const { return port_; }
  pid_t pid() const { return pid_; }

 private:
  static void Serve(int listener) {
    for (;;) {
      int connection = ::accept(listener, nullptr, nullptr);
      if (connection < 0) continue;
      orvexa::SetNoDelay(connection);
      std::thread([connection] {
        char request[3];
        char reply[8] = {0x41, 0x2c, 0, 0, 0, 0, 0, 1};
        for (;;) {
          size_t got = 0;
          while (got < sizeof request) {
            ssize_t n = ::recv(connection, request + got, sizeof request - got, 0);
            if (n <= 0) {
              ::close(connection);
              return;
            }
            got += static_cast<size_t>(n);
          }
          if (::send(connection, reply, sizeof reply, MSG_NOSIGNAL) != sizeof reply) break;
        }
        ::close(connection);
      }).detach();
    }
  }

  pid_t pid_ = -1;
  int port_ = 0;
};

// ---- The real server in a temporary folder. ----
class ServerUnderTest {
 public:
  explicit ServerUnderTest(const std::string& binary, int maxClients = 200) {
    static int started = 0;
    folder_ = std::filesystem::temp_directory_path() /
              ("orvexa-bench-" + std::to_string(getpid()) + "-" + std::to_string(++started));
    std::filesystem::create_directories(folder_);
    std::filesystem::copy_file(std::string(ORVEXA_BUILD_DIR) + "/Simulator.ldp",
                               folder_ / "Simulator.ldp");
    std::string out = (folder_ / "stdout").string();
    const std::string maxClientText = std::to_string(maxClients);
    pid_ = ::fork();
    if (pid_ == 0) {
      if (::chdir(folder_.c_str()) != 0) _exit(127);
      int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(fd, 1);
      ::dup2(fd, 2);
      ::execl(binary.c_str(), binary.c_str(), "-headless", "/port", "0", "/conexp", "600",
              "/maxclient", maxClientText.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      std::ifstream in(out);
      std::stringstream text;
      text << in.rdbuf();
      std::string s = text.str();
      size_t at = s.find("Listening on port ");
      if (at != std::string::npos && s.find("Server running") != std::string::npos) {
        port_ = std::atoi(s.c_str() + at + 18);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::fprintf(stderr, "%s did not start\n", binary.c_str());
    std::exit(1);
  }
  ~ServerUnderTest() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    std::filesystem::remove_all(folder_);
  }
  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  // A figure of /proc/<pid>/status in kB ("VmRSS:", "VmHWM:"), -1 if absent.
  long StatusKilobytes(const char* key = "VmRSS:") const {
    std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    const size_t length = std::char_traits<char>::length(key);
    while (std::getline(in, line))
      if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + length);
    return -1;
  }

 private:
  std::filesystem::path folder_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// CPU seconds (user + system) a process has used so far.
double CpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  // After the command: state is field 3; utime and stime are fields 14 and 15.
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct Measurement {
  double perSecond = 0;
  double cpuMicroseconds = 0;  // of the serving process, per round trip
};

// Client kinds of Hello; none for the echo server.
constexpr uint8_t kNoHello = 0, kController = 1, kObserver = 3;

// Round trips per second of `clients` concurrent clients, each reading `channel`, and
// the CPU time the serving process `servingPid` spent per round trip.
Measurement Measure(int port, pid_t servingPid, Transport transport, uint8_t helloKind,
                    uint16_t channel, int clients, double seconds) {
  std::vector<std::unique_ptr<ProtocolClient>> connections;
  for (int i = 0; i < clients; ++i) {
    auto c = std::make_unique<ProtocolClient>();
    c->Connect("127.0.0.1", port, transport);
    if (helloKind != kNoHello && c->Hello(helloKind) != 0) {
      std::fprintf(stderr, "Hello refused\n");
      std::exit(1);
    }
    connections.push_back(std::move(c));
  }
  std::atomic<bool> go{false}, stop{false};
  std::atomic<long> total{0};
  std::vector<std::thread> threads;
  for (auto& c : connections) {
    threads.emplace_back([&, client = c.get()] {
      while (!go) std::this_thread::yield();
      long count = 0;
      while (!stop) {
        client->ReadValue(channel);
        ++count;
      }
      total += count;
    });
  }
  double cpuBefore = CpuSeconds(servingPid);
  auto start = std::chrono::steady_clock::now();
  go = true;
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  stop = true;
  for (auto& t : threads) t.join();
  double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double cpu = CpuSeconds(servingPid) - cpuBefore;
  Measurement m;
  m.perSecond = static_cast<double>(total) / elapsed;
  if (total > 0) m.cpuMicroseconds = cpu * 1e6 / static_cast<double>(total);
  return m;
}

// The machine is shared: the two sides are measured in alternation, several rounds,
// and the best round of each is compared.
constexpr int kRounds = 3;

struct Pair {
  Measurement first, second;
};

Pair BestOfRounds(const std::function<Measurement()>& first,
                  const std::function<Measurement()>& second) {
  Pair best;
  for (int round = 0; round < kRounds; ++round) {
    Measurement a = first();
    if (a.perSecond > best.first.perSecond) best.first = a;
    Measurement b = second();
    if (b.perSecond > best.second.perSecond) best.second = b;
  }
  return best;
}

// This server against an earlier build of it, same plug-in, 50 clients.
void CompareWithOld(const ServerUnderTest& server, const ServerUnderTest& old, uint16_t channel,
                    double seconds) {
  struct Row {
    const char* name;
    Transport transport;
    uint8_t kind;
  } rows[] = {{"TCP, 50 controllers", Transport::kTcp, kController},
              {"TCP, 50 observers", Transport::kTcp, kObserver},
              {"WebSocket, 50 controllers", Transport::kWebSocket, kController},
              {"WebSocket, 50 observers", Transport::kWebSocket, kObserver}};
  for (const Row& row : rows) {
    Pair best = BestOfRounds(
        [&] {
          return Measure(old.port(), old.pid(), row.transport, row.kind, channel, 50,
                         seconds / kRounds);
        },
        [&] {
          return Measure(server.port(), server.pid(), row.transport, row.kind, channel, 50,
                         seconds / kRounds);
        });
    std::printf(
        "%-26s old %8.0f/s  new %8.0f/s  ratio new/old %.2fx (target >= 0.95x)  "
        "cpu per round trip: old %.1f us, new %.1f us\n",
        row.name, best.first.perSecond, best.second.perSecond,
        best.second.perSecond / best.first.perSecond, best.first.cpuMicroseconds,
        best.second.cpuMicroseconds);
  }
}

// The kernel's count of connections dropped because a listen queue was full
// (TcpExt ListenOverflows in /proc/net/netstat: a line of names, then one of values).
long ListenOverflows() {
  std::ifstream in("/proc/net/netstat");
  std::string names, values;
  while (std::getline(in, names) && std::getline(in, values)) {
    if (names.rfind("TcpExt:", 0) != 0) continue;
    std::istringstream n(names), v(values);
    std::string name, value;
    while (n >> name && v >> value)
      if (name == "ListenOverflows") return std::atol(value.c_str());
  }
  return -1;
}

// Thousands of client sockets in this process, and as many in the server and the echo
// process it forks: the soft descriptor limit goes up to the hard one.
void RaiseDescriptorLimit(int wanted) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  if (limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
  if (limit.rlim_cur < static_cast<rlim_t>(wanted))
    std::fprintf(stderr, "descriptor limit %llu is below the %d this mode needs\n",
                 static_cast<unsigned long long>(limit.rlim_cur), wanted);
}

const char* Verdict(bool pass) {
  return pass ? "PASS" : "FAIL";
}

// `clients` observers connect at the same moment, each saying Hello and reading one value,
// and stay connected until all are done.
void ConnectStorm(const ServerUnderTest& server, const EchoServer& echo, uint16_t channel,
                  int clients, double seconds) {
  std::vector<ProtocolClient> connections(static_cast<size_t>(clients));
  std::vector<double> took(static_cast<size_t>(clients), -1);
  std::promise<void> start;
  std::shared_future<void> go = start.get_future().share();
  std::vector<std::thread> threads;
  threads.reserve(connections.size());
  const long overflowsBefore = ListenOverflows();
  std::chrono::steady_clock::time_point t0;
  for (size_t i = 0; i < connections.size(); ++i) {
    threads.emplace_back([&, i] {
      go.wait();
      try {
        ProtocolClient& c = connections[i];
        c.Connect("127.0.0.1", server.port(), Transport::kTcp);
        if (c.Hello(kObserver) != 0) return;
        c.ReadValue(channel);
        took[i] = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      } catch (const std::exception&) {
        // Not served: counted below.
      }
    });
  }
  t0 = std::chrono::steady_clock::now();
  start.set_value();
  for (auto& t : threads) t.join();
  const long overflows = ListenOverflows() - overflowsBefore;
  const long peakKb = server.StatusKilobytes("VmHWM:");
  connections.clear();

  std::vector<double> served;
  for (double t : took)
    if (t >= 0) served.push_back(t);
  std::sort(served.begin(), served.end());
  const double slowest = served.empty() ? 0 : served.back();
  const double median = served.empty() ? 0 : served[served.size() / 2];
  const bool allServed = static_cast<int>(served.size()) == clients;
  std::printf("connect storm: %d clients at once, Hello + ReadValue each: %zu served, %zu not%s\n",
              clients, served.size(), static_cast<size_t>(clients) - served.size(),
              allServed ? "  PASS" : "  FAIL");
  std::printf("  slowest %.3f s, median %.3f s (target: slowest <= 2 s)  %s\n", slowest, median,
              Verdict(allServed && slowest <= 2.0));
  std::printf("  ListenOverflows %+ld (target: unchanged)  %s\n", overflows,
              Verdict(overflows == 0));
  std::printf("  server's peak memory (VmHWM) %.1f MB (target <= 80 MB)  %s\n", peakKb / 1024.0,
              Verdict(peakKb >= 0 && peakKb <= 80 * 1024));

  const int half = std::max(clients / 2, 1);
  Pair best = BestOfRounds(
      [&] {
        return Measure(echo.port(), echo.pid(), Transport::kTcp, kNoHello, channel, half,
                       seconds / kRounds);
      },
      [&] {
        return Measure(server.port(), server.pid(), Transport::kTcp, kController, channel, half,
                       seconds / kRounds);
      });
  const double ratio = best.second.perSecond / best.first.perSecond;
  std::printf(
      "ReadValue round trips, %d clients: echo %.0f/s  server %.0f/s  ratio %.2fx "
      "(target >= 0.8x)  %s  cpu per round trip: echo %.1f us, server %.1f us\n",
      half, best.first.perSecond, best.second.perSecond, ratio, Verdict(ratio >= 0.8),
      best.first.cpuMicroseconds, best.second.cpuMicroseconds);
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 3.0;
  std::string newBinary = std::string(ORVEXA_BUILD_DIR) + "/orvexa", oldBinary;
  int storm = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if ((a == "--old" || a == "--new") && i + 1 < argc) {
      (a == "--old" ? oldBinary : newBinary) = argv[++i];
    } else if (a == "--storm") {
      storm = 1000;
      if (i + 1 < argc && std::atoi(argv[i + 1]) > 0) storm = std::atoi(argv[++i]);
    } else if (std::atof(a.c_str()) > 0) {
      seconds = std::atof(a.c_str());
    } else {
      std::fprintf(stderr,
                   "usage: serving_bench [seconds] [--old orvexa] [--new orvexa] [--storm [N]]\n");
      return 2;
    }
  }
  if (storm) RaiseDescriptorLimit(2 * storm + 100);
  ServerUnderTest server(newBinary, storm ? storm + 100 : 200);
  std::unique_ptr<ServerUnderTest> old;
  if (!oldBinary.empty()) old = std::make_unique<ServerUnderTest>(oldBinary);
  EchoServer echo;

  ProtocolClient probe;
  probe.Connect("127.0.0.1", server.port(), Transport::kTcp);
  probe.Hello();
  uint16_t channel = 0;
  auto channels = probe.ListChannels();
  for (size_t i = 0; i < channels.size() && !channel; ++i)
    if (channels[i].flags & 1) channel = static_cast<uint16_t>(i + 1);
  if (!channel) {
    std::fprintf(stderr, "Simulator.ldp offers no readable channel\n");
    return 1;
  }
  std::printf("ReadValue on channel %u (%s), %.1f s per measurement\n", channel,
              channels[channel - 1].id.c_str(), seconds);
  probe.Close();
  if (storm) {
    ConnectStorm(server, echo, channel, storm, seconds);
    return 0;
  }

  struct Row {
    const char* name;
    Transport transport;
    int clients;
    double target;
  } rows[] = {{"TCP, 1 client", Transport::kTcp, 1, 0.8},
              {"TCP, 50 clients", Transport::kTcp, 50, 0.7},
              {"WebSocket, 1 client", Transport::kWebSocket, 1, 0.7},
              {"WebSocket, 50 clients", Transport::kWebSocket, 50, 0.7}};
  // The CPU time of each serving process per round trip (of its best round) tells
  // whether a low ratio is the server's own cost or the machine's load.
  for (const Row& row : rows) {
    Pair best = BestOfRounds(
        [&] {
          return Measure(echo.port(), echo.pid(), Transport::kTcp, kNoHello, channel, row.clients,
                         seconds / kRounds);
        },
        [&] {
          return Measure(server.port(), server.pid(), row.transport, kController, channel,
                         row.clients, seconds / kRounds);
        });
    const Measurement& bestEcho = best.first;
    const Measurement& bestServer = best.second;
    std::printf(
        "%-22s echo %8.0f/s  server %8.0f/s  ratio %.2fx (target >= %.1fx)  "
        "cpu per round trip: echo %.1f us, server %.1f us\n",
        row.name, bestEcho.perSecond, bestServer.perSecond,
        bestServer.perSecond / bestEcho.perSecond, row.target, bestEcho.cpuMicroseconds,
        bestServer.cpuMicroseconds);
  }
  if (old) CompareWithOld(server, *old, channel, seconds);

  std::vector<std::unique_ptr<ProtocolClient>> idle;
  for (int i = 0; i < 50; ++i) {
    auto c = std::make_unique<ProtocolClient>();
    c->Connect("127.0.0.1", server.port(), i % 2 ? Transport::kWebSocket : Transport::kTcp);
    c->Hello();
    idle.push_back(std::move(c));
  }
  long kb = server.StatusKilobytes();
  std::printf("resident memory with 50 idle clients: %.1f MB (target < 30 MB)\n", kb / 1024.0);
  return 0;
}
