// Test helpers for the Pinvane plug-in: the library loaded from the build folder with
// dlopen/dlsym (as the server loads it), one loaded instance that LDPDone's on scope
// exit, the tasks of this process (to find the reader thread and its CPU time), and a
// fake "Port selection" window the tests can script.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <set>
#include <string>

#include "host/device_channel.h"
#include "host/device_plugin.h"
#include "plugin_api/ldp_plugin.h"

extern "C" {
typedef int (*PinvanePortDialog)(int32_t* portIndex, char* portPath, int32_t pathCapacity);
typedef void (*PinvaneMessageBox)(const char* text, const char* caption);
}

namespace orvexa::test {

struct PinvaneLibrary {
  LDPInitFunction init = nullptr;
  LDPDoneFunction done = nullptr;
  LDPQueryInfoFunction queryInfo = nullptr;
  LDPConfigFunction config = nullptr;
  LDPMessageFunction message = nullptr;
  void (*setPortDialog)(PinvanePortDialog) = nullptr;
  void (*setMessageBox)(PinvaneMessageBox) = nullptr;
  void* optional[6] = {};  // the optional LDP entry points Pinvane must not export

  // Loaded once per process from ORVEXA_BUILD_DIR/Pinvane.ldp; fails the test when absent.
  static const PinvaneLibrary& Get();
};

// One instance bound by the server's own loader (DevicePlugin) with its three channel
// records; Unload (LDPDone) on destruction.
class PinvaneInstance {
 public:
  explicit PinvaneInstance(ConfigValue* section);
  ~PinvaneInstance() { Done(); }
  PinvaneInstance(const PinvaneInstance&) = delete;
  PinvaneInstance& operator=(const PinvaneInstance&) = delete;

  PluginHandle handle() const { return plugin_.Handle(); }
  int channelCount() const { return channelCount_; }
  const std::string& deviceName() const { return plugin_.DeviceName(); }
  const DeviceChannel& channel(int index) const { return channels_[index]; }
  float Input() const;
  float Output(int index) const;
  void Write(int index, float value) const;
  void Config(int what, ConfigValue* section) const;
  void Done() { plugin_.Unload(); }  // LDPDone once

 private:
  DevicePlugin plugin_;
  int channelCount_ = 0;
  mutable DeviceChannel channels_[3];
};

// Thread ids of this process.
std::set<pid_t> ProcessTasks();
// The single thread in `after` that is not in `before` and carries the reader's name
// ("pinvane-reader"), or -1. Other new threads (a sanitizer's own) are not counted.
pid_t NewTask(const std::set<pid_t>& before, const std::set<pid_t>& after);
// User plus system CPU time of one thread of this process, in seconds; -1 when gone.
double TaskCpuSeconds(pid_t tid);

// A scripted "Port selection" window: answers OK with the given choice, or Cancel.
void ScriptPortDialog(bool confirm, int32_t index, const std::string& path);
int PortDialogCalls();

}  // namespace orvexa::test
