#include "operator/log_settings_controller.h"

#include "base/server_lock.h"
#include "host/device_channel.h"
#include "logging/fast_schedule.h"
#include "platform/lock_guard.h"

namespace orvexa {
namespace {

uint32_t Unsigned(int64_t value) {
  if (value < 0) return 0;
  if (value > UINT32_MAX) return UINT32_MAX;
  return static_cast<uint32_t>(value);
}

}  // namespace

LogDialogRange LogSettingsController::RangeOf(LogDialogField field) {
  switch (field) {
    case LogDialogField::MeasureInterval:
      return {field, 1, 1000000};
    case LogDialogField::BackupHours:
      return {field, 0, 8760};
    case LogDialogField::FastFrequency:
      return {field, 1, 3000};
    case LogDialogField::FastSize:
      return {field, 1, 100000};
  }
  return {field, 0, 0};
}

std::optional<LogDialogRangeError> LogSettingsController::CheckRanges(
    const LogDialogValues& values) {
  const std::pair<LogDialogField, uint32_t> fields[] = {
      {LogDialogField::MeasureInterval, values.measureInterval},
      {LogDialogField::BackupHours, values.backupHours},
      {LogDialogField::FastFrequency, values.fastFrequency},
      {LogDialogField::FastSize, values.fastSize},
  };
  for (const auto& [field, value] : fields) {
    LogDialogRange range = RangeOf(field);
    if (value < range.min || value > range.max) {
      return LogDialogRangeError{field, "Please enter an integer between " +
                                            std::to_string(range.min) + " and " +
                                            std::to_string(range.max) + "."};
    }
  }
  return std::nullopt;
}

LogDialogValues LogSettingsController::FillFrom(const ChannelLog& channel) {
  LogDialogValues values;
  values.loggingEnabled = channel.logFile.IsOpen();
  values.logFile = channel.logFile.fileName;
  values.measureInterval = Unsigned(channel.logPeriod);
  values.resetOnStart = channel.alwaysReset;
  values.backupHours = Unsigned(channel.ReplicationHours());
  values.fastLogging = channel.FastLogEnabled();
  values.fastFrequency = Unsigned(channel.fastLogFrequency);
  values.fastSize = Unsigned(channel.fastLogSize);
  return values;
}

void LogSettingsController::ApplyTo(LoggedChannel& channel, const LogDialogValues& values,
                                    FastSchedule& schedule, uint32_t logCapacity) {
  const bool fastWasOn = channel.FastLogEnabled();
  const int32_t oldFrequency = channel.fastLogFrequency;

  if (!values.loggingEnabled && channel.logFile.IsOpen()) channel.logFile.Close();

  // The dialog's ranges keep every number within the channel's 32-bit fields.
  channel.logPeriod = static_cast<int32_t>(values.measureInterval);
  channel.alwaysReset = values.resetOnStart;
  channel.SetReplicationHours(values.backupHours);
  channel.SetFastLogEnabled(values.fastLogging);  // fast-sample requests read it too
  channel.fastLogFrequency = static_cast<int32_t>(values.fastFrequency);
  channel.fastLogSize = static_cast<int32_t>(values.fastSize);

  if (values.logFile != channel.logFile.fileName) {
    channel.logFile.Close();
    channel.logFile.fileName = values.logFile;
  }
  if (values.loggingEnabled && !channel.logFile.IsOpen())
    channel.logFile.Open(channel.alwaysReset, logCapacity);

  if (fastWasOn != values.fastLogging) {
    if (fastWasOn) schedule.RemoveChannelFromGroup(&channel, oldFrequency);
    if (values.fastLogging) schedule.AddChannelToGroup(&channel, channel.fastLogFrequency);
  } else if (values.fastLogging && oldFrequency != channel.fastLogFrequency) {
    schedule.RemoveChannelFromGroup(&channel, oldFrequency);
    schedule.AddChannelToGroup(&channel, channel.fastLogFrequency);
  }
}

bool LogSettingsController::ConfigureLogForSelected(const DeviceTreeSelection& selection,
                                                    FastSchedule& schedule, const Dialog& dialog,
                                                    const Save& save, uint32_t logCapacity) {
  if (selection.kind == DeviceTreeSelection::Kind::None) return false;
  bool accepted = false;
  {
    LockGuard guard(ServerLock());
    DeviceChannel* channel =
        selection.kind == DeviceTreeSelection::Kind::Channel ? selection.channel : nullptr;
    if (channel != nullptr && dialog) {
      LogDialogValues values = FillFrom(*channel);
      // A dialog that let an out-of-range number through is not applied: the channel's
      // fields are 32-bit and the loggers rely on the ranges.
      if (dialog(values) && !CheckRanges(values)) {
        ApplyTo(*channel, values, schedule, logCapacity);
        accepted = true;
      }
    }
  }
  if (save) save();
  return accepted;
}

}  // namespace orvexa
