#include "process_probe.h"

#include <dirent.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace orvexa::soak {

std::optional<ProcessSample> SampleProcess(pid_t pid) {
  const std::string base = "/proc/" + std::to_string(pid);
  std::ifstream status(base + "/status");
  if (!status) return std::nullopt;
  ProcessSample sample;
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) sample.rssMb = std::stod(line.substr(6)) / 1024.0;
    if (line.rfind("RssAnon:", 0) == 0) sample.rssAnonMb = std::stod(line.substr(8)) / 1024.0;
    if (line.rfind("Threads:", 0) == 0) sample.threads = std::stoi(line.substr(8));
    if (line.rfind("State:", 0) == 0 && line.find('Z') != std::string::npos) return std::nullopt;
  }
  std::ifstream stat(base + "/stat");
  std::getline(stat, line);
  const size_t end = line.rfind(')');
  if (end != std::string::npos) {
    // After the command name: state, then fields 4..; utime and stime are fields 14, 15.
    std::istringstream fields(line.substr(end + 2));
    std::string field;
    double ticks = 0;
    for (int k = 3; k <= 15 && fields >> field; ++k)
      if (k >= 14) ticks += std::stod(field);
    sample.cpuSeconds = ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
  }
  DIR* fds = ::opendir((base + "/fd").c_str());
  if (fds == nullptr) return std::nullopt;
  while (dirent* entry = ::readdir(fds))
    if (entry->d_name[0] != '.') ++sample.fds;
  ::closedir(fds);
  return sample;
}

}  // namespace orvexa::soak
