// Runs the real build/orvexa binary in a folder of the test's own, with its standard
// output and error captured to files, and waits on what it prints with deadlines
// (never bare sleeps). Used by the integration tests of every subsystem.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace orvexa::test {

class ServerProcess {
 public:
  // Starts `binary` (default: the built server) in `folder` with `args`. For the server,
  // headless mode is forced unless `args` already says otherwise or `environment` names a display
  // ("DISPLAY=..." or "WAYLAND_DISPLAY=..."). Extra environment entries "K=V" apply.
  ServerProcess(const std::string& folder, std::vector<std::string> args,
                std::vector<std::string> environment = {}, std::string binary = "");
  ~ServerProcess();  // kills the process if it still runs
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  pid_t pid() const { return pid_; }
  std::string Stdout() const;
  std::string Stderr() const;

  // Waits until standard output (or error) contains `text`.
  bool WaitForOutput(const std::string& text,
                     std::chrono::milliseconds deadline = std::chrono::seconds(20)) const;
  bool WaitForStderr(const std::string& text,
                     std::chrono::milliseconds deadline = std::chrono::seconds(20)) const;
  // The port from the start-up summary line "Listening on port N".
  std::optional<int> WaitForPort(std::chrono::milliseconds deadline = std::chrono::seconds(20));

  void Signal(int signal) const;
  // Exit status (or 128 + signal), or nullopt when it did not end in time.
  std::optional<int> WaitForExit(std::chrono::milliseconds deadline = std::chrono::seconds(30));

 private:
  pid_t pid_ = -1;
  std::string stdoutPath_;
  std::string stderrPath_;
  std::optional<int> exitStatus_;
};

// Runs the server to completion (for help, bad files): exit status and both outputs.
struct CompletedRun {
  int status = -1;
  std::string out;
  std::string err;
};
CompletedRun RunServerToEnd(const std::string& folder, std::vector<std::string> args,
                            std::chrono::milliseconds deadline = std::chrono::seconds(30));

// Runs a tool of the build (for example "orvexa-token --new-hs256 k") through the shell;
// its standard output without the last line break (errors go to standard error).
std::string RunBuildTool(const std::string& commandLine);

}  // namespace orvexa::test
