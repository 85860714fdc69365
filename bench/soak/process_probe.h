// Reads the server process's resident memory, thread count and open descriptors from
// /proc/<pid>, for the soak's once-a-second report and its leak checks and for the
// interference benchmark's memory figures. Any thread.
#pragma once

#include <sys/types.h>

#include <optional>

namespace orvexa::soak {

struct ProcessSample {
  double rssMb = 0;
  double rssAnonMb = 0;  // the process's own memory: RSS without mapped files (logs)
  int threads = 0;
  int fds = 0;
  double cpuSeconds = 0;  // user + system time so far
};

// Nothing when the process is gone.
std::optional<ProcessSample> SampleProcess(pid_t pid);

}  // namespace orvexa::soak
