// ChannelLog: one channel's logging state, the one home of its LogingInfo entry: the
// log file with its copy schedule, the periodic-log timing, the reset flag, the fast-log
// settings and buffer, and the recordings of running experiments fed by the channel.
// LoadFrom and StoreInto read and write the entry (as ServerSettings does for
// OrvexaConfig); the copy period is kept in seconds and stored in hours, converted here
// only.
//
// Part of every DeviceChannel (through LoggedChannel). Read and changed by the registry
// at start-up, the periodic logger (main thread), the fast sampler (sampling thread), the
// log dialog's controller (main thread) and client requests (workers). The settings
// fields are ServerLock's. The log file's mapping has the log file's own lock (see
// log_file.h). Each field names its lock (GUARDED_BY). The fast-sample buffer has
// fastSamplesLock, a leaf of the lock order
// (taken after ServerLock, never before it, and no other lock under it): the fast
// sampler only tries it for its appends (after its plug-in read, not during it), and
// ReadFastSamples holds it, without ServerLock, for one bounded copy of the selection
// (at most the buffer's capacity), never while writing to its socket. fastLogEnabled is
// written under both ServerLock and fastSamplesLock (SetFastLogEnabled), so it may be
// read under either. The recordings list belongs to the experiment store (ExperimentLock);
// `recorded` tells the sampler without that lock whether the list is empty.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "base/movable_atomic.h"
#include "base/movable_mutex.h"
#include "base/server_lock.h"
#include "logging/experiment_lock.h"
#include "logging/log_file.h"
#include "logging/sample_log.h"
#include "platform/lock_guard.h"

namespace orvexa {

class ConfigValue;

class ChannelLog {
 public:
  static constexpr int64_t kSecondsPerHour = 3600;

  // Reads the channel's Struct of LogingInfo (null: no entry, every default; a missing
  // file name falls back to `defaultFileName` too, rather than to a nameless file).
  // Returns LogingEnabled; opening the file is the caller's. A negative copy period
  // means "never", like 0 (it would otherwise copy the whole log on every pass).
  bool LoadFrom(ConfigValue* entry, const std::string& defaultFileName) REQUIRES(ServerLock());
  // Writes all nine keys (LogingEnabled: whether the file is open).
  void StoreInto(ConfigValue* entry) const REQUIRES(ServerLock());

  // The copy period in whole hours, as the configuration and the log dialog show it.
  int64_t ReplicationHours() const { return logFile.replicationPeriod / kSecondsPerHour; }
  void SetReplicationHours(int64_t hours) {
    logFile.replicationPeriod = hours > 0 ? hours * kSecondsPerHour : 0;
  }

  // Switches fast logging on or off, under both of its locks.
  void SetFastLogEnabled(bool on) REQUIRES(ServerLock()) {
    LockGuard hold(fastSamplesLock);
    fastLogEnabled = on;
  }
  // fastLogEnabled for a holder of ServerLock. Written under both locks, the flag may be
  // read under either; the analysis knows one lock per field (fastSamplesLock).
  bool FastLogEnabled() const REQUIRES(ServerLock()) NO_THREAD_SAFETY_ANALYSIS {
    return fastLogEnabled;
  }

  LogFile logFile;                                   // closed until logging is enabled
  int64_t nextLogTime GUARDED_BY(ServerLock()) = 0;  // calendar seconds of the next periodic sample
  int32_t logPeriod GUARDED_BY(ServerLock()) = 1;    // TimeBetweenLogs, seconds
  bool alwaysReset GUARDED_BY(ServerLock()) = false;
  SampleLog fastSamples GUARDED_BY(fastSamplesLock){SampleLog::kDefaultCapacity, true};  // a ring
  mutable MovableMutex fastSamplesLock ACQUIRED_AFTER(ServerLock());
  // Samples the sampler took while a reader held fastSamplesLock, appended (in order,
  // before the next one) once the sampler gets the lock: the sampler never waits for a
  // reader's copy. Sampling thread only.
  std::vector<SampleLog::Sample> pendingFastSamples;
  // Adds `log` to the recordings, or removes every entry of it.
  void AttachRecording(SampleLog* log) REQUIRES(ExperimentLock()) {
    recordings.push_back(log);
    recorded.store(true, std::memory_order_release);
  }
  void DetachRecording(SampleLog* log) REQUIRES(ExperimentLock()) {
    recordings.remove(log);
    recorded.store(!recordings.empty(), std::memory_order_release);
  }

  // Slots of running experiments fed by this channel: the list and the logs it points to
  // are guarded by ExperimentLock (logging/experiment_lock.h), not by ServerLock.
  std::list<SampleLog*> recordings GUARDED_BY(ExperimentLock());
  // Whether `recordings` is not empty: written with it, read without ExperimentLock by
  // the fast sampler, which takes that lock only for a channel that feeds a recording.
  MovableAtomic<bool> recorded;
  bool fastLogEnabled GUARDED_BY(fastSamplesLock) = false;
  int32_t fastLogFrequency GUARDED_BY(ServerLock()) = 100;  // Hz, clamped to 1..3999 where used
  int32_t fastLogSize GUARDED_BY(ServerLock()) = 10000;     // capacity of fastSamples
};

}  // namespace orvexa
