// build/board-sim against the real plug-in: the simulator's pseudo-terminal carries
// Output0 to the board and the board's input back, following Output0 or ramping; and the
// README's recipe, the real server with the simulator unplugged and plugged in again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "client/protocol_client.h"
#include "config/config_access.h"
#include "config/node_base.h"
#include "pinvane_library.h"
#include "pseudo_terminal.h"
#include "support/server_process.h"
#include "support/temp_dir.h"

namespace orvexa::test {
namespace {

using namespace std::chrono_literals;

// build/board-sim as a child process with its standard output on a pipe.
class BoardSimProcess {
 public:
  explicit BoardSimProcess(std::vector<std::string> args) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return;
    args.insert(args.begin(), std::string(ORVEXA_BUILD_DIR) + "/board-sim");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(pipeFds[1], 1);
      std::vector<char*> argv;
      for (auto& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(pipeFds[1]);
    out_ = pipeFds[0];
  }
  ~BoardSimProcess() {
    if (pid_ > 0 && status_ < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }

  // The next line of standard output, or "" at the deadline.
  std::string ReadLine(std::chrono::milliseconds deadline = 5s) {
    auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
      size_t newline = buffer_.find('\n');
      if (newline != std::string::npos) {
        std::string line = buffer_.substr(0, newline);
        buffer_.erase(0, newline + 1);
        return line;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return "";
      pollfd entry{out_, POLLIN, 0};
      if (poll(&entry, 1, static_cast<int>(left.count())) <= 0) continue;
      char chunk[256];
      ssize_t count = read(out_, chunk, sizeof chunk);
      if (count <= 0) return "";
      buffer_.append(chunk, static_cast<size_t>(count));
    }
  }

  // Sends SIGTERM and returns the exit status, or -1 when it did not end in time.
  int Stop() {
    kill(pid_, SIGTERM);
    for (int i = 0; i < 5000; ++i) {
      int status;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        return status_;
      }
      usleep(1000);
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int status_ = -1;
  std::string buffer_;
};

ConfigValue* SectionFor(const std::string& path) {
  ConfigValue* section = NewConfigValue(ValueKind::Struct);
  section->AddRef();
  SetString(section, "port_path", path.c_str());
  return section;
}

TEST(BoardSimTest, BoardFollowsOutput0OverItsTerminal) {
  TempDir folder;
  std::string link = folder.File("board");
  BoardSimProcess board({"--mode", "follow", "--period", "10", "--link", link});
  std::string slave = board.ReadLine();
  ASSERT_EQ(slave.rfind("/dev/pts/", 0), 0u) << slave;
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(slave, target);

  ConfigValue* section = SectionFor(link);
  {
    PinvaneInstance device(section);
    device.Write(0, 1234.0f);
    EXPECT_EQ(board.ReadLine(), "Output0 = 1234");
    EXPECT_TRUE(WaitUntil([&] { return device.Input() == 1234.0f; }));
    device.Write(0, 70000.0f);
    EXPECT_EQ(board.ReadLine(), "Output0 = 65534");
    EXPECT_TRUE(WaitUntil([&] { return device.Input() == 65534.0f; }));
  }
  section->Release();
  EXPECT_EQ(board.Stop(), 0);
  struct stat info;
  EXPECT_NE(lstat(link.c_str(), &info), 0) << "the link outlived the simulator";
}

TEST(BoardSimTest, RampModeKeepsTheInputMoving) {
  BoardSimProcess board({"--mode", "ramp", "--period", "5", "--step", "3", "--quiet"});
  std::string slave = board.ReadLine();
  ASSERT_FALSE(slave.empty());
  ConfigValue* section = SectionFor(slave);
  {
    PinvaneInstance device(section);
    EXPECT_TRUE(WaitUntil([&] { return device.Input() > 0.0f; }));
    float seen = device.Input();
    EXPECT_TRUE(WaitUntil([&] { return device.Input() != seen; }));
    EXPECT_EQ(static_cast<int>(device.Input()) % 3, 0);
  }
  section->Release();
  EXPECT_EQ(board.Stop(), 0);
}

TEST(BoardSimTest, ServerFollowsTheSimulatorAcrossUnpluggingAndReplugging) {
  TempDir dir;
  dir.CopyFromBuild("Pinvane.ldp");
  std::string link = dir.File("board");
  auto plugIn = [&] {
    auto board = std::make_unique<BoardSimProcess>(
        std::vector<std::string>{"--period", "10", "--link", link, "--quiet"});
    EXPECT_EQ(board->ReadLine().rfind("/dev/pts/", 0), 0u);
    return board;
  };
  auto board = plugIn();
  dir.Write("orvexa.cfg",
            "OrvexaConfig {\n PluginConfigs = array {\n  struct {\n"
            "   Path = \"Pinvane.ldp\"\n   port_path = \"" +
                link + "\"\n  }\n }\n}\n");
  ServerProcess server(dir.path(), {"/port", "0"});
  auto port = server.WaitForPort();
  ASSERT_TRUE(port.has_value()) << server.Stderr();
  ASSERT_TRUE(server.WaitForOutput("Server running\n"));
  client::ProtocolClient client;
  client.Connect("127.0.0.1", *port, client::Transport::kTcp);
  ASSERT_EQ(client.Hello(1), 0);
  uint16_t output0 = client.FindChannel(4, "Arduino_Output0");
  uint16_t input0 = client.FindChannel(3, "Arduino_Input0");
  auto inputBecomes = [&](float value, std::chrono::milliseconds deadline) {
    return WaitUntil([&] { return client.ReadValue(input0).first == value; }, deadline);
  };
  client.WriteValue(output0, 1234.0f);
  EXPECT_TRUE(inputBecomes(1234.0f, 5s));

  // Unplugged: the simulator ends and takes its link along, so the port cannot be opened;
  // headless that is one line on standard error, and the server carries on.
  EXPECT_EQ(board->Stop(), 0);
  EXPECT_TRUE(server.WaitForStderr("Error opening port: Unable to open port\n", 5s));
  client.WriteValue(output0, 77.0f);
  // Plugged in again: the next try, at most 10 s later, finds it; the output set meanwhile
  // goes out and comes back.
  board = plugIn();
  EXPECT_TRUE(inputBecomes(77.0f, 15s)) << server.Stderr();
  client.Close();
  server.Signal(SIGTERM);
  EXPECT_EQ(server.WaitForExit(), 0);
}

TEST(BoardSimTest, BadArgumentsAreRefused) {
  BoardSimProcess board({"--mode", "sideways"});
  EXPECT_EQ(board.ReadLine(1s), "");
  EXPECT_EQ(board.Stop(), 2);
}

}  // namespace
}  // namespace orvexa::test
