// Probe.ldp: a test device whose channels report what the server did to it, so that
// integration tests can check experiment, burst and tick handling from a client.
//
// Channels (all readable unless noted): 1 "counter" (each read returns one more than
// the last), 2 "frees" (LDPBurstFree calls), 3 "outstanding" (burst arrays handed out
// and not yet freed), 4 "ticks" (MessageTick messages), 5 "starts" and 6 "stops"
// (LDPExperiment calls), 7 "output" (writable only), 8 "level" (reads back what was
// written), 9 "asked" (LDPBurstSupported calls).
//
// LDPExperiment parameters: 1 refuses the start; 2 agrees and refuses the next stop;
// 3 calls the host's stopped callback from inside the start call; 4 calls it from a
// thread of its own 300 ms after the start. The tick frequency comes from the
// environment variable PROBE_TICK_HZ (none when unset).
//
// Bursts: "probe" records `duration` samples (time 1000 + 10 i, value[s] = 1000 s + i),
// "probe_fail" fails. The plug-in links nothing of the server.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "plugin_api/ldp_plugin.h"

using namespace orvexa;

namespace {

struct Probe {
  std::mutex mutex;
  float counter = 0;
  float level = 0;
  std::atomic<int> frees{0}, outstanding{0}, ticks{0}, starts{0}, stops{0}, asked{0};
  bool refuseNextStop = false;
  std::vector<std::thread> threads;
};

ExperimentStoppedCallback g_stopped = nullptr;
Probe g_probe;
int g_instance = 1;

const char* const kNames[] = {"counter", "frees",  "outstanding", "ticks", "starts",
                              "stops",   "output", "level",       "asked"};

float ReadChannel(PluginHandle, int param, int) {
  Probe& p = g_probe;
  switch (param) {
    case 1: {
      std::lock_guard<std::mutex> lock(p.mutex);
      return ++p.counter;
    }
    case 2:
      return static_cast<float>(p.frees.load());
    case 3:
      return static_cast<float>(p.outstanding.load());
    case 4:
      return static_cast<float>(p.ticks.load());
    case 5:
      return static_cast<float>(p.starts.load());
    case 6:
      return static_cast<float>(p.stops.load());
    case 8: {
      std::lock_guard<std::mutex> lock(p.mutex);
      return p.level;
    }
    case 9:
      return static_cast<float>(p.asked.load());
    default:
      return 0.0f;
  }
}

void WriteChannel(PluginHandle, float value, int param) {
  if (param != 7 && param != 8) return;
  std::lock_guard<std::mutex> lock(g_probe.mutex);
  if (param == 8) g_probe.level = value;
}

}  // namespace

LDP_EXPORT void LDPExperimentSetCallbacks(ExperimentStoppedCallback callback) {
  g_stopped = callback;
}

LDP_EXPORT int LDPInit(PluginHandle* handleOut, const char** deviceNameOut, ConfigValue*) {
  *handleOut = &g_instance;
  *deviceNameOut = "Probe";
  return 9;
}

LDP_EXPORT void LDPDone(PluginHandle) {
  for (std::thread& t : g_probe.threads) t.join();
  g_probe.threads.clear();
}

LDP_EXPORT int LDPQueryInfo(PluginHandle, int channel, const char** nameOut,
                            const char** descriptionOut, ChannelReadFunction* readOut,
                            int* readParamOut, ChannelWriteFunction* writeOut, int* writeParamOut) {
  if (channel < 1 || channel > 9) return 0;
  *nameOut = kNames[channel - 1];
  *descriptionOut = "probe channel";
  if (channel != 7) {
    *readOut = ReadChannel;
    *readParamOut = channel;
  }
  if (channel == 7 || channel == 8) {
    *writeOut = WriteChannel;
    *writeParamOut = channel;
  }
  return 1;
}

LDP_EXPORT void LDPMessage(PluginHandle, int code, int) {
  if (code == MessageTick) ++g_probe.ticks;
}

LDP_EXPORT int LDPQueryPluginInfo(PluginHandle, int what, void* out) {
  const char* hz = std::getenv("PROBE_TICK_HZ");
  if (what != PluginInfoTickFrequency || hz == nullptr) return 0;
  *static_cast<uint32_t*>(out) = static_cast<uint32_t>(std::strtoul(hz, nullptr, 10));
  return 1;
}

LDP_EXPORT int LDPExperiment(PluginHandle, int action, uint32_t id, uint32_t param) {
  Probe& p = g_probe;
  if (action == ExperimentStop) {
    ++p.stops;
    std::lock_guard<std::mutex> lock(p.mutex);
    if (p.refuseNextStop) {
      p.refuseNextStop = false;
      return 0;
    }
    return 1;
  }
  ++p.starts;
  switch (param) {
    case 1:
      return 0;
    case 2: {
      std::lock_guard<std::mutex> lock(p.mutex);
      p.refuseNextStop = true;
      return 1;
    }
    case 3:
      if (g_stopped != nullptr) g_stopped(id);
      return 1;
    case 4: {
      std::lock_guard<std::mutex> lock(p.mutex);
      p.threads.emplace_back([id] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (g_stopped != nullptr) g_stopped(id);
      });
      return 1;
    }
    default:
      return 1;
  }
}

LDP_EXPORT int LDPBurstSupported(PluginHandle, const char* name) {
  ++g_probe.asked;
  return std::strcmp(name, "probe") == 0 || std::strcmp(name, "probe_fail") == 0;
}

LDP_EXPORT int LDPBurstRecord(PluginHandle, BurstSample** samplesOut, const char* name,
                              uint32_t duration, int, int) {
  if (std::strcmp(name, "probe") != 0) return -1;
  const uint32_t n = duration > 100000 ? 100000 : duration;
  if (n == 0) return 0;
  BurstSample* samples = new BurstSample[n];
  for (uint32_t i = 0; i < n; ++i) {
    samples[i].time = 1000 + 10 * i;
    for (int s = 0; s < 8; ++s) samples[i].value[s] = static_cast<float>(1000 * s + i);
  }
  ++g_probe.outstanding;
  *samplesOut = samples;
  return static_cast<int>(n);
}

LDP_EXPORT void LDPBurstFree(BurstSample* samples) {
  ++g_probe.frees;
  --g_probe.outstanding;
  delete[] samples;
}
