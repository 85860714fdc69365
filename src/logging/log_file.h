// A channel's log file: a fixed-size file, mapped into memory, holding a 12-byte header
// and a ring of 8-byte (time, value) records (log_record.h). The periodic logger appends
// and flushes, the history queries read Header()/Records() straight from the mapping,
// and Replicate takes timestamped byte-for-byte copies of the whole file;
// RemoveOldCopies bounds how many of them stay on disk.
//
// Every operation runs with ServerLock held (periodic logging, history requests, the log
// settings dialog, registration), except Flush: the periodic logger flushes without it,
// on the main thread, which is the only thread that opens, closes or appends to a log
// (other threads only read the mapping). The object has no lock of its own. The file is
// held with an exclusive lock while open, so a second server cannot use it.
//
// Failures to open are reported through the log-file error sink (a message box in the
// operator window, an "Error: <text>" line on standard error headless) and leave the
// channel unlogged. An existing file whose header does not fit its mapping is refused
// and left untouched rather than trusted: its values would steer reads and writes
// outside the mapped file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "logging/log_record.h"
#include "logging/record_order.h"
#include "platform/io_result.h"
#include "platform/mapped_file.h"

namespace orvexa {

class LogFile {
 public:
  // Size of the chunks a copy is written in.
  static constexpr size_t kCopyChunkSize = 10000;

  LogFile() = default;
  explicit LogFile(std::string name) : fileName(std::move(name)) {}
  ~LogFile() { Close(); }
  // Moving hands the open mapping over; the source is left closed.
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
  // Writes the whole view back to the file (msync). Nothing when closed.
  void Flush();
  // Unmaps and closes; releases the exclusive lock.
  void Close();
  // Takes the copy when it is due at the current calendar time (see ReplicateAt).
  bool Replicate();
  // When open, replicationPeriod is non-zero and now - lastReplication has reached it:
  // writes the whole file image to fileName + local time as ".%d_%m_%Y_%H_%M_%S" in
  // chunks of 10000 bytes, sets lastReplication = now and returns true. A copy that
  // cannot be created or written completely is removed and false is returned.
  bool ReplicateAt(int64_t now);

  // A channel logs exactly when its log file is open.
  bool IsOpen() const { return header_ != nullptr; }
  // The mapped header and ring; null when closed.
  LogFileHeader* Header() const { return header_; }
  LogRecord* Records() const { return records_; }
  // Record slots actually mapped after the header (0 when closed). Readers bound their
  // walks by it rather than by the header, which lives in a file others could change.
  uint32_t MappedSlots() const {
    return file_.MappedSize() < sizeof(LogFileHeader)
               ? 0
               : static_cast<uint32_t>((file_.MappedSize() - sizeof(LogFileHeader)) /
                                       sizeof(LogRecord));
  }
  // Where the ring is in time order, for the history queries' bisection; built by the
  // first call after an open (one pass over the slots in use), then kept by Append.
  const RecordOrder& Order();
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
  // Text of the last failure of Open or ReplicateAt ("" after a success).
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
  bool Fail(std::string text);

  MappedFile file_;
  LogFileHeader* header_ = nullptr;
  LogRecord* records_ = nullptr;
  RecordOrder order_;
  std::string lastError_;
};

}  // namespace orvexa
