#include "logging/channel_log.h"

#include "config/config_access.h"
#include "config/kept_spellings.h"

namespace orvexa {

bool ChannelLog::LoadFrom(ConfigValue* entry, const std::string& defaultFileName) {
  logFile.fileName = GetString(entry, "LogFileName", defaultFileName.c_str());
  logPeriod = GetInt(entry, "TimeBetweenLogs", 1);
  alwaysReset = GetBool(entry, "AlwaysReset", false);
  const bool loggingEnabled = GetBool(entry, kLoggingEnabledKey, false);
  logFile.lastReplication = GetInt(entry, "LastLogReplicationDate", 0);
  SetReplicationHours(GetInt(entry, "TimeBetweenReplications", 0));
  SetFastLogEnabled(GetBool(entry, "FastLogEnabled", false));
  fastLogFrequency = GetInt(entry, "FastLogFreq", 100);
  fastLogSize = GetInt(entry, "FastLogSize", 10000);
  return loggingEnabled;
}

void ChannelLog::StoreInto(ConfigValue* entry) const {
  SetString(entry, "LogFileName", logFile.fileName.c_str());
  SetBool(entry, "AlwaysReset", alwaysReset);
  SetBool(entry, kLoggingEnabledKey, logFile.IsOpen());
  SetInt(entry, "LastLogReplicationDate", static_cast<int32_t>(logFile.lastReplication));
  SetInt(entry, "TimeBetweenReplications", static_cast<int32_t>(ReplicationHours()));
  SetInt(entry, "TimeBetweenLogs", logPeriod);
  SetBool(entry, "FastLogEnabled", FastLogEnabled());
  SetInt(entry, "FastLogFreq", fastLogFrequency);
  SetInt(entry, "FastLogSize", fastLogSize);
}

}  // namespace orvexa
