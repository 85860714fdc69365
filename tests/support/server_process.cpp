#include "support/server_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace orvexa::test {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WaitForFileText(const std::string& path, const std::string& text,
                     std::chrono::milliseconds deadline, pid_t pid) {
  auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    if (ReadAll(path).find(text) != std::string::npos) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    if (pid > 0 && ::waitpid(pid, nullptr, WNOHANG | WNOWAIT) == pid) {
      // The process is gone; look one last time at what it wrote.
      return ReadAll(path).find(text) != std::string::npos;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

ServerProcess::ServerProcess(const std::string& folder, std::vector<std::string> args,
                             std::vector<std::string> environment, std::string binary) {
  // Only the server knows the headless switch; other programs get their arguments as given.
  bool server = binary.empty();
  if (binary.empty()) binary = std::string(ORVEXA_BUILD_DIR) + "/orvexa";
  stdoutPath_ = folder + "/.test-stdout";
  stderrPath_ = folder + "/.test-stderr";
  bool modeGiven = false;
  for (const auto& a : args)
    if (a == "/headless" || a == "-headless") modeGiven = true;
  // A test that hands the server a display of its own wants the operator window.
  for (const auto& e : environment)
    if (e.rfind("DISPLAY=", 0) == 0 || e.rfind("WAYLAND_DISPLAY=", 0) == 0) modeGiven = true;
  std::vector<std::string> argv = {binary};
  if (!modeGiven && server) argv.push_back("-headless");
  argv.insert(argv.end(), args.begin(), args.end());

  // Drop the output of an earlier run in the same folder before the child starts, so
  // that waiting for a line never finds the old run's text.
  ::unlink(stdoutPath_.c_str());
  ::unlink(stderrPath_.c_str());
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    if (::chdir(folder.c_str()) != 0) _exit(127);
    int out = ::open(stdoutPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(stderrPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int in = ::open("/dev/null", O_RDONLY);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::dup2(in, 0);
    for (const auto& e : environment) ::putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> raw;
    for (auto& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    ::execv(raw[0], raw.data());
    _exit(127);
  }
}

ServerProcess::~ServerProcess() {
  if (pid_ > 0 && !exitStatus_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

std::string ServerProcess::Stdout() const {
  return ReadAll(stdoutPath_);
}
std::string ServerProcess::Stderr() const {
  return ReadAll(stderrPath_);
}

bool ServerProcess::WaitForOutput(const std::string& text,
                                  std::chrono::milliseconds deadline) const {
  return WaitForFileText(stdoutPath_, text, deadline, exitStatus_ ? -1 : pid_);
}

bool ServerProcess::WaitForStderr(const std::string& text,
                                  std::chrono::milliseconds deadline) const {
  return WaitForFileText(stderrPath_, text, deadline, exitStatus_ ? -1 : pid_);
}

std::optional<int> ServerProcess::WaitForPort(std::chrono::milliseconds deadline) {
  const std::string marker = "Listening on port ";
  if (!WaitForOutput(marker, deadline)) return std::nullopt;
  auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    std::string out = Stdout();
    size_t at = out.find(marker);
    size_t lineEnd = out.find('\n', at);
    if (lineEnd != std::string::npos)
      return std::stoi(out.substr(at + marker.size(), lineEnd - at - marker.size()));
    if (std::chrono::steady_clock::now() >= end) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void ServerProcess::Signal(int signal) const {
  if (pid_ > 0 && !exitStatus_) ::kill(pid_, signal);
}

std::optional<int> ServerProcess::WaitForExit(std::chrono::milliseconds deadline) {
  if (exitStatus_) return exitStatus_;
  auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return exitStatus_;
    }
    if (std::chrono::steady_clock::now() >= end) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

CompletedRun RunServerToEnd(const std::string& folder, std::vector<std::string> args,
                            std::chrono::milliseconds deadline) {
  ServerProcess process(folder, std::move(args));
  CompletedRun run;
  auto status = process.WaitForExit(deadline);
  run.status = status ? *status : -1;
  run.out = process.Stdout();
  run.err = process.Stderr();
  return run;
}

std::string RunBuildTool(const std::string& commandLine) {
  const std::string command = std::string(ORVEXA_BUILD_DIR) + "/" + commandLine;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return "";
  std::string out;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
  ::pclose(pipe);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

}  // namespace orvexa::test
