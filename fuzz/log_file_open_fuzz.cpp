// An existing log file is outside input: whatever its header says, opening it without
// reset must either refuse it or leave a header that keeps every later append inside
// the mapping. Input: the bytes of the file; the log is opened with room for 64 records
// and then takes a few appends.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "logging/log_file.h"

namespace {

constexpr uint32_t kRoom = 64;

char workFolder[] = "/tmp/orvexa-log-fuzz-XXXXXX";

void RemoveWorkFolder() { ::rmdir(workFolder); }

// One file in a folder of this run's own, removed again at exit.
const std::string& WorkFile() {
  static const std::string path = [] {
    if (::mkdtemp(workFolder) == nullptr) __builtin_trap();
    std::atexit(RemoveWorkFolder);
    return std::string(workFolder) + "/fuzz.log";
  }();
  return path;
}

bool HeaderFits(const orvexa::LogFileHeader& h) {
  return h.capacity > 0 && h.capacity <= kRoom && h.nextIndex < h.capacity && h.count <= h.capacity;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orvexa;
  static bool quiet = [] {
    LogFile::SetErrorSink([](const std::string&) {});
    return true;
  }();
  (void)quiet;
  const std::string& path = WorkFile();
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return 0;
  if (size > 0 && ::write(fd, data, size) != static_cast<ssize_t>(size)) {
    ::close(fd);
    return 0;
  }
  ::close(fd);
  LogFile log(path);
  if (log.Open(false, kRoom)) {
    if (!HeaderFits(*log.Header())) __builtin_trap();
    for (uint32_t i = 0; i < 2 * kRoom + 3; ++i) {
      log.Append(i, static_cast<float>(i) * 0.5f);
      if (!HeaderFits(*log.Header())) __builtin_trap();
    }
    log.Flush();
  }
  log.Close();
  ::unlink(path.c_str());
  return 0;
}
