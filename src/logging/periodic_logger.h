// The periodic logger: once a second (the main loop's one-second tick) it appends each
// logging channel's value to its log file on the channel's fixed grid of
// TimeBetweenLogs seconds, flushes it, takes the due timestamped copies of the log
// files (then removes a channel's copies beyond the newest MaxLogCopies) and, when a
// copy was taken, writes the logging settings back to orvexa.cfg so the new
// LastLogReplicationDate survives a restart.
//
// Runs on the main thread (the tick is never re-entered). PeriodicLogPass and
// SaveLoggingSettings take ServerLock themselves: it guards the channels, their log
// files and every plug-in read; the flush of the appended records (msync, which waits for
// the disk) runs after ServerLock is released. The configuration tree is touched on the
// main thread only (here and by the log settings dialog).
#pragma once

#include <cstdint>
#include <functional>

namespace orvexa {

class ConfigurationStore;
class LoggedChannelList;

class PeriodicLogger {
 public:
  // `now` gives calendar seconds; tests pass their own clock.
  PeriodicLogger(LoggedChannelList& channels, ConfigurationStore* config,
                 std::function<int64_t()> now);

  // How many copies of each log file stay after a copy (the newest ones); 0 keeps all.
  // Set at start-up, before the first tick.
  void SetMaxLogCopies(uint32_t keep) { maxLogCopies_ = keep; }

  // One tick: PeriodicLogPass, then SaveLoggingSettings when a copy was taken.
  void Tick();

  // Appends one record per channel whose next log time lies strictly before `now` (the
  // next log time then advances by exactly one period, so a stalled logger catches up
  // one record per pass), flushes it, then takes the due copies and removes the copies
  // beyond MaxLogCopies of each log file copied (a failure to remove one is a warning on
  // standard error). True when a copy was taken.
  bool PeriodicLogPass(int64_t now);

 private:
  LoggedChannelList& channels_;
  ConfigurationStore* config_;
  std::function<int64_t()> now_;
  uint32_t maxLogCopies_ = 0;
};

// Writes every channel's logging settings into OrvexaConfig/LogingInfo and saves
// orvexa.cfg (nothing when the configuration has no OrvexaConfig section). Takes
// ServerLock. Main thread.
bool SaveLoggingSettings(LoggedChannelList& channels, ConfigurationStore& config);

}  // namespace orvexa
