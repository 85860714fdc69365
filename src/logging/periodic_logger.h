// The periodic logger: once a second (the main loop's one-second tick) it appends each
// logging channel's value to its log file on the channel's fixed grid of
// TimeBetweenLogs seconds, flushes it, starts the due timestamped copies of the log
// files (written by its LogCopier's thread from the log as it stood when started; the
// copier then removes a channel's copies beyond the newest MaxLogCopies) and, when a
// copy has finished, sets the log's LastLogReplicationDate to the copy's time and
// writes the logging settings back to orvexa.cfg so it survives a restart.
//
// Runs on the main thread (the tick is never re-entered). PeriodicLogPass and
// SaveLoggingSettings take ServerLock themselves, only to read what they need: it guards
// the channels' settings and every plug-in read. The pass reads the due values under it
// and releases it before appending them: Append waits for the log file's own lock, which
// a history reader holds for its search, and nothing on ServerLock (the fast sampler
// above all) may wait behind that. The flush of the appended records (msync) and the
// settings file's save (fsync) wait for the disk and run without ServerLock too, and the
// copies run on the copier's thread. TryTick waits for ServerLock at most
// kMainThreadLockWait (the main thread must keep accepting while a burst holds the
// devices): a step that does not get the lock by then returns, and the pass goes on from
// that step, with the time it began at, when the caller tries again. The configuration
// tree is touched on the main thread only (here and by the log settings dialog).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <set>

#include "base/server_lock.h"
#include "logging/log_copier.h"

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

  // One tick: PeriodicLogPass, then SaveLoggingSettings when a copy has succeeded.
  void Tick();
  // The same tick, waiting at most kMainThreadLockWait for ServerLock. A pass that is
  // not finished yet is continued (with the time it began at, whatever `now`); otherwise
  // one begins at `now`. False when the lock stayed held by another thread: call again
  // shortly.
  bool TryTick(int64_t now);
  // The logger's clock, for the time of a tick.
  int64_t Now() const { return now_(); }

  // Appends one record per channel whose next log time lies strictly before `now` (the
  // next log time then advances by exactly one period, so a stalled logger catches up
  // one record per pass), flushes it, then collects the copies finished since the last
  // pass (setting each log's lastReplication to its copy's time) and starts the copies
  // now due, one per log at a time (a failed copy is started again on a later pass). True
  // when a copy has succeeded since the last pass.
  bool PeriodicLogPass(int64_t now);
  // Waits for the copies started so far, collects them and, when one succeeded and there
  // is a configuration, saves the logging settings. True when one succeeded.
  bool FinishCopies();
  // Shutdown: abandons a copy still running (its ".part" file is removed; the copy is
  // taken again after the next start, as its date was not advanced), joins the copier's
  // thread, then collects and saves what had finished. Before the channels go away. The
  // device lock is waited for at most `deviceWait` (a hung plug-in call may hold it for
  // good): without it nothing is collected, and those copies are taken again too.
  void StopCopies(std::chrono::milliseconds deviceWait);

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
  // Sets lastReplication from the copies finished since the last call. True when one of
  // them succeeded.
  bool CollectCopies() REQUIRES(ServerLock());

  LoggedChannelList& channels_;
  ConfigurationStore* config_;
  std::function<int64_t()> now_;
  uint32_t maxLogCopies_ = 0;
  Pass pending_{0, Stage::kDone, false};    // TryTick's pass; kDone when none is under way
  std::set<const LogFile*> failingCopies_;  // reported on standard error once
  LogCopier copier_;
};

// Writes every channel's logging settings into OrvexaConfig/LogingInfo (under
// ServerLock) and then saves orvexa.cfg (without it); nothing when the configuration has
// no OrvexaConfig section. Main thread.
bool SaveLoggingSettings(LoggedChannelList& channels, ConfigurationStore& config);

}  // namespace orvexa
