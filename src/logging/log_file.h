// A channel's log file: a fixed-size file, mapped into memory, holding a 12-byte header
// and a ring of 8-byte (time, value) records (log_record.h). The periodic logger appends
// and flushes, the history requests read the mapped records (ReadLocked), and
// timestamped byte-for-byte copies of the whole file are taken (StartCopy: written by
// the log copier's thread; ReplicateAt: on the caller's); RemoveOldCopies bounds how
// many of them stay on disk.
//
// Locks. Each log file has its own lock, the log lock: a leaf of the server's lock
// order (ServerLock, then a log lock, then only a copy journal's mutex). It guards the
// mapping, the header, the records and the RecordOrder, and it is held only for
// bounded work in memory: one Append; Open and Close only to put the mapping in place
// or take it away (opening, extending, mapping and unmapping the file run outside it);
// the moment StartCopy needs to fix a copy's instant; and one history request's search
// and encoding (ReadLocked, at most 131072 records, found by bisection in each stretch
// of the ring that is in time order; the RecordOrder is built by Open before the
// mapping is published). Never while calling a plug-in, writing to a socket or waiting
// for the disk, and no other lock is taken under it (but the journal's).
//  - Main thread: Open and Close (registration, the log settings dialog, shutdown;
//    ServerLock held), Append (periodic logger, without ServerLock: it may wait for a
//    reader's search), StartCopy (ServerLock held). The settings fields
//    (fileName, lastReplication, replicationPeriod) and lastError are ServerLock's and
//    the main thread's, not the log lock's.
//  - Client workers, without ServerLock: ReadLocked (ReadHistory). They reach the
//    channel without ServerLock because channel records never move while serving.
//  - Flush runs on the main thread and does NOT hold the log lock while msync waits for
//    the disk (up to most of a second on a busy disk): holding it would stall every
//    history request of the channel for that long, and it is not needed: msync writes
//    back whatever the pages hold, concurrent reads and appends only dirty them again,
//    and the mapping cannot go away under it because Open and Close run on the same
//    (main) thread.
//  - A copy reads the file through a descriptor of its own, outside the lock; what
//    Append overwrites meanwhile is kept by the copy's journal (LogCopyJournal), so the
//    copy is the log at the instant StartCopy ran. Close cancels a copy still reading.
// IsOpen, Header, Records and MappedSlots read the mapping without the lock: for the
// thread that opens and closes the log (main), or for a log no other thread uses
// (tests, tools).
//
// The file is held with an exclusive lock while open, so a second server cannot use it.
//
// Failures to open are reported through the log-file error sink (a message box in the
// operator window, an "Error: <text>" line on standard error headless) and leave the
// channel unlogged. An existing file whose header does not fit its mapping is refused
// and left untouched rather than trusted: its values would steer reads and writes
// outside the mapped file.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/movable_mutex.h"
#include "logging/log_copy.h"
#include "logging/log_copy_journal.h"
#include "logging/log_record.h"
#include "logging/record_order.h"
#include "platform/io_result.h"
#include "platform/lock_guard.h"
#include "platform/mapped_file.h"

namespace orvexa {

class LogFile {
 public:
  // Size of the chunks a copy is written in.
  static constexpr size_t kCopyChunkSize = 10000;

  LogFile() = default;
  explicit LogFile(std::string name) : fileName(std::move(name)) {}
  ~LogFile() { Close(); }
  // Moving hands the open mapping over; the source is left closed. Only while no other
  // thread uses either object (registration, before serving).
  LogFile(LogFile&& other) noexcept;
  LogFile& operator=(LogFile&& other) noexcept;
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Opens fileName (relative to the current directory), creating it when missing, and
  // maps 12 + 8 * capacity bytes (extending a shorter file). A new file, or any file
  // when alwaysReset is set, gets a fresh header (next 0, count 0, the given capacity);
  // an existing file keeps its header and records. False (reported, logging disabled,
  // nothing held open) when the file cannot be opened or locked, extended or mapped, or
  // when the stored header does not fit the mapping.
  bool Open(bool alwaysReset, uint32_t capacity = kLogCapacity);
  // Stores (time, value x 256 truncated toward zero) in the next slot. Products beyond
  // the 32-bit range are stored saturated, NaN as 0. Nothing when closed.
  void Append(uint32_t time, float value);
  // Writes the whole view back to the file (msync). Nothing when closed. Main thread,
  // without the log lock (see the header comment).
  void Flush();
  // Unmaps and closes; releases the exclusive lock.
  void Close();
  // Takes the copy when it is due at the current calendar time (see ReplicateAt).
  bool Replicate();
  // When CopyDue(now): writes the whole file image, as it stands now, to CopyName(now)
  // on the calling thread (StartCopy, then LogCopy::Run), sets lastReplication = now and
  // returns true. A copy that cannot be created or written completely is removed and
  // false is returned.
  bool ReplicateAt(int64_t now);
  // Open, replicationPeriod non-zero and now - lastReplication has reached it.
  bool CopyDue(int64_t now) const;
  // Fixes the instant of a copy named CopyName(now), to be written by LogCopy::Run on
  // any thread: under the log lock, the header is kept, a journal of overwritten slots
  // starts and a reader of the file is opened; no byte is copied here. Nothing (and
  // LastError set) when closed, when another copy of this log is still reading, or when
  // the file cannot be opened for reading. Main thread, ServerLock held.
  std::optional<LogCopy> StartCopy(int64_t now);

