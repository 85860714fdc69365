#include "logging/periodic_logger.h"

#include <mutex>
#include <optional>
#include <vector>

#include "base/server_lock.h"
#include "config/config_access.h"
#include "config/configuration_store.h"
#include "config/kept_spellings.h"
#include "logging/logged_channel_list.h"
#include "platform/lock_guard.h"
#include "platform/operator_report.h"
#include "platform/unique_lock.h"

namespace orvexa {

namespace {

// Writes every channel's logging settings into the configuration tree (the tree is the
// main thread's; the settings are ServerLock's). False when the
// configuration has no OrvexaConfig section.
bool StoreLoggingSettings(LoggedChannelList& channels, ConfigurationStore& config)
    REQUIRES(ServerLock()) {
  StructValue* orvexaConfig = config.OrvexaConfig();
  if (orvexaConfig == nullptr) return false;
  ConfigValue* loggingInfo = FindOrCreate(orvexaConfig, kLoggingInfoSection, ValueKind::Struct);
  if (loggingInfo == nullptr) return false;
  for (size_t index = 0; index < channels.ChannelCount(); ++index) {
    const LoggedChannel& channel = channels.LoggedChannelAt(index);
    ConfigValue* entry =
        FindOrCreate(loggingInfo, channel.SettingsKey().c_str(), ValueKind::Struct);
    if (entry == nullptr) continue;
    channel.StoreInto(entry);
  }
  return true;
}

}  // namespace

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
    UniqueLock<PriorityInheritanceMutex> hold(ServerLock(), std::defer_lock);
    if (!hold.try_lock_for(kMainThreadLockWait)) return false;
    const bool stored = StoreLoggingSettings(channels_, *config_);
    hold.unlock();
    // Writing the file waits for the disk (fsync): never under ServerLock.
    if (stored) config_->Save();
  }
  pending_.stage = Stage::kDone;
  return true;
}

bool PeriodicLogger::PeriodicLogPass(int64_t now) {
  Pass pass{now, Stage::kAppend, false};
  Continue(pass, true);
  return pass.copied;
}

bool PeriodicLogger::Continue(Pass& pass, bool wait) {
  if (pass.stage == Stage::kAppend && !AppendStep(pass, wait)) return false;
  if (pass.stage == Stage::kCopy && !CopyStep(pass, wait)) return false;
  return true;
}

bool PeriodicLogger::AppendStep(Pass& pass, bool wait) {
  const int64_t now = pass.now;
  struct Due {
    LogFile* logFile;
    float value;
  };
  std::vector<Due> due;
  {
    // ServerLock, waited for only briefly when the caller must not wait.
    UniqueLock<PriorityInheritanceMutex> hold(ServerLock(), std::defer_lock);
    if (wait)
      hold.lock();
    else if (!hold.try_lock_for(kMainThreadLockWait))
      return false;
    const size_t count = channels_.ChannelCount();
    for (size_t index = 0; index < count; ++index) {
      LoggedChannel& channel = channels_.LoggedChannelAt(index);
      if (now <= channel.nextLogTime) continue;
      // One grid step per pass: the record's time is the pass's, the grid stays fixed.
      channel.nextLogTime += channel.logPeriod;
      if (!channel.logFile.IsOpen()) continue;
      due.push_back({&channel.logFile, channel.Read(0)});
    }
  }
  // The appends wait for each log's lock, which a history reader may hold for its whole
  // search, and the flush waits for the disk: both run without ServerLock, so the fast
  // sampler and the clients never wait behind them. Log files are opened, closed and
  // appended to on this thread only, so none can go away meanwhile; readers on other
  // threads only read the mapping under its lock.
  for (const Due& d : due) d.logFile->Append(static_cast<uint32_t>(now), d.value);
  for (const Due& d : due) d.logFile->Flush();
  pass.stage = Stage::kCopy;
  return true;
}

bool PeriodicLogger::CopyStep(Pass& pass, bool wait) {
  const int64_t now = pass.now;
  UniqueLock<PriorityInheritanceMutex> hold(ServerLock(), std::defer_lock);
  if (wait)
    hold.lock();
  else if (!hold.try_lock_for(kMainThreadLockWait))
    return false;
  const bool copied = CollectCopies();
  // Starting a copy only fixes its instant (a moment under the log lock); the copier's
  // thread writes it, and removes the copies beyond MaxLogCopies once it is complete.
  const size_t count = channels_.ChannelCount();
  for (size_t index = 0; index < count; ++index) {
    LogFile& logFile = channels_.LoggedChannelAt(index).logFile;
    if (!logFile.CopyDue(now) || copier_.Busy(&logFile)) continue;
    std::optional<LogCopy> copy = logFile.StartCopy(now);
    if (copy) copier_.Submit(&logFile, std::move(*copy), logFile.fileName, maxLogCopies_);
  }
  pass.copied = copied;
  pass.stage = copied ? Stage::kSave : Stage::kDone;
  return true;
}

bool PeriodicLogger::CollectCopies() {
  bool copied = false;
  for (LogCopier::Outcome& outcome : copier_.TakeFinished()) {
    if (!outcome.result.ok) {
      // lastReplication stays, so the copy is started again on the next pass; a log whose
      // copies keep failing is reported once, not every second.
      if (failingCopies_.insert(outcome.log).second)
        ReportToOperator("Warning: log copy %s not taken: %s", outcome.target.c_str(),
                         outcome.result.message.c_str());
      continue;
    }
    failingCopies_.erase(outcome.log);
    // Log files never move while the server runs: the key still names the same channel.
    for (size_t index = 0; index < channels_.ChannelCount(); ++index) {
      LogFile& logFile = channels_.LoggedChannelAt(index).logFile;
      if (&logFile != outcome.log) continue;
      logFile.lastReplication = outcome.time;
      copied = true;
    }
  }
  return copied;
}

bool PeriodicLogger::FinishCopies() {
  copier_.WaitIdle();
  bool copied = false;
  {
    LockGuard hold(ServerLock());
    copied = CollectCopies();
  }
  if (copied && config_ != nullptr) SaveLoggingSettings(channels_, *config_);
  return copied;
}

void PeriodicLogger::StopCopies(std::chrono::milliseconds deviceWait) {
  copier_.Stop();
  UniqueLock hold(ServerLock(), std::defer_lock);
  if (!hold.try_lock_for(deviceWait)) return;
  FinishCopies();  // takes the (recursive) lock again
}

bool SaveLoggingSettings(LoggedChannelList& channels, ConfigurationStore& config) {
  bool stored = false;
  {
    LockGuard hold(ServerLock());
    stored = StoreLoggingSettings(channels, config);
  }
  // Writing the file waits for the disk (fsync): never under ServerLock.
  return stored && config.Save().ok;
}

}  // namespace orvexa
