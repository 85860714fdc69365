// One slot of the plug-in table: the host's record of one .ldp file, its resolved entry
// points and the instance handle that LDPInit created. Every call into a plug-in goes
// through here; each operation is a no-op (or returns the contract's default) when the
// entry point it needs is missing or the plug-in is not loaded, so nothing ever calls a
// null pointer or a plug-in after its LDPDone.
//
// Threads: Bind runs on the main thread during discovery (no lock, nothing is served
// yet); Unload on the main thread at shutdown, taking ServerLock so that no worker is
// inside the plug-in meanwhile; every other operation REQUIRES ServerLock (client
// workers, the one-second tick, the fast sampler, the window).
#pragma once

#include <cstdint>
#include <string>

#include "base/server_lock.h"
#include "logging/tick_receiver.h"
#include "platform/dynamic_library.h"
#include "plugin_api/ldp_plugin.h"

namespace orvexa {

class DeviceChannel;

class DevicePlugin : public TickReceiver {
 public:
  DevicePlugin() = default;
  virtual ~DevicePlugin();  // performs Unload
  DevicePlugin(const DevicePlugin&) = delete;
  DevicePlugin& operator=(const DevicePlugin&) = delete;

  // Resolves the entry points of `module`, hands the plug-in the host's experiment-
  // stopped callback, marks the plug-in loaded and calls LDPInit with `section` (null
  // with /config or when nothing is stored yet). Returns the channel count LDPInit gave,
  // or 0 when LDPInit, LDPDone or LDPQueryInfo is missing (the plug-in then stays
  // unloaded and is never called). The device name becomes "Unknown" when LDPInit gives
  // none.
  int Bind(const DynamicLibrary& module, ConfigValue* section, ExperimentStoppedCallback callback);
  // When loaded: marks the plug-in unloaded, then LDPDone. Afterwards nothing reaches it.
  void Unload();
  // LDPConfig(handle, what, section). section must be non-null.
  void Configure(int what, ConfigValue* section) REQUIRES(ServerLock());
  // LDPMessage(handle, code, arg).
  void SendPluginMessage(int code, int arg) REQUIRES(ServerLock());
  // SendPluginMessage(MessageTick, 0): the fast schedule's tick.
  void SendTick() override REQUIRES(ServerLock()) { SendPluginMessage(MessageTick, 0); }
  // LDPQueryPluginInfo(handle, what, out); false when absent.
  bool QueryPluginInfo(int what, void* out) REQUIRES(ServerLock());
  // The frequency (Hz) at which the plug-in wants MessageTick, 0 for none.
  uint32_t TickFrequency() REQUIRES(ServerLock());
  // LDPBurstSupported(handle, name); false when absent.
  bool BurstSupported(const char* name) REQUIRES(ServerLock());
  // Presets *samplesOut to null, then LDPBurstRecord(handle, samplesOut, name, duration,
  // 0, 0). The sample count, negative on failure; -1 when absent. When the result is 0 or
  // more and *samplesOut is non-null, the caller copies the samples and hands the array
  // back exactly once through BurstFree.
  int BurstRecord(BurstSample** samplesOut, const char* name, uint32_t duration)
      REQUIRES(ServerLock());
  // LDPBurstFree(samples); nothing when the plug-in does not export it (the array is then
  // the plug-in's to manage) or when samples is null.
  void BurstFree(BurstSample* samples) REQUIRES(ServerLock());
  // LDPExperiment(handle, ExperimentStart, id, param); true when absent.
  bool StartExperiment(uint32_t experimentId, uint32_t param) REQUIRES(ServerLock());
  // LDPExperiment(handle, ExperimentStop, id, 0); true when absent.
  bool StopExperiment(uint32_t experimentId) REQUIRES(ServerLock());
  // Describes channel `number` into `channel` (owner, texts, functions, parameters,
  // configure code). False when not loaded, when LDPQueryInfo answers 0 or gives no name.
  bool QueryChannel(int number, DeviceChannel& channel);

  bool IsLoaded() const REQUIRES(ServerLock()) { return loaded_; }
  const std::string& DeviceName() const { return deviceName; }
  PluginHandle Handle() const { return handle; }

  // Entry points in binding order; null until resolved, null when not exported.
  LDPInitFunction init = nullptr;
  LDPDoneFunction done = nullptr;
  LDPQueryInfoFunction queryInfo = nullptr;
  LDPConfigFunction config = nullptr;
  LDPMessageFunction message = nullptr;
  LDPQueryPluginInfoFunction queryPluginInfo = nullptr;
  LDPBurstSupportedFunction burstSupported = nullptr;
  LDPBurstRecordFunction burstRecord = nullptr;
  LDPBurstFreeFunction burstFree = nullptr;
  LDPExperimentFunction experiment = nullptr;
  LDPExperimentSetCallbacksFunction experimentSetCallbacks = nullptr;

  // The instance LDPInit stored; passed back unchanged, null included.
  PluginHandle handle = nullptr;
  // The file name as the folder listing gave it; also the key of its settings section.
  std::string fileName;
  // The library; never closed (libraries stay mapped until the process ends).
  DynamicLibrary module;
  // The name LDPInit gave, "Unknown" when none, "" when binding failed.
  std::string deviceName;

 private:
  // loaded_ without the lock, for the main thread, its only writer (which the analysis
  // cannot know).
  bool LoadedForMainThread() const NO_THREAD_SAFETY_ANALYSIS { return loaded_; }

  // Written by the main thread alone: at start-up (Bind) and, under ServerLock, by Unload.
  bool loaded_ GUARDED_BY(ServerLock()) = false;
};

}  // namespace orvexa
