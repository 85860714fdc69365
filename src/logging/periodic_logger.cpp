#include "logging/periodic_logger.h"

#include <mutex>

#include "app/server_lock.h"
#include "config/config_access.h"
#include "config/configuration_store.h"
#include "host/device_registry.h"

namespace orvexa {

PeriodicLogger::PeriodicLogger(DeviceRegistry& registry, ConfigurationStore* config,
                               std::function<int64_t()> now)
    : registry_(registry), config_(config), now_(std::move(now)) {}

void PeriodicLogger::Tick() {
  if (PeriodicLogPass(now_()) && config_ != nullptr) SaveLoggingSettings(registry_, *config_);
}

bool PeriodicLogger::PeriodicLogPass(int64_t now) {
  std::lock_guard<std::recursive_mutex> hold(ServerLock());
  const size_t count = registry_.ChannelCount();
  for (size_t index = 0; index < count; ++index) {
    DeviceChannel& channel = registry_.Channel(index);
    if (now <= channel.nextLogTime) continue;
    // One grid step per pass: the record's time is the pass's, the grid stays fixed.
    channel.nextLogTime += channel.logPeriod;
    if (!channel.logFile.IsOpen()) continue;
    const float value = channel.Read(0);
    channel.logFile.Append(static_cast<uint32_t>(now), value);
    channel.logFile.Flush();
  }
  bool copied = false;
  for (size_t index = 0; index < count; ++index) {
    if (registry_.Channel(index).logFile.ReplicateAt(now)) copied = true;
  }
  return copied;
}

bool SaveLoggingSettings(DeviceRegistry& registry, ConfigurationStore& config) {
  std::lock_guard<std::recursive_mutex> hold(ServerLock());
  StructValue* orvexaConfig = config.OrvexaConfig();
  if (orvexaConfig == nullptr) return false;
  ConfigValue* loggingInfo = FindOrCreate(orvexaConfig, "LogingInfo", ValueKind::Struct);
  if (loggingInfo == nullptr) return false;
  for (size_t index = 0; index < registry.ChannelCount(); ++index) {
    const DeviceChannel& channel = registry.Channel(index);
    ConfigValue* entry =
        FindOrCreate(loggingInfo, channel.SettingsKey().c_str(), ValueKind::Struct);
    if (entry == nullptr) continue;
    SetString(entry, "LogFileName", channel.logFile.fileName.c_str());
    SetBool(entry, "AlwaysReset", channel.alwaysReset);
    SetBool(entry, "LogingEnabled", channel.logFile.IsOpen());
    SetInt(entry, "LastLogReplicationDate", static_cast<int32_t>(channel.logFile.lastReplication));
    SetInt(entry, "TimeBetweenReplications",
           static_cast<int32_t>(channel.logFile.replicationPeriod / 3600));
    SetInt(entry, "TimeBetweenLogs", channel.logPeriod);
    SetBool(entry, "FastLogEnabled", channel.fastLogEnabled);
    SetInt(entry, "FastLogFreq", channel.fastLogFrequency);
    SetInt(entry, "FastLogSize", channel.fastLogSize);
  }
  return config.Save();
}

}  // namespace orvexa
