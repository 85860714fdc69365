// The exported entry points of Simulator.ldp: thin adapters from the plug-in contract
// to SimulatorDevice. The host passes back the handle LDPInit stored; a null handle
// (never stored by this plug-in) is ignored everywhere.
#include <cstring>

#include "simulator_device.h"

using orvexa::BurstSample;
using orvexa::ChannelReadFunction;
using orvexa::ChannelWriteFunction;
using orvexa::ConfigValue;
using orvexa::ExperimentStoppedCallback;
using orvexa::PluginHandle;
using simulator::SimulatorDevice;

namespace {

// Set once, before LDPInit, and only read afterwards.
ExperimentStoppedCallback experimentStopped = nullptr;

SimulatorDevice* Device(PluginHandle handle) {
  return static_cast<SimulatorDevice*>(handle);
}

float ReadChannel(PluginHandle handle, int channel, int /*byClient*/) {
  return handle != nullptr ? Device(handle)->Read(channel) : 0.0f;
}

void WriteChannel(PluginHandle handle, float value, int channel) {
  if (handle != nullptr) Device(handle)->Write(channel, value);
}

struct ChannelInfo {
  const char* name;
  const char* description;
  bool writable;
};

constexpr ChannelInfo kChannels[SimulatorDevice::kChannelCount] = {
    {"Sine", "Sine wave, amplitude 1", false},
    {"Ramp", "Ramp from 0 to 100, repeating", false},
    {"Setpoint", "Set value; reads back what was written", true},
    {"Output", "Follows Setpoint with a first-order lag", false},
};

}  // namespace

LDP_EXPORT void LDPExperimentSetCallbacks(ExperimentStoppedCallback callback) {
  experimentStopped = callback;
}

LDP_EXPORT int LDPInit(PluginHandle* handleOut, const char** deviceNameOut, ConfigValue* section) {
  *handleOut = new SimulatorDevice(section);
  *deviceNameOut = "Simulator";
  return SimulatorDevice::kChannelCount;
}

LDP_EXPORT void LDPDone(PluginHandle handle) {
  delete Device(handle);
}

LDP_EXPORT int LDPQueryInfo(PluginHandle handle, int channel, const char** nameOut,
                            const char** descriptionOut, ChannelReadFunction* readOut,
                            int* readParamOut, ChannelWriteFunction* writeOut, int* writeParamOut) {
  if (handle == nullptr || channel < 1 || channel > SimulatorDevice::kChannelCount) return 0;
  const ChannelInfo& info = kChannels[channel - 1];
  *nameOut = info.name;
  *descriptionOut = info.description;
  *readOut = ReadChannel;
  *readParamOut = channel;
  *writeOut = info.writable ? WriteChannel : nullptr;
  *writeParamOut = channel;
  return 1;
}

// No window of its own: every request ends, as the contract asks, by storing the
// current settings into the section.
LDP_EXPORT void LDPConfig(PluginHandle handle, int /*what*/, ConfigValue* section) {
  if (handle != nullptr && section != nullptr) Device(handle)->StoreSettings(section);
}

LDP_EXPORT void LDPMessage(PluginHandle handle, int code, int /*arg*/) {
  if (handle == nullptr) return;
  if (code == orvexa::MessageTick) Device(handle)->Tick();
  if (code == orvexa::MessageIdleState) Device(handle)->ReportExpiredExperiments(experimentStopped);
}

LDP_EXPORT int LDPQueryPluginInfo(PluginHandle handle, int what, void* out) {
  if (handle == nullptr || what != orvexa::PluginInfoTickFrequency || out == nullptr) return 0;
  uint32_t frequency = Device(handle)->TickFrequency();
  if (frequency == 0) return 0;
  *static_cast<uint32_t*>(out) = frequency;
  return 1;
}

LDP_EXPORT int LDPBurstSupported(PluginHandle handle, const char* burstName) {
  return handle != nullptr && burstName != nullptr && std::strcmp(burstName, "sweep") == 0;
}

LDP_EXPORT int LDPBurstRecord(PluginHandle handle, BurstSample** samplesOut, const char* burstName,
                              uint32_t duration, int, int) {
  if (handle == nullptr || burstName == nullptr || std::strcmp(burstName, "sweep") != 0) return -1;
  std::vector<BurstSample> samples = Device(handle)->Sweep(duration);
  if (samples.empty()) return 0;
  auto* array = new BurstSample[samples.size()];
  std::memcpy(array, samples.data(), samples.size() * sizeof(BurstSample));
  *samplesOut = array;
  return static_cast<int>(samples.size());
}

LDP_EXPORT void LDPBurstFree(BurstSample* samples) {
  delete[] samples;
}

LDP_EXPORT int LDPExperiment(PluginHandle handle, int action, uint32_t experimentId,
                             uint32_t param) {
  if (handle == nullptr) return 1;
  if (action == orvexa::ExperimentStart)
    return Device(handle)->StartExperiment(experimentId, param);
  if (action == orvexa::ExperimentStop) return Device(handle)->StopExperiment(experimentId);
  return 1;
}
