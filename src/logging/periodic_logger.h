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
// the disk) runs after ServerLock is released. TryTick never waits for ServerLock (the
// main thread must keep accepting while a burst holds the devices): each of its steps
// that needs the lock only tries it, and the pass goes on from that step, with the time
// it began at, when the caller tries again. The configuration tree is touched on the
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
  // The same tick without waiting for ServerLock. A pass that is not finished yet is
  // continued (with the time it began at, whatever `now`); otherwise one begins at
  // `now`. False while another thread holds ServerLock: call again shortly.
  bool TryTick(int64_t now);
  // The logger's clock, for the time of a tick.
  int64_t Now() const { return now_(); }

  // Appends one record per channel whose next log time lies strictly before `now` (the
  // next log time then advances by exactly one period, so a stalled logger catches up
  // one record per pass), flushes it, then takes the due copies and removes the copies
  // beyond MaxLogCopies of each log file copied (a failure to remove one is a warning on
  // standard error). True when a copy was taken.
  bool PeriodicLogPass(int64_t now);

 private:
  // A pass in steps: the appends (and their flush), the copies, the settings save.
  enum class Stage { kAppend, kCopy, kSave, kDone };
  struct Pass {
    int64_t now = 0;
    Stage stage = Stage::kAppend;
    bool copied = false;
  };
  // Runs the append and copy steps of `pass` that are left (then kSave when a copy was
  // taken, else kDone); with `wait` false, stops before a step whose ServerLock is held
  // elsewhere and returns false.
  bool Continue(Pass& pass, bool wait);
  bool AppendStep(Pass& pass, bool wait);
  bool CopyStep(Pass& pass, bool wait);

  LoggedChannelList& channels_;
  ConfigurationStore* config_;
  std::function<int64_t()> now_;
  uint32_t maxLogCopies_ = 0;
  Pass pending_{0, Stage::kDone, false};  // TryTick's pass; kDone when none is under way
};

// Writes every channel's logging settings into OrvexaConfig/LogingInfo and saves
// orvexa.cfg (nothing when the configuration has no OrvexaConfig section). Takes
// ServerLock. Main thread.
bool SaveLoggingSettings(LoggedChannelList& channels, ConfigurationStore& config);

}  // namespace orvexa
