// LogCopy: one timestamped copy of a log file, exactly as the log stood at one instant,
// written while the logger goes on appending. LogFile::StartCopy fixes the instant (with
// the log lock held, for a moment: the header is kept and a journal started, see
// LogCopyJournal) and opens a reader of its own on the file; Run then reads the file in
// chunks outside any lock, writes them to "<target>.part", puts back the header and the
// slots overwritten meanwhile, and renames the file to the target only when complete.
// The copy has the layout of a log file and opens as one.
//
// Run is called by one thread (the log copier's, or the caller of LogFile::ReplicateAt)
// and takes no lock but the journal's. Move-only.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "logging/log_copy_journal.h"
#include "platform/io_result.h"
#include "platform/read_only_file.h"

namespace orvexa {

class LogCopy {
 public:
  // Bytes read from the log file at a time (written on in chunks of `writeChunk`).
  static constexpr size_t kReadChunk = 256 * 1024;

  LogCopy(std::string target, ReadOnlyFile source, uint64_t bytes,
          std::shared_ptr<LogCopyJournal> journal, size_t writeChunk, int64_t time)
      : target_(std::move(target)),
        source_(std::move(source)),
        bytes_(bytes),
        journal_(std::move(journal)),
        writeChunk_(writeChunk),
        time_(time) {}
  // A copy that is never run, or whose run failed, ends its journal: the log stops
  // keeping overwritten slots for it and a new copy of the log may start.
  ~LogCopy() { EndReading(); }
  LogCopy(LogCopy&&) noexcept = default;
  LogCopy& operator=(LogCopy&& other) noexcept;
  LogCopy(const LogCopy&) = delete;
  LogCopy& operator=(const LogCopy&) = delete;

  // Writes the copy. A failure, `stop` becoming true between chunks (shutdown) or the
  // log being closed while the copy reads it leaves no file behind under either name.
  IoResult Run(const std::atomic<bool>* stop = nullptr);

  // Name of the finished copy and the calendar time it was taken at.
  const std::string& Target() const { return target_; }
  int64_t Time() const { return time_; }

 private:
  void EndReading() {
    if (journal_ != nullptr) journal_->FinishReading();
  }

  std::string target_;
  ReadOnlyFile source_;
  uint64_t bytes_;
  std::shared_ptr<LogCopyJournal> journal_;
  size_t writeChunk_;
  int64_t time_;
};

}  // namespace orvexa
