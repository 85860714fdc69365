#include "host/device_registry.h"

#include <mutex>

#include "app/server_lock.h"
#include "config/config_access.h"
#include "config/configuration_store.h"
#include "host/plugin_discovery.h"
#include "logging/fast_schedule.h"
#include "platform/clock.h"

namespace orvexa {

DeviceRegistry::DeviceRegistry() {
  for (auto& slot : plugins_) slot = std::make_unique<DevicePlugin>();
}

DeviceRegistry::~DeviceRegistry() {
  // Channel records (and their log files) go first; the plug-in records after them.
  tree_.plugins.clear();
  channels_.clear();
  for (auto& slot : plugins_) slot.reset();
}

DevicePlugin* DeviceRegistry::TakeSlot(const std::string& fileName) {
  if (TableFull()) return nullptr;
  DevicePlugin* plugin = plugins_[pluginCount_++].get();
  plugin->fileName = fileName;
  return plugin;
}

DeviceChannel* DeviceRegistry::FindChannel(const std::string& id) {
  for (DeviceChannel& channel : channels_) {
    if (channel.id == id) return &channel;
  }
  return nullptr;
}

void DeviceRegistry::ClearChannels() {
  tree_.plugins.clear();
  channels_.clear();
}

void DeviceRegistry::RegisterChannels(int slot, int count, const PluginHostContext& context) {
  if (slot < 0 || slot >= pluginCount_) return;
  DevicePlugin& plugin = *plugins_[slot];
  tree_.plugins.push_back(DeviceTreePluginNode{plugin.deviceName, slot, {}});
  DeviceTreePluginNode& node = tree_.plugins.back();

  StructValue* orvexaConfig = context.config != nullptr ? context.config->OrvexaConfig() : nullptr;
  StructValue* settings = AsStruct(FindTyped(orvexaConfig, "LogingInfo", ValueKind::Struct));
  int64_t now = context.now != 0 ? context.now : CalendarSeconds();

  for (int number = 1; number <= count; ++number) {
    DeviceChannel temporary;
    if (!plugin.QueryChannel(number, temporary)) continue;
    channels_.push_back(std::move(temporary));
    DeviceChannel& channel = channels_.back();
    node.channels.push_back(DeviceTreeChannelNode{channel.name, &channel});
    ApplyLoggingSettings(channel, settings, context, now);
    if (channel.fastLogEnabled && context.schedule != nullptr) {
      context.schedule->AddChannelToGroup(&channel, channel.fastLogFrequency);
    }
  }
}

void DeviceRegistry::ApplyLoggingSettings(DeviceChannel& channel, StructValue* settings,
                                          const PluginHostContext& context, int64_t now) {
  ConfigValue* entry = FindTyped(settings, channel.SettingsKey().c_str(), ValueKind::Struct);
  channel.nextLogTime = now;
  if (entry == nullptr) {
    // Defaults: logged under the channel's ID once enabled, off for now.
    channel.logFile.fileName = channel.id;
    channel.logPeriod = 1;
    channel.alwaysReset = false;
    channel.logFile.lastReplication = 0;
    channel.logFile.replicationPeriod = 0;
    channel.fastLogEnabled = false;
    channel.fastLogFrequency = 100;
    channel.fastLogSize = 10000;
    return;
  }
  // A stored entry without a file name falls back to the same default as a channel
  // without an entry, rather than to a nameless file.
  channel.logFile.fileName = GetString(entry, "LogFileName", channel.id.c_str());
  channel.logPeriod = GetInt(entry, "TimeBetweenLogs", 1);
  channel.alwaysReset = GetBool(entry, "AlwaysReset", false);
  bool loggingEnabled = GetBool(entry, "LogingEnabled", false);
  channel.logFile.lastReplication = GetInt(entry, "LastLogReplicationDate", 0);
  // Hours in the file, seconds in memory. A negative period would make every pass copy
  // the whole log; it means "never", like 0.
  int64_t hours = GetInt(entry, "TimeBetweenReplications", 0);
  channel.logFile.replicationPeriod = hours > 0 ? hours * 3600 : 0;
  channel.nextLogTime = now;
  if (loggingEnabled) channel.logFile.Open(channel.alwaysReset, context.logCapacity);
  channel.fastLogEnabled = GetBool(entry, "FastLogEnabled", false);
  channel.fastLogFrequency = GetInt(entry, "FastLogFreq", 100);
  channel.fastLogSize = GetInt(entry, "FastLogSize", 10000);
}

void DeviceRegistry::BroadcastMessage(int code, int arg) {
  std::lock_guard<std::recursive_mutex> hold(ServerLock());
  DevicePlugin* previous = nullptr;
  for (DeviceChannel& channel : channels_) {
    if (channel.owner != previous && channel.owner != nullptr) {
      channel.owner->SendPluginMessage(code, arg);
    }
    previous = channel.owner;
  }
}

void DeviceRegistry::ConfigureSelected(const DeviceTreeSelection& selection,
                                       ConfigurationStore& config) {
  std::lock_guard<std::recursive_mutex> hold(ServerLock());
  DevicePlugin* plugin = nullptr;
  int what = ConfigPluginDialog;
  if (selection.kind == DeviceTreeSelection::Kind::Plugin) {
    if (selection.slot < 0 || selection.slot >= pluginCount_) return;
    plugin = plugins_[selection.slot].get();
  } else if (selection.kind == DeviceTreeSelection::Kind::Channel) {
    if (selection.channel == nullptr || selection.channel->owner == nullptr) return;
    plugin = selection.channel->owner;
    what = selection.channel->configureCode;
  } else {
    return;
  }
  StructValue* section = FindPluginSection(config.OrvexaConfig(), plugin->fileName, true);
  if (section != nullptr) plugin->Configure(what, section);
}

void DeviceRegistry::UnloadAll() {
  for (int slot = 0; slot < pluginCount_; ++slot) plugins_[slot]->Unload();
}

std::vector<std::string> DeviceRegistry::SummaryLines() const {
  std::vector<std::string> lines;
  for (int slot = 0; slot < pluginCount_; ++slot) {
    const DevicePlugin& plugin = *plugins_[slot];
    std::string line = "Plug-in " + plugin.fileName + ": " + plugin.deviceName + " [";
    bool first = true;
    for (const DeviceChannel& channel : channels_) {
      if (channel.owner != &plugin) continue;
      if (!first) line += ", ";
      line += channel.id;
      first = false;
    }
    line += "]";
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace orvexa
