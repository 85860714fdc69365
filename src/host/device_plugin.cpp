#include "host/device_plugin.h"

#include "base/server_lock.h"
#include "host/device_channel.h"
#include "platform/lock_guard.h"

namespace orvexa {

namespace {

// Boolean results: only the lowest byte of the returned int counts.
bool AsBoolean(int result) {
  return (result & 0xFF) != 0;
}

template <typename Function>
Function Resolve(const DynamicLibrary& module, const char* name) {
  return reinterpret_cast<Function>(module.Symbol(name));
}

}  // namespace

DevicePlugin::~DevicePlugin() {
  Unload();
}

// Discovery at start-up: nothing is served yet, so no ServerLock, which the analysis
// cannot know.
int DevicePlugin::Bind(const DynamicLibrary& module, ConfigValue* section,
                       ExperimentStoppedCallback callback) NO_THREAD_SAFETY_ANALYSIS {
  loaded_ = false;
  this->module = DynamicLibrary();
  init = Resolve<LDPInitFunction>(module, "LDPInit");
  if (init == nullptr) return 0;
  done = Resolve<LDPDoneFunction>(module, "LDPDone");
  if (done == nullptr) return 0;
  queryInfo = Resolve<LDPQueryInfoFunction>(module, "LDPQueryInfo");
  if (queryInfo == nullptr) return 0;
  config = Resolve<LDPConfigFunction>(module, "LDPConfig");
  message = Resolve<LDPMessageFunction>(module, "LDPMessage");
  queryPluginInfo = Resolve<LDPQueryPluginInfoFunction>(module, "LDPQueryPluginInfo");
  burstSupported = Resolve<LDPBurstSupportedFunction>(module, "LDPBurstSupported");
  burstRecord = Resolve<LDPBurstRecordFunction>(module, "LDPBurstRecord");
  burstFree = Resolve<LDPBurstFreeFunction>(module, "LDPBurstFree");
  experiment = Resolve<LDPExperimentFunction>(module, "LDPExperiment");
  experimentSetCallbacks =
      Resolve<LDPExperimentSetCallbacksFunction>(module, "LDPExperimentSetCallbacks");
  if (experimentSetCallbacks != nullptr) experimentSetCallbacks(callback);
  this->module = module;
  loaded_ = true;
  const char* name = nullptr;
  int count = init(&handle, &name, section);
  deviceName = name != nullptr ? name : "Unknown";
  return count;
}

void DevicePlugin::Unload() {
  if (!LoadedForMainThread()) return;
  // No host thread may be inside the plug-in while its instance is released, and none
  // may enter it afterwards: every operation checks loaded_ under the same lock.
  LockGuard hold(ServerLock());
  if (!loaded_) return;
  loaded_ = false;
  done(handle);
}

void DevicePlugin::Configure(int what, ConfigValue* section) {
  if (loaded_ && config != nullptr && section != nullptr) config(handle, what, section);
}

void DevicePlugin::SendPluginMessage(int code, int arg) {
  if (loaded_ && message != nullptr) message(handle, code, arg);
}

bool DevicePlugin::QueryPluginInfo(int what, void* out) {
  if (!loaded_ || queryPluginInfo == nullptr) return false;
  return AsBoolean(queryPluginInfo(handle, what, out));
}

uint32_t DevicePlugin::TickFrequency() {
  uint32_t frequency = 0;
  if (!QueryPluginInfo(PluginInfoTickFrequency, &frequency)) return 0;
  return frequency;
}

bool DevicePlugin::BurstSupported(const char* name) {
  if (!loaded_ || burstSupported == nullptr) return false;
  return AsBoolean(burstSupported(handle, name));
}

int DevicePlugin::BurstRecord(BurstSample** samplesOut, const char* name, uint32_t duration) {
  *samplesOut = nullptr;
  if (!loaded_ || burstRecord == nullptr) return -1;
  return burstRecord(handle, samplesOut, name, duration, 0, 0);
}

void DevicePlugin::BurstFree(BurstSample* samples) {
  // A plug-in that records bursts without exporting LDPBurstFree keeps its array: the
  // host must not call what is not there. After LDPDone the array is no longer ours to
  // hand back either.
  if (loaded_ && burstFree != nullptr && samples != nullptr) burstFree(samples);
}

bool DevicePlugin::StartExperiment(uint32_t experimentId, uint32_t param) {
  if (!loaded_ || experiment == nullptr) return true;
  return AsBoolean(experiment(handle, ExperimentStart, experimentId, param));
}

bool DevicePlugin::StopExperiment(uint32_t experimentId) {
  if (!loaded_ || experiment == nullptr) return true;
  return AsBoolean(experiment(handle, ExperimentStop, experimentId, 0));
}

// Discovery at start-up, like Bind.
bool DevicePlugin::QueryChannel(int number, DeviceChannel& channel) NO_THREAD_SAFETY_ANALYSIS {
  if (!loaded_) return false;
  channel.owner = this;
  const char* name = nullptr;
  const char* description = nullptr;
  int result = queryInfo(handle, number, &name, &description, &channel.readFunction,
                         &channel.readParam, &channel.writeFunction, &channel.writeParam);
  if (result == 0 || name == nullptr) return false;
  channel.name = name;
  channel.id = deviceName + "_" + channel.name;
  channel.description = description != nullptr ? description : "";
  channel.readable = channel.readFunction != nullptr;
  channel.writable = channel.writeFunction != nullptr;
  // The plug-in's own number for the channel; never -1 (ConfigStoreOnly) or 0 (the
  // plug-in dialog), since channels are numbered from 1.
  channel.configureCode = number;
  return true;
}

}  // namespace orvexa
