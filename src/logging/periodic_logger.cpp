#include "logging/periodic_logger.h"

#include <cstdio>
#include <mutex>
#include <vector>

#include "base/server_lock.h"
#include "config/config_access.h"
#include "config/configuration_store.h"
#include "logging/logged_channel_list.h"

namespace orvexa {

PeriodicLogger::PeriodicLogger(LoggedChannelList& channels, ConfigurationStore* config,
                               std::function<int64_t()> now)
    : channels_(channels), config_(config), now_(std::move(now)) {}

void PeriodicLogger::Tick() {
  if (PeriodicLogPass(now_()) && config_ != nullptr) SaveLoggingSettings(channels_, *config_);
}

bool PeriodicLogger::TryTick(int64_t now) {
  if (pending_.stage == Stage::kDone) pending_ = Pass{now, Stage::kAppend, false};
  if (!Continue(pending_, false)) return false;
  if (pending_.stage == Stage::kSave && config_ != nullptr) {
    std::unique_lock<std::recursive_mutex> hold(ServerLock(), std::try_to_lock);
    if (!hold.owns_lock()) return false;
    SaveLoggingSettings(channels_, *config_);
  }
  pending_.stage = Stage::kDone;
  return true;
}

bool PeriodicLogger::PeriodicLogPass(int64_t now) {
  Pass pass{now, Stage::kAppend, false};
  Continue(pass, true);
  return pass.copied;
}

namespace {

// Takes ServerLock, or only tries it when the caller must not wait.
bool Take(std::unique_lock<std::recursive_mutex>& hold, bool wait) {
  if (!wait) return hold.try_lock();
  hold.lock();
  return true;
}

}  // namespace

bool PeriodicLogger::Continue(Pass& pass, bool wait) {
  if (pass.stage == Stage::kAppend && !AppendStep(pass, wait)) return false;
  if (pass.stage == Stage::kCopy && !CopyStep(pass, wait)) return false;
  return true;
}

bool PeriodicLogger::AppendStep(Pass& pass, bool wait) {
  const int64_t now = pass.now;
  std::vector<LogFile*> appended;
  {
    std::unique_lock<std::recursive_mutex> hold(ServerLock(), std::defer_lock);
    if (!Take(hold, wait)) return false;
    const size_t count = channels_.ChannelCount();
    for (size_t index = 0; index < count; ++index) {
      LoggedChannel& channel = channels_.LoggedChannelAt(index);
      if (now <= channel.nextLogTime) continue;
      // One grid step per pass: the record's time is the pass's, the grid stays fixed.
      channel.nextLogTime += channel.logPeriod;
      if (!channel.logFile.IsOpen()) continue;
      const float value = channel.Read(0);
      channel.logFile.Append(static_cast<uint32_t>(now), value);
      appended.push_back(&channel.logFile);
    }
  }
  // The flush waits for the disk, which a busy disk can stretch to most of a second: it
  // runs without ServerLock, so the fast sampler and the clients go on meanwhile. Log
  // files are opened, closed and appended to on this thread only, so none can go away
  // under it; readers on other threads only read the mapping.
  for (LogFile* logFile : appended) logFile->Flush();
  pass.stage = Stage::kCopy;
  return true;
}

bool PeriodicLogger::CopyStep(Pass& pass, bool wait) {
  const int64_t now = pass.now;
  std::unique_lock<std::recursive_mutex> hold(ServerLock(), std::defer_lock);
  if (!Take(hold, wait)) return false;
  const size_t count = channels_.ChannelCount();
  bool copied = false;
  for (size_t index = 0; index < count; ++index) {
    LogFile& logFile = channels_.LoggedChannelAt(index).logFile;
    if (!logFile.ReplicateAt(now)) continue;
    copied = true;
    IoResult pruned =
        LogFile::RemoveOldCopies(logFile.fileName, maxLogCopies_, logFile.CopyName(now));
    if (!pruned.ok)
      std::fprintf(stderr, "Warning: old copies of %s not removed: %s\n", logFile.fileName.c_str(),
                   pruned.message.c_str());
  }
  pass.copied = copied;
  pass.stage = copied ? Stage::kSave : Stage::kDone;
  return true;
}

bool SaveLoggingSettings(LoggedChannelList& channels, ConfigurationStore& config) {
  std::lock_guard<std::recursive_mutex> hold(ServerLock());
  StructValue* orvexaConfig = config.OrvexaConfig();
  if (orvexaConfig == nullptr) return false;
  ConfigValue* loggingInfo = FindOrCreate(orvexaConfig, "LogingInfo", ValueKind::Struct);
  if (loggingInfo == nullptr) return false;
  for (size_t index = 0; index < channels.ChannelCount(); ++index) {
    const LoggedChannel& channel = channels.LoggedChannelAt(index);
    ConfigValue* entry =
        FindOrCreate(loggingInfo, channel.SettingsKey().c_str(), ValueKind::Struct);
    if (entry == nullptr) continue;
    channel.StoreInto(entry);
  }
  return config.Save();
}

}  // namespace orvexa
