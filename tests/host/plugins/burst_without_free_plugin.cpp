// A test plug-in that records bursts but exports no LDPBurstFree: the host must never
// call the missing function. It frees its own array at the next recording and in LDPDone.
#include "plugin_api/ldp_plugin.h"

using namespace orvexa;

namespace {
BurstSample* held = nullptr;
}

LDP_EXPORT int LDPInit(PluginHandle*, const char** deviceNameOut, ConfigValue*) {
  *deviceNameOut = "NoFree";
  return 0;
}
LDP_EXPORT void LDPDone(PluginHandle) {
  delete[] held;
  held = nullptr;
}
LDP_EXPORT int LDPQueryInfo(PluginHandle, int, const char**, const char**, ChannelReadFunction*,
                            int*, ChannelWriteFunction*, int*) {
  return 0;
}
LDP_EXPORT int LDPBurstSupported(PluginHandle, const char*) {
  return 1;
}
LDP_EXPORT int LDPBurstRecord(PluginHandle, BurstSample** samplesOut, const char*,
                              uint32_t duration, int, int) {
  delete[] held;
  held = new BurstSample[duration + 1]();
  *samplesOut = held;
  return static_cast<int>(duration);
}
