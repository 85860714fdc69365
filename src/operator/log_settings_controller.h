// LogSettingsController: "Configure log for selected" and the rules of the "Log config"
// dialog, free of any toolkit. The dialog is filled from the channel's logging state,
// its ranges are checked on OK, and an accepted dialog is applied to the channel: the
// log file closed or opened, a changed path taking effect, the interval, reset flag and
// backup period (hours in the dialog, seconds in the channel) stored, and the channel
// moved between the fast sampling groups when its fast-log flag or frequency changed.
// Afterwards the logging settings of all channels are saved, whenever an item was
// selected: also after Cancel and for a plug-in node.
//
// Main thread only. ServerLock is held from before the dialog opens until the changes
// are applied (the loggers, the fast pass and client requests wait meanwhile); the save
// runs after it is released and takes the lock itself.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/server_lock.h"
#include "host/device_tree.h"
#include "logging/log_record.h"

namespace orvexa {

class ChannelLog;
class FastSchedule;
class LoggedChannel;

// The fields of the "Log config" dialog.
struct LogDialogValues {
  bool loggingEnabled = false;   // "Loging enabled": the log file is open
  std::string logFile;           // "Log file:"
  uint32_t measureInterval = 0;  // "Measure interval [s]:" (1..1000000)
  bool resetOnStart = false;     // "Reset on server start"
  uint32_t backupHours = 0;      // "Backup periode [h]:" (0..8760)
  bool fastLogging = false;      // "Fast loging"
  uint32_t fastFrequency = 0;    // "Fast log frequency [HZ]" (1..3000)
  uint32_t fastSize = 0;         // "Fast log size" (1..100000)

  bool operator==(const LogDialogValues&) const = default;
};

// The number fields of the dialog with their ranges.
enum class LogDialogField { MeasureInterval, BackupHours, FastFrequency, FastSize };

struct LogDialogRange {
  LogDialogField field;
  uint32_t min;
  uint32_t max;
};

// A field outside its range: which one and the text that tells the operator.
struct LogDialogRangeError {
  LogDialogField field;
  std::string message;  // "Please enter an integer between <min> and <max>."
};

class LogSettingsController {
 public:
  // Shows the dialog over `values`; true when the operator confirmed with OK (values
  // then hold what the dialog shows), false after Cancel.
  using Dialog = std::function<bool(LogDialogValues& values)>;
  // The logging-settings save of every channel (takes ServerLock itself).
  using Save = std::function<void()>;

  static LogDialogRange RangeOf(LogDialogField field);
  // The first field outside its range, in the dialog's order; nothing when all fit.
  static std::optional<LogDialogRangeError> CheckRanges(const LogDialogValues& values);

  // The dialog's contents for `channel`. Values that an unsigned field cannot show
  // (negative) are shown as 0.
  static LogDialogValues FillFrom(const ChannelLog& channel) REQUIRES(ServerLock());
  // Applies an accepted dialog to `channel`. Open failures are reported by the log file
  // and leave the channel unlogged.
  static void ApplyTo(LoggedChannel& channel, const LogDialogValues& values, FastSchedule& schedule,
                      uint32_t logCapacity = kLogCapacity) REQUIRES(ServerLock());

  // The whole button: nothing without a selection; the dialog only for a channel; the
  // save in every other case. True when the dialog was shown and accepted.
  static bool ConfigureLogForSelected(const DeviceTreeSelection& selection, FastSchedule& schedule,
                                      const Dialog& dialog, const Save& save,
                                      uint32_t logCapacity = kLogCapacity);
};

}  // namespace orvexa
