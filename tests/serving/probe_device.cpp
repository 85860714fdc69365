// A test device plug-in for the serving tests: device "Probe" with a readable channel
// (Input, constant 21.5), a read-back output (Output), a write-only channel
// (WriteOnly) and a channel named "burst_3" (so that its ID, Probe_burst_3, is not a
// burst name). When PROBE_LOG names a file, every message, write and LDPDone is
// appended to it, and a channel call after LDPDone is recorded as "call after done".
// With PROBE_LOG set, writing kHangValue to Output logs "hang" and never returns: a
// device call that hangs (never without it: the request fuzz target loads this device).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "plugin_api/ldp_plugin.h"

using namespace orvexa;

namespace {

constexpr float kHangValue = -86400.0f;

std::mutex logLock;
float output = 0.0f;
bool done = false;

void Log(const char* format, double a, double b) {
  const char* path = std::getenv("PROBE_LOG");
  if (!path) return;
  std::lock_guard<std::mutex> guard(logLock);
  if (FILE* f = std::fopen(path, "a")) {
    std::fprintf(f, format, a, b);
    std::fclose(f);
  }
}

float ReadInput(PluginHandle, int, int) {
  if (done) Log("call after done\n", 0, 0);
  return 21.5f;
}

float ReadOutput(PluginHandle, int, int) {
  if (done) Log("call after done\n", 0, 0);
  return output;
}

void WriteOutput(PluginHandle, float value, int param) {
  if (done) Log("call after done\n", 0, 0);
  if (value == kHangValue && std::getenv("PROBE_LOG") != nullptr) {
    Log("hang\n", 0, 0);
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
  output = value;
  Log("write %g %g\n", value, param);
}

}  // namespace

LDP_EXPORT int LDPInit(PluginHandle* handleOut, const char** deviceNameOut, ConfigValue*) {
  static int instance;
  *handleOut = &instance;
  *deviceNameOut = "Probe";
  done = false;
  return 4;
}

LDP_EXPORT void LDPDone(PluginHandle) {
  done = true;
  Log("done\n", 0, 0);
}

LDP_EXPORT int LDPQueryInfo(PluginHandle, int channel, const char** nameOut,
                            const char** descriptionOut, ChannelReadFunction* readOut,
                            int* readParamOut, ChannelWriteFunction* writeOut, int* writeParamOut) {
  *readParamOut = channel;
  *writeParamOut = channel;
  switch (channel) {
    case 1:
      *nameOut = "Input";
      *descriptionOut = "Constant input";
      *readOut = ReadInput;
      return 1;
    case 2:
      *nameOut = "Output";
      *readOut = ReadOutput;
      *writeOut = WriteOutput;
      return 1;
    case 3:
      *nameOut = "WriteOnly";
      *descriptionOut = "Write only";
      *writeOut = WriteOutput;
      return 1;
    case 4:
      *nameOut = "burst_3";
      *readOut = ReadInput;
      return 1;
  }
  return 0;
}

LDP_EXPORT void LDPMessage(PluginHandle, int code, int arg) {
  Log("message %g %g\n", code, arg);
}
