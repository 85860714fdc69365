#include "host/device_registry.h"

#include <mutex>

#include "base/server_lock.h"
#include "config/config_access.h"
#include "config/configuration_store.h"
#include "config/kept_spellings.h"
#include "host/plugin_discovery.h"
#include "logging/fast_schedule.h"
#include "platform/clock.h"
#include "platform/lock_guard.h"
#include "platform/operator_report.h"
#include "platform/unique_lock.h"

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

// Start-up, before any other thread can reach the channels: the settings need no lock
// yet, which the analysis cannot know.
void DeviceRegistry::RegisterChannels(int slot, int count,
                                      const PluginHostContext& context) NO_THREAD_SAFETY_ANALYSIS {
  if (slot < 0 || slot >= pluginCount_) return;
  DevicePlugin& plugin = *plugins_[slot];
  tree_.plugins.push_back(DeviceTreePluginNode{plugin.deviceName, slot, {}});
  DeviceTreePluginNode& node = tree_.plugins.back();

  StructValue* orvexaConfig = context.config != nullptr ? context.config->OrvexaConfig() : nullptr;
  StructValue* settings = AsStruct(FindTyped(orvexaConfig, kLoggingInfoSection, ValueKind::Struct));
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

// Start-up, like RegisterChannels.
void DeviceRegistry::ApplyLoggingSettings(DeviceChannel& channel, StructValue* settings,
                                          const PluginHostContext& context,
                                          int64_t now) NO_THREAD_SAFETY_ANALYSIS {
  ConfigValue* entry = FindTyped(settings, channel.SettingsKey().c_str(), ValueKind::Struct);
  // Without an entry: logged under the channel's ID once enabled, off for now.
  const bool loggingEnabled = channel.LoadFrom(entry, channel.id);
  channel.nextLogTime = now;
  if (!loggingEnabled) return;
  // Registration runs before any copy is taken: a ".part" file is the remains of a copy
  // cut short when the server last stopped.
  IoResult cleared = LogFile::RemovePartialCopies(channel.logFile.fileName);
  if (!cleared.ok)
    ReportToOperator("Warning: unfinished copies of %s not removed: %s",
                     channel.logFile.fileName.c_str(), cleared.message.c_str());
  channel.logFile.Open(channel.alwaysReset, context.logCapacity);
}

bool DeviceRegistry::BroadcastMessage(int code, int arg,
                                      std::optional<std::chrono::milliseconds> wait) {
  UniqueLock hold(ServerLock(), std::defer_lock);
  if (!wait)
    hold.lock();
  else if (!hold.try_lock_for(*wait))
    return false;
  DevicePlugin* previous = nullptr;
  for (DeviceChannel& channel : channels_) {
    if (channel.owner != previous && channel.owner != nullptr) {
      channel.owner->SendPluginMessage(code, arg);
    }
    previous = channel.owner;
  }
  return true;
}

void DeviceRegistry::ConfigureSelected(const DeviceTreeSelection& selection,
                                       ConfigurationStore& config) {
  LockGuard hold(ServerLock());
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
