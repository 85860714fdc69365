// NoFree.ldp: a test device that records bursts but exports no LDPBurstFree, so the
// server must never call it. Burst "nofree" returns three samples from a static array;
// "probe" is supported too (to show which plug-in a shared burst name goes to), and the
// readable channel "asked" counts the LDPBurstSupported calls. Links nothing of the server.
#include <atomic>
#include <cstring>

#include "plugin_api/ldp_plugin.h"

using namespace orvexa;

namespace {
std::atomic<int> g_asked{0};
int g_instance = 1;
BurstSample g_samples[3] = {{50, {1, 2, 3, 4, 5, 6, 7, 8}},
                            {60, {11, 12, 13, 14, 15, 16, 17, 18}},
                            {70, {21, 22, 23, 24, 25, 26, 27, 28}}};

float ReadAsked(PluginHandle, int, int) {
  return static_cast<float>(g_asked.load());
}
}  // namespace

LDP_EXPORT int LDPInit(PluginHandle* handleOut, const char** deviceNameOut, ConfigValue*) {
  *handleOut = &g_instance;
  *deviceNameOut = "NoFree";
  return 1;
}

LDP_EXPORT void LDPDone(PluginHandle) {}

LDP_EXPORT int LDPQueryInfo(PluginHandle, int channel, const char** nameOut, const char**,
                            ChannelReadFunction* readOut, int*, ChannelWriteFunction*, int*) {
  if (channel != 1) return 0;
  *nameOut = "asked";
  *readOut = ReadAsked;
  return 1;
}

LDP_EXPORT int LDPBurstSupported(PluginHandle, const char* name) {
  ++g_asked;
  return std::strcmp(name, "nofree") == 0 || std::strcmp(name, "probe") == 0;
}

LDP_EXPORT int LDPBurstRecord(PluginHandle, BurstSample** samplesOut, const char*, uint32_t, int,
                              int) {
  *samplesOut = g_samples;
  return 3;
}
