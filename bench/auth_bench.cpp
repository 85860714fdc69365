// Admission with tokens: connect + Hello + close per second against the real server
// with Authenticate on (ES256 tokens, each Hello verified) and against the same server
// without authentication, measured alternately in one run; prints the ratio (target
// >= 0.5). Clients connect from their own loopback addresses (127.1.x.y) so that closed
// connections waiting out TIME_WAIT never run a source out of ports.
//
//   build/bench/auth_bench [seconds per round, default 2] [client threads, default 4]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "client/protocol_client.h"
#include "support/server_process.h"
#include "support/temp_dir.h"

using orvexa::client::ProtocolClient;
using orvexa::client::Transport;

namespace {

constexpr int kRounds = 3;

std::string Tool(const std::string& args) {
  return orvexa::test::RunBuildTool("orvexa-token " + args);
}

struct Server {
  orvexa::test::TempDir dir;
  std::unique_ptr<orvexa::test::ServerProcess> process;
  int port = 0;

  explicit Server(const std::string& config) {
    dir.CopyFromBuild("Simulator.ldp");
    if (!config.empty()) dir.Write("orvexa.cfg", config);
    process = std::make_unique<orvexa::test::ServerProcess>(
        dir.path(), std::vector<std::string>{"/port", "0", "/maxclient", "200", "/conexp", "600"});
    port = process->WaitForPort().value_or(0);
    if (port == 0 || !process->WaitForOutput("Server running")) {
      std::fprintf(stderr, "the server did not start: %s\n", process->Stderr().c_str());
      std::exit(1);
    }
  }
};

// Openings per second over `seconds` with `threads` clients; every Hello must be 0.
double Openings(int port, const std::string& token, double seconds, int threads, int round,
                int mode) {
  std::atomic<long> done{0};
  std::atomic<bool> failed{false};
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  std::vector<std::thread> clients;
  for (int t = 0; t < threads; ++t) {
    clients.emplace_back([&, t] {
      const std::string from =
          "127.1." + std::to_string(round * 2 + mode) + "." + std::to_string(t + 1);
      while (std::chrono::steady_clock::now() < end) {
        ProtocolClient c;
        c.Connect("127.0.0.1", port, Transport::kTcp, {}, from);
        if (c.Hello(1, nullptr, 100, token) != 0) failed = true;
        c.Close();
        ++done;
      }
    });
  }
  for (auto& c : clients) c.join();
  if (failed) {
    std::fprintf(stderr, "a Hello was refused\n");
    std::exit(1);
  }
  return static_cast<double>(done.load()) / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
  const int threads = argc > 2 ? std::atoi(argv[2]) : 4;
  orvexa::test::TempDir keys;
  Tool("--new-es256 " + keys.File("lab.key") + " " + keys.File("lab.pub"));
  const std::string token =
      Tool("--key " + keys.File("lab.key") + " --role controller --sub bench --aud lab-1");
  Server plain("");
  Server authenticated("OrvexaConfig { Authenticate = true LabId = \"lab-1\" AuthKeyFile = \"" +
                       keys.File("lab.pub") + "\" }\n");
  double plainTotal = 0, tokenTotal = 0;
  for (int round = 0; round < kRounds; ++round) {
    plainTotal += Openings(plain.port, "", seconds, threads, round, 0);
    tokenTotal += Openings(authenticated.port, token, seconds, threads, round, 1);
  }
  const double plainRate = plainTotal / kRounds, tokenRate = tokenTotal / kRounds;
  std::printf("connect + Hello per second (%d clients, %d rounds of %.1f s each, alternated)\n",
              threads, kRounds, seconds);
  std::printf("  without authentication: %.0f/s\n", plainRate);
  std::printf("  ES256 tokens:           %.0f/s\n", tokenRate);
  std::printf("  ratio: %.2f (target >= 0.5)\n", tokenRate / plainRate);
  return 0;
}
