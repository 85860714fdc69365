#include "logging/log_copier.h"

#include <utility>

#include "logging/log_file.h"
#include "platform/lock_guard.h"
#include "platform/mutex.h"
#include "platform/operator_report.h"
#include "platform/unique_lock.h"

namespace orvexa {

bool LogCopier::Submit(const LogFile* log, LogCopy copy, const std::string& logFileName,
                       size_t keep) {
  LockGuard hold(mutex_);
  if (stopped_ || running_ == log) return false;
  for (const Job& job : queue_)
    if (job.log == log) return false;
  queue_.push_back(Job{log, std::move(copy), logFileName, keep});
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  changed_.notify_all();
  return true;
}

bool LogCopier::Busy(const LogFile* log) const {
  LockGuard hold(mutex_);
  if (running_ == log) return true;
  for (const Job& job : queue_)
    if (job.log == log) return true;
  for (const Outcome& outcome : finished_)
    if (outcome.log == log) return true;
  return false;
}

std::vector<LogCopier::Outcome> LogCopier::TakeFinished() {
  LockGuard hold(mutex_);
  return std::exchange(finished_, {});
}

void LogCopier::WaitIdle() {
  UniqueLock<Mutex> hold(mutex_);
  changed_.wait(hold, [this]() REQUIRES(mutex_) { return queue_.empty() && running_ == nullptr; });
}

void LogCopier::Stop() {
  {
    LockGuard hold(mutex_);
    stopped_ = true;
    queue_.clear();  // their partial files were never created
    stopping_.store(true);
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

void LogCopier::Run() {
  UniqueLock<Mutex> hold(mutex_);
  for (;;) {
    changed_.wait(hold, [this]() REQUIRES(mutex_) { return stopped_ || !queue_.empty(); });
    if (stopped_) return;
    Job job = std::move(queue_.front());
    queue_.pop_front();
    running_ = job.log;
    hold.unlock();
    Outcome outcome{job.log, job.copy.Time(), job.copy.Target(), job.copy.Run(&stopping_)};
    if (outcome.result.ok) {
      IoResult pruned = LogFile::RemoveOldCopies(job.logFileName, job.keep, outcome.target);
      if (!pruned.ok)
        ReportToOperator("Warning: old copies of %s not removed: %s", job.logFileName.c_str(),
                         pruned.message.c_str());
    }
    hold.lock();
    finished_.push_back(std::move(outcome));
    running_ = nullptr;
    changed_.notify_all();
  }
}

}  // namespace orvexa
