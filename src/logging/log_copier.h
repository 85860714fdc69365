// LogCopier: the thread that writes the log-file copies, so that the periodic logger's
// pass on the main thread only starts them (LogFile::StartCopy, a moment under the log
// lock) instead of streaming 120 MB while everything else waits. Copies run one at a
// time in the order submitted; at most one per log file is queued or running. After a
// successful copy the copies of that log beyond the newest `keep` are removed, on this
// thread too. Outcomes are kept until the logger collects them (TakeFinished) and sets
// the log's LastLogReplicationDate from them.
//
// The thread starts with the first copy submitted. Stop (or the destructor) abandons a
// copy still running between two chunks (its ".part" file is removed), drops the queued
// ones and joins the thread; outcomes already finished stay collectable.
//
// Threads: Submit, Busy, TakeFinished, WaitIdle and Stop are called by the periodic
// logger's thread (main); the copier's own mutex is a leaf, never held while copying or
// while taking another lock. The copier never touches a LogFile: a LogCopy holds its own
// reader and journal, and the log is only a key here.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "logging/log_copy.h"
#include "platform/io_result.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"

namespace orvexa {

class LogFile;

class LogCopier {
 public:
  struct Outcome {
    const LogFile* log = nullptr;
    int64_t time = 0;    // calendar time the copy was taken at
    std::string target;  // name of the copy
    IoResult result;
  };

  LogCopier() = default;
  ~LogCopier() { Stop(); }
  LogCopier(const LogCopier&) = delete;
  LogCopier& operator=(const LogCopier&) = delete;

  // Queues `copy` of `log` (named `logFileName`); after it succeeds, that log's copies
  // beyond the newest `keep` are removed (0 keeps all). False, and nothing queued, when a
  // copy of `log` is already queued or running, or after Stop.
  bool Submit(const LogFile* log, LogCopy copy, const std::string& logFileName, size_t keep);
  // A copy of `log` is queued or running, or its outcome is not yet collected (until
  // then the log's copy date is not advanced, so the copy would look due again).
  bool Busy(const LogFile* log) const;
  // The outcomes finished since the last call, in order.
  std::vector<Outcome> TakeFinished();
  // Waits until nothing is queued or running.
  void WaitIdle();
  // Abandons the running copy, drops the queued ones, joins the thread. Idempotent.
  void Stop();

 private:
  struct Job {
    const LogFile* log;
    LogCopy copy;
    std::string logFileName;
    size_t keep;
  };

  void Run();

  mutable Mutex mutex_;
  std::condition_variable_any changed_;
  std::deque<Job> queue_ GUARDED_BY(mutex_);
  const LogFile* running_ GUARDED_BY(mutex_) = nullptr;
  std::vector<Outcome> finished_ GUARDED_BY(mutex_);
  bool stopped_ GUARDED_BY(mutex_) = false;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace orvexa