  // What a reader sees of the open log while it holds the log lock.
  struct View {
    const LogFileHeader* header;
    const LogRecord* records;
    uint32_t mappedSlots;
    const RecordOrder* order;  // built by Open
  };
  // Calls `read(view)` with the log lock held and returns true; false, without calling
  // it, when the log is closed. `read` must be bounded work in memory (the log lock is
  // a leaf: no plug-in call, no socket write, no other lock). Any thread.
  template <typename Read>
  bool ReadLocked(Read&& read) {
    LockGuard hold(mutex_);
    if (header_ == nullptr) return false;
    read(View{header_, records_, MappedSlots(), &Order()});
    return true;
  }

  // IsOpen, Header, Records and MappedSlots read the mapping without the log lock: the
  // main thread alone replaces it, so it may (the analysis cannot know threads).
  // A channel logs exactly when its log file is open.
  bool IsOpen() const NO_THREAD_SAFETY_ANALYSIS { return header_ != nullptr; }
  // The mapped header and ring; null when closed.
  LogFileHeader* Header() const NO_THREAD_SAFETY_ANALYSIS { return header_; }
  LogRecord* Records() const NO_THREAD_SAFETY_ANALYSIS { return records_; }
  // Record slots actually mapped after the header (0 when closed). Readers bound their
  // walks by it rather than by the header, which lives in a file others could change.
  uint32_t MappedSlots() const NO_THREAD_SAFETY_ANALYSIS { return MappedSlotsOf(file_); }
  // Where the ring is in time order, for the history queries' bisection; built by Open
  // (one pass over the slots in use), then kept by Append.
  // Log lock held (ReadLocked).
  const RecordOrder& Order() REQUIRES(mutex_);
  // The name the copy taken at `now` gets.
  std::string CopyName(int64_t now) const;
  // Removes the copies of the log file `logFileName` (files of its folder named
  // "<its name>.dd_mm_YYYY_HH_MM_SS") beyond the newest `keep`; `newestCopy` (the copy
  // just taken) counts as the newest whatever its name says, so a clock set back never
  // removes it. The others are ordered by the time in their names. Nothing when keep is
  // 0. Stateless, so any thread may call it; the first failure (folder unreadable, a
  // copy not removable) is returned after trying the rest.
  static IoResult RemoveOldCopies(const std::string& logFileName, size_t keep,
                                  const std::string& newestCopy);
  // Removes what copies of `logFileName` left unfinished ("<its name>.<stamp>.part"), the
  // remains of a server that stopped in the middle of a copy. Only while no copy of that
  // log is being written (start-up); the first failure is returned after trying the
  // rest.
  static IoResult RemovePartialCopies(const std::string& logFileName);
  // Text of the last failure of Open, StartCopy or ReplicateAt ("" after a success).
  // Main thread.
  const std::string& LastError() const { return lastError_; }

  // The value stored for `value`: x 256 truncated toward zero, saturated to 32 bits,
  // NaN as 0.
  static int32_t FixedPoint(float value);

  // Where open failures are shown: by default the server's message box with caption
  // "Error" (headless: an "Error: <text>" line on standard error); tests install their
  // own sink.
  using ErrorSink = std::function<void(const std::string& text)>;
  static void SetErrorSink(ErrorSink sink);
  static void ReportError(const std::string& text);

  // Path of the log file, relative paths resolved against the current directory.
  std::string fileName;
  // Calendar time of the last successful copy (LastLogReplicationDate).
  int64_t lastReplication = 0;
  // Seconds between copies; 0 = never.
  int64_t replicationPeriod = 0;

 private:
  static uint32_t MappedSlotsOf(const MappedFile& file) {
    return file.MappedSize() < sizeof(LogFileHeader)
               ? 0
               : static_cast<uint32_t>((file.MappedSize() - sizeof(LogFileHeader)) /
                                       sizeof(LogRecord));
  }
  bool Fail(std::string text);

  // The log lock (see the header comment).
  MovableMutex mutex_;
  MappedFile file_ GUARDED_BY(mutex_);
  LogFileHeader* header_ GUARDED_BY(mutex_) = nullptr;
  LogRecord* records_ GUARDED_BY(mutex_) = nullptr;
  RecordOrder order_ GUARDED_BY(mutex_);
  // The journal of the copy still reading the file, if any.
  std::shared_ptr<LogCopyJournal> copyJournal_ GUARDED_BY(mutex_);
  std::string lastError_;
};

}  // namespace orvexa
