// The server's model of its hardware: the plug-in table (100 slots, used from 0 upwards
// in load order, never freed) and the channel sequence (a std::deque whose records never
// move; position p is channel number p + 1 for clients), plus the device tree shown by
// the operator window. The loggers walk the channels as a LoggedChannelList.
//
// Filled once on the main thread while the plug-ins load (no lock: nothing is served
// yet) and fixed afterwards. From then on ServerLock guards the plug-in calls and the
// per-channel logging state; BroadcastMessage and ConfigureSelected take it themselves,
// every other caller holds it. Owned by ServerState; destroyed after UnloadAll, the
// channel sequence before the plug-in table.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/device_channel.h"
#include "host/device_plugin.h"
#include "host/device_tree.h"
#include "host/experiment_stopped_hook.h"
#include "logging/log_record.h"
#include "logging/logged_channel_list.h"

namespace orvexa {

class ConfigurationStore;
class FastSchedule;
class StructValue;

// What loading and registration need from the rest of the server.
struct PluginHostContext {
  // OrvexaConfig (plug-in sections, LogingInfo) and the /config flag; null: no sections,
  // default logging settings.
  ConfigurationStore* config = nullptr;
  // Fast sampling groups for plug-in ticks and fast-logged channels; null: none.
  FastSchedule* schedule = nullptr;
  // Folder searched for *.ldp files; the server uses its working folder.
  std::string folder = ".";
  // Handed to every plug-in through LDPExperimentSetCallbacks.
  ExperimentStoppedCallback experimentStopped = HostExperimentStopped;
  // Records of every log file the registry opens (the server always uses kLogCapacity).
  uint32_t logCapacity = kLogCapacity;
  // Calendar time used as every channel's first next-log time; 0: the current time.
  int64_t now = 0;
};

class DeviceRegistry : public LoggedChannelList {
 public:
  static constexpr int kPluginSlots = 100;

  DeviceRegistry();
  ~DeviceRegistry();
  DeviceRegistry(const DeviceRegistry&) = delete;
  DeviceRegistry& operator=(const DeviceRegistry&) = delete;

  // Plug-in table.
  int PluginCount() const { return pluginCount_; }
  DevicePlugin& Plugin(int slot) { return *plugins_[slot]; }
  const DevicePlugin& Plugin(int slot) const { return *plugins_[slot]; }
  bool TableFull() const { return pluginCount_ >= kPluginSlots; }
  // Counts the next free slot and stores the file name in it; null when all are used.
  DevicePlugin* TakeSlot(const std::string& fileName);

  // Channel sequence.
  size_t ChannelCount() const override { return channels_.size(); }
  DeviceChannel& Channel(size_t index) { return channels_[index]; }
  LoggedChannel& LoggedChannelAt(size_t index) override { return channels_[index]; }
  const DeviceChannel& Channel(size_t index) const { return channels_[index]; }
  // The first channel with this ID, or null (IDs need not be unique).
  DeviceChannel* FindChannel(const std::string& id);
  // Empties the sequence and the tree (start of discovery).
  void ClearChannels();

  // Adds slot's tree node and registers its channels 1..count with their logging
  // settings from OrvexaConfig/LogingInfo (log files opened, fast-logged channels put in
  // their groups). A channel the plug-in rejects leaves no record; later ones close up.
  void RegisterChannels(int slot, int count, const PluginHostContext& context);

  // Sends LDPMessage(code, arg) once to each plug-in that has a registered channel, in
  // channel order. Takes ServerLock, waiting at most `wait` when one is given (shutdown:
  // a burst or a hung plug-in call must not hold it up); false, and nothing sent, when
  // the lock was not had in time.
  bool BroadcastMessage(int code, int arg,
                        std::optional<std::chrono::milliseconds> wait = std::nullopt);
  // "Configure selected": LDPConfig with the plug-in dialog code for a plug-in node, with
  // the channel's configure code for a channel node, handing over the plug-in's section
  // (created when missing). Takes ServerLock for the whole call.
  void ConfigureSelected(const DeviceTreeSelection& selection, ConfigurationStore& config);
  // LDPDone for every loaded plug-in, in slot order (shutdown, after the timer threads
  // have ended).
  void UnloadAll();

  const DeviceTree& Tree() const { return tree_; }
  // One line per slot: "Plug-in <file>: <device name> [<id1>, <id2>, ...]".
  std::vector<std::string> SummaryLines() const;

 private:
  void ApplyLoggingSettings(DeviceChannel& channel, StructValue* settings,
                            const PluginHostContext& context, int64_t now);

  std::array<std::unique_ptr<DevicePlugin>, kPluginSlots> plugins_;
  int pluginCount_ = 0;
  std::deque<DeviceChannel> channels_;
  DeviceTree tree_;
};

}  // namespace orvexa
