// A test plug-in that records every host call in a text log the tests read back through
// the extra export TestCallLog. In LDPDone it appends "<device> done" to done.marker and
// writes the call log to "<device>.calls" in the current folder, so a test of the real
// server sees what happened up to shutdown. Built in
// three variants (RECORDER_VARIANT):
//   0 "Rig": three channels of which number 2 is rejected, a read-only "Input0" with a
//     description and a read-write "Temp A" without one; tick frequency 5000 Hz; burst
//     "sweep"; experiments refused for param 13.
//   1 no device name; channels "Temp A" and "Temp_A" (null descriptions); a tick
//     frequency query answered true with 0 Hz.
//   2 "Zero": LDPInit returns 0, everything else exported.
#include <cstdio>
#include <cstring>
#include <string>

#include "plugin_api/ldp_plugin.h"

using namespace orvexa;

namespace {

constexpr int kVariant = RECORDER_VARIANT;

std::string callLog;
float lastWritten = 0.0f;
ExperimentStoppedCallback stoppedCallback = nullptr;
int burstFrees = 0;
int configCalls = 0;
int instance = 42;

void Note(const std::string& text) {
  if (!callLog.empty()) callLog += ";";
  callLog += text;
}

const char* DeviceName() {
  if (kVariant == 0) return "Rig";
  if (kVariant == 2) return "Zero";
  return nullptr;
}

// Stores an Integer entry through the node's virtual operations only.
void StoreInteger(ConfigValue* section, const char* name, int32_t value) {
  auto* map = static_cast<StructValue*>(section);
  ConfigValue* entry = map->Find(name);
  if (entry == nullptr) {
    entry = section->CreateValue(ValueKind::Integer);
    map->Add(name, entry);
    entry = map->Find(name);
  }
  if (entry != nullptr && entry->Kind() == ValueKind::Integer) {
    static_cast<IntegerValue*>(entry)->Set(value);
  }
}

std::string SectionText(ConfigValue* section) {
  if (section == nullptr) return "null";
  ConfigValue* path = static_cast<StructValue*>(section)->Find("Path");
  if (path == nullptr || path->Kind() != ValueKind::String) return "no-path";
  std::string text = static_cast<StringValue*>(path)->Get();
  ConfigValue* calls = static_cast<StructValue*>(section)->Find("config_calls");
  if (calls != nullptr && calls->Kind() == ValueKind::Integer) {
    text += "/" + std::to_string(static_cast<IntegerValue*>(calls)->Get());
  }
  return text;
}

float ReadChannel(PluginHandle handle, int readParam, int byClient) {
  Note("read(" + std::to_string(readParam) + "," + std::to_string(byClient) + ")");
  if (handle != &instance) return -1.0f;
  return readParam == 303 ? lastWritten : static_cast<float>(readParam) + byClient * 0.5f;
}

void WriteChannel(PluginHandle handle, float value, int writeParam) {
  Note("write(" + std::to_string(writeParam) + ")");
  if (handle == &instance) lastWritten = value;
}

}  // namespace

LDP_EXPORT const char* TestCallLog() {
  return callLog.c_str();
}
// The loader hands out an already loaded library again when a new copy of the file gets
// the inode of a removed one, so each test starts by clearing what an earlier one left.
LDP_EXPORT void TestReset() {
  callLog.clear();
  lastWritten = 0.0f;
  stoppedCallback = nullptr;
  burstFrees = 0;
  configCalls = 0;
}
LDP_EXPORT void TestStopExperiment(uint32_t id) {
  if (stoppedCallback != nullptr) stoppedCallback(id);
}
LDP_EXPORT int TestBurstFrees() {
  return burstFrees;
}

LDP_EXPORT void LDPExperimentSetCallbacks(ExperimentStoppedCallback callback) {
  Note(callLog.empty() ? "callbacks" : "callbacks-again");
  stoppedCallback = callback;
}

LDP_EXPORT int LDPInit(PluginHandle* handleOut, const char** deviceNameOut, ConfigValue* section) {
  Note(std::string("init(") + (*deviceNameOut == nullptr ? "" : "name-not-preset,") +
       SectionText(section) + ")");
  *handleOut = &instance;
  *deviceNameOut = DeviceName();
  if (kVariant == 2) return 0;
  return kVariant == 0 ? 3 : 2;
}

