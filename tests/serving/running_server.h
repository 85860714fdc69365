// A real server for the serving tests: build/orvexa started headless in a temporary
// folder on a free port, with the Probe test device (and optionally Simulator.ldp and
// an orvexa.cfg),
// plus helpers to connect clients and to wait for audit lines and device log lines.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client/protocol_client.h"
#include "support/server_process.h"
#include "support/temp_dir.h"

namespace orvexa::test {

using client::ProtocolClient;
using client::Transport;

inline size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class RunningServer {
 public:
  // `config`: the text of an orvexa.cfg to start from (none when empty).
  explicit RunningServer(std::vector<std::string> args = {}, bool withSimulator = false,
                         const std::string& config = "") {
    std::filesystem::copy_file(std::string(ORVEXA_BUILD_DIR) + "/tests/ServingProbe.ldp",
                               dir.File("ServingProbe.ldp"));
    if (withSimulator) dir.CopyFromBuild("Simulator.ldp");
    if (!config.empty()) dir.Write("orvexa.cfg", config);
    args.insert(args.begin(), {"/port", "0"});
    process = std::make_unique<ServerProcess>(
        dir.path(), args, std::vector<std::string>{"PROBE_LOG=" + ProbeLogPath()});
    auto found = process->WaitForPort();
    EXPECT_TRUE(found.has_value()) << process->Stderr();
    port = found.value_or(0);
    EXPECT_TRUE(process->WaitForOutput("Server running")) << process->Stderr();
  }

  std::string ProbeLogPath() const { return dir.File("probe.log"); }
  std::string ProbeLog() const { return dir.Read("probe.log"); }
  std::string Audit() const { return dir.Read("users.log"); }

  // Connects (and runs the upgrade on WebSocket), then Hello with `kind`.
  std::unique_ptr<ProtocolClient> Connect(Transport transport, uint8_t kind = 1,
                                          std::vector<std::string> headers = {}) {
    auto c = std::make_unique<ProtocolClient>();
    c->Connect("127.0.0.1", port, transport, headers);
    EXPECT_EQ(c->Hello(kind), 0);
    return c;
  }

  // Waits until users.log holds `count` copies of `text`.
  bool WaitForAudit(const std::string& text, size_t count = 1,
                    std::chrono::milliseconds deadline = std::chrono::seconds(20)) const {
    auto end = std::chrono::steady_clock::now() + deadline;
    while (CountOf(Audit(), text) < count) {
      if (std::chrono::steady_clock::now() >= end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

  TempDir dir;
  std::unique_ptr<ServerProcess> process;
  int port = 0;
};

// Runs the same test on plain TCP and on WebSocket.
class BothTransportsTest : public ::testing::TestWithParam<Transport> {};

inline std::string TransportName(const ::testing::TestParamInfo<Transport>& info) {
  return info.param == Transport::kTcp ? "Tcp" : "WebSocket";
}

}  // namespace orvexa::test
