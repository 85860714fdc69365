// How quickly a board's input frame reaches Pinvane's Input0, against the reader's own
// cycle measured in the same run (the spacing of the output frames it sends once per
// cycle). Expected: a frame waits on average half a cycle for the next poll, so the
// ratio of the median latency to the cycle stays near 0.5 and below 1 ("within about
// one cycle"). Runs the real plug-in from the build folder on a pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "config/config_access.h"
#include "config/node_base.h"
#include "host/device_channel.h"
#include "host/device_plugin.h"
#include "platform/dynamic_library.h"

namespace {

using Clock = std::chrono::steady_clock;

double Micros(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Reads the master until `count` complete output frames have arrived; their times.
std::vector<Clock::time_point> OutputFrameTimes(int master, int count) {
  std::vector<Clock::time_point> times;
  std::string pending;
  while (static_cast<int>(times.size()) < count) {
    pollfd entry{master, POLLIN, 0};
    if (poll(&entry, 1, 2000) <= 0) break;
    char chunk[256];
    ssize_t got = read(master, chunk, sizeof chunk);
    if (got <= 0) continue;
    pending.append(chunk, static_cast<size_t>(got));
    while (pending.size() >= 5) {
      pending.erase(0, 5);
      times.push_back(Clock::now());
    }
  }
  return times;
}

}  // namespace

int main() {
  using namespace orvexa;
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("posix_openpt");
    return 1;
  }
  std::string slave = ptsname(master);
  std::string error;
  auto module = DynamicLibrary::Load(std::string(ORVEXA_BUILD_DIR) + "/Pinvane.ldp", &error);
  if (!module) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  ConfigValue* section = NewConfigValue(ValueKind::Struct);
  section->AddRef();
  SetString(section, "port_path", slave.c_str());
  DevicePlugin plugin;
  plugin.Bind(*module, section, nullptr);
  DeviceChannel input, output;
  plugin.QueryChannel(1, input);
  plugin.QueryChannel(2, output);

  // Baseline: the cycle, from the spacing of the frames of one set output.
  output.Write(1.0f);
  auto times = OutputFrameTimes(master, 401);
  if (times.size() < 401) {
    std::fprintf(stderr, "the plug-in sent no frames\n");
    return 1;
  }
  std::vector<double> gaps;
  for (size_t i = 101; i < times.size(); ++i) gaps.push_back(Micros(times[i] - times[i - 1]));
  double cycle = Median(gaps);

  // Latency of 300 input frames, each sent at a random point of the cycle.
  std::vector<double> latencies;
  srand(7);
  for (int i = 0; i < 300; ++i) {
    usleep(static_cast<useconds_t>(1000 + rand() % 5000));
    uint16_t value = static_cast<uint16_t>(1000 + i);
    unsigned char frame[5] = {0xFF, 0xFF, 0x00, static_cast<unsigned char>(value & 0xFF),
                              static_cast<unsigned char>(value >> 8)};
    auto sent = Clock::now();
    if (write(master, frame, sizeof frame) != 5) break;
    // Check every 20 us without spinning: a spinning reader here would hold off the
    // kernel worker that moves the bytes to the plug-in's side on this CPU.
    while (input.Read(1) != static_cast<float>(value)) {
      if (Clock::now() - sent > std::chrono::seconds(2)) break;
      timespec pause{0, 20000};
      nanosleep(&pause, nullptr);
    }
    latencies.push_back(Micros(Clock::now() - sent));
    char drain[4096];
    while (read(master, drain, sizeof drain) > 0) {
    }
  }
  std::sort(latencies.begin(), latencies.end());
  double median = latencies[latencies.size() / 2];
  double p99 = latencies[latencies.size() * 99 / 100];
  std::printf("reader cycle (median output frame spacing): %.0f us\n", cycle);
  std::printf("input latency: median %.0f us, 99th percentile %.0f us\n", median, p99);
  std::printf("ratio median latency / cycle: %.2f (expected about 0.5, below 1)\n", median / cycle);
  std::printf("ratio 99th percentile / cycle: %.2f\n", p99 / cycle);
  plugin.Unload();
  section->Release();
  close(master);
  return 0;
}