LDP_EXPORT void LDPDone(PluginHandle handle) {
  Note(handle == &instance ? "done" : "done(bad-handle)");
  const char* device = DeviceName() != nullptr ? DeviceName() : "Unknown";
  if (FILE* marker = std::fopen("done.marker", "a")) {
    std::fprintf(marker, "%s done\n", device);
    std::fclose(marker);
  }
  // The whole call log, for tests that run the real server in another process.
  if (FILE* calls = std::fopen((std::string(device) + ".calls").c_str(), "w")) {
    std::fprintf(calls, "%s\n", callLog.c_str());
    std::fclose(calls);
  }
}

LDP_EXPORT int LDPQueryInfo(PluginHandle handle, int channel, const char** nameOut,
                            const char** descriptionOut, ChannelReadFunction* readOut,
                            int* readParamOut, ChannelWriteFunction* writeOut, int* writeParamOut) {
  Note("query(" + std::to_string(channel) + ")");
  if (handle != &instance || *nameOut != nullptr || *descriptionOut != nullptr) return 0;
  if (kVariant == 0) {
    if (channel == 1) {
      *nameOut = "Input0";
      *descriptionOut = "first input";
      *readOut = ReadChannel;
      *readParamOut = 101;
      return 1;
    }
    if (channel == 2) return 0;
    if (channel == 3) {
      *nameOut = "Temp A";
      *readOut = ReadChannel;
      *readParamOut = 303;
      *writeOut = WriteChannel;
      *writeParamOut = 304;
      return 1;
    }
    return 0;
  }
  if (kVariant == 1) {
    *nameOut = channel == 1 ? "Temp A" : "Temp_A";
    *readOut = ReadChannel;
    *readParamOut = channel;
    return 1;
  }
  return 0;
}

LDP_EXPORT void LDPConfig(PluginHandle handle, int what, ConfigValue* section) {
  Note("config(" + std::to_string(what) + "," + SectionText(section) + ")");
  if (handle != &instance || section == nullptr) return;
  StoreInteger(section, "config_calls", ++configCalls);
}

LDP_EXPORT void LDPMessage(PluginHandle, int code, int arg) {
  Note("message(" + std::to_string(code) + "," + std::to_string(arg) + ")");
}

LDP_EXPORT int LDPQueryPluginInfo(PluginHandle, int what, void* out) {
  Note("info(" + std::to_string(what) + ")");
  if (what != PluginInfoTickFrequency) return 0;
  *static_cast<uint32_t*>(out) = kVariant == 0 ? 5000 : 0;
  return 0x100 | 1;  // only the lowest byte counts
}

LDP_EXPORT int LDPBurstSupported(PluginHandle, const char* name) {
  Note(std::string("burst-supported(") + name + ")");
  // 0x100: a true-looking int whose lowest byte says false.
  return std::strcmp(name, "sweep") == 0 ? 1 : 0x100;
}

LDP_EXPORT int LDPBurstRecord(PluginHandle, BurstSample** samplesOut, const char* name,
                              uint32_t duration, int reserved1, int reserved2) {
  Note(std::string("burst-record(") + (*samplesOut == nullptr ? "" : "not-preset,") + name + "," +
       std::to_string(duration) + "," + std::to_string(reserved1) + "," +
       std::to_string(reserved2) + ")");
  if (std::strcmp(name, "sweep") != 0) return -1;
  auto* samples = new BurstSample[duration]();
  for (uint32_t i = 0; i < duration; ++i) {
    samples[i].time = i;
    for (int k = 0; k < 8; ++k) samples[i].value[k] = static_cast<float>(k * 100 + i);
  }
  *samplesOut = samples;
  return static_cast<int>(duration);
}

LDP_EXPORT void LDPBurstFree(BurstSample* samples) {
  Note("burst-free");
  ++burstFrees;
  delete[] samples;
}

LDP_EXPORT int LDPExperiment(PluginHandle, int action, uint32_t id, uint32_t param) {
  Note("experiment(" + std::to_string(action) + "," + std::to_string(id) + "," +
       std::to_string(param) + ")");
  return param == 13 ? 0x200 : 1;  // 0x200: lowest byte false
}
