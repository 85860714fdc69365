#include "logging/log_file.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/directory_listing.h"
#include "platform/file_system.h"
#include "platform/lock_guard.h"
#include "platform/message_box.h"
#include "platform/mutex.h"

namespace orvexa {

namespace {

Mutex& SinkMutex() {
  static Mutex mutex;
  return mutex;
}

LogFile::ErrorSink& Sink() REQUIRES(SinkMutex()) {
  static LogFile::ErrorSink sink;
  return sink;
}

std::string ErrorText(const char* what, int error, const std::string& detail) {
  char text[96];
  std::snprintf(text, sizeof text, "%s Error 0x%08x", what, static_cast<unsigned>(error));
  return std::string(text) + " (" + detail + ")";
}

// The time of a copy's suffix "dd_mm_YYYY_HH_MM_SS" as YYYYMMDDHHMMSS digits, which
// order as the times do; empty when `suffix` is not such a stamp.
std::string CopyStampKey(const std::string& suffix) {
  static constexpr char kPattern[] = "dd_mm_YYYY_HH_MM_SS";
  if (suffix.size() != sizeof kPattern - 1) return {};
  for (size_t i = 0; i < suffix.size(); ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(suffix[i])) != 0;
    if (kPattern[i] == '_' ? suffix[i] != '_' : !digit) return {};
  }
  return suffix.substr(6, 4) + suffix.substr(3, 2) + suffix.substr(0, 2) + suffix.substr(11, 2) +
         suffix.substr(14, 2) + suffix.substr(17, 2);
}

// The folder part of a path: "" for the current folder, else up to and including the
// last '/'.
std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

uint64_t FileBytes(uint32_t capacity) {
  return sizeof(LogFileHeader) + static_cast<uint64_t>(capacity) * sizeof(LogRecord);
}

}  // namespace

LogFile::LogFile(LogFile&& other) noexcept {
  *this = std::move(other);
}

// Only while no other thread reaches either object (see the header): no lock.
LogFile& LogFile::operator=(LogFile&& other) noexcept NO_THREAD_SAFETY_ANALYSIS {
  if (this != &other) {
    Close();
    fileName = std::move(other.fileName);
    lastReplication = other.lastReplication;
    replicationPeriod = other.replicationPeriod;
    file_ = std::move(other.file_);
    header_ = std::exchange(other.header_, nullptr);
    records_ = std::exchange(other.records_, nullptr);
    order_ = std::move(other.order_);
    other.order_.Invalidate();
    copyJournal_ = std::move(other.copyJournal_);
    lastError_ = std::move(other.lastError_);
  }
  return *this;
}

void LogFile::SetErrorSink(ErrorSink sink) {
  LockGuard hold(SinkMutex());
  Sink() = std::move(sink);
}

void LogFile::ReportError(const std::string& text) {
  ErrorSink sink;
  {
    LockGuard hold(SinkMutex());
    sink = Sink();
  }
  if (sink) {
    sink(text);
  } else {
    ShowMessageBox("Error", text);
  }
}

bool LogFile::Fail(std::string text) {
  // Nothing may stay held after a failed open: above all not the exclusive lock.
  Close();
  lastError_ = std::move(text);
  ReportError(lastError_);
  return false;
}

bool LogFile::Open(bool alwaysReset, uint32_t capacity) {
  Close();
  lastError_.clear();
  // The file is opened, checked, extended and mapped without the log lock (those calls
  // wait for the disk); readers see a closed log meanwhile. The lock is taken only to
  // put the mapping in place.
  MappedFile file;
  auto fail = [&](std::string text) {
    file.Close();  // nothing may stay held after a failed open: above all not the flock
    return Fail(std::move(text));
  };
  int error = 0;
  bool created = false;
  IoResult result = file.Open(fileName, &created, &error);
  if (!result.ok) return fail(ErrorText("Unable to create the log file.", error, result.message));
  if (capacity == 0) {
    return fail("Unable to create the log file " + fileName + ": a log needs at least one record");
  }
  const uint64_t bytes = FileBytes(capacity);
  // An existing file too short to hold a header holds no records either: start it anew.
  bool reset = created || alwaysReset || file.FileSize() < sizeof(LogFileHeader);
  if (!reset) {
    // Check the stored header before anything is extended or mapped, so a damaged file
    // is refused as it stands.
    LogFileHeader stored{};
    result = file.ReadAt(0, &stored, sizeof stored);
    if (!result.ok) return fail(ErrorText("Unable to create the log file.", EIO, result.message));
    if (stored.capacity == 0 || stored.capacity > capacity || stored.nextIndex >= stored.capacity ||
        stored.count > stored.capacity) {
      char text[256];
      std::snprintf(text, sizeof text,
                    "The log file %s has a damaged header (next %" PRIu32 ", count %" PRIu32
                    ", capacity %" PRIu32 ", room for %" PRIu32
                    " records); it was left untouched and the channel is not logged.",
                    fileName.c_str(), stored.nextIndex, stored.count, stored.capacity, capacity);
      return fail(text);
    }
  }
  result = file.EnsureSize(bytes, &error);
  if (!result.ok) return fail(ErrorText("Unable to create file mapping.", error, result.message));
  result = file.Map(static_cast<size_t>(bytes), &error);
  if (!result.ok) return fail(ErrorText("Unable to create file view.", error, result.message));
  auto* header = static_cast<LogFileHeader*>(file.Data());
  if (reset) {
    header->nextIndex = 0;
    header->capacity = capacity;
    header->count = 0;
  }
  auto* records =
      reinterpret_cast<LogRecord*>(static_cast<char*>(file.Data()) + sizeof(LogFileHeader));
  // Where the ring is in time order: one pass over the slots in use (and their first read
  // from the disk), here, where nobody else sees the mapping yet, rather than under the
  // log lock at the first query, where the logger's Append would wait for it.
  RecordOrder order;
  order.Build(header, records, MappedSlotsOf(file));
  LockGuard hold(mutex_);
  file_ = std::move(file);
  header_ = header;
  records_ = records;
  order_ = std::move(order);
  return true;
}

int32_t LogFile::FixedPoint(float value) {
  if (std::isnan(value)) return 0;
  double product = static_cast<double>(value) * 256.0;  // exact for every float
  if (product >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (product <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(product);  // truncates toward zero
}

void LogFile::Append(uint32_t time, float value) {
  LockGuard hold(mutex_);
  if (header_ == nullptr) return;
  uint32_t slot = header_->nextIndex;
  // A copy still reading the file gets the slot's value of its instant.
  if (copyJournal_ != nullptr && !copyJournal_->Overwriting(slot, records_[slot]))
    copyJournal_.reset();
  records_[slot] = LogRecord{time, FixedPoint(value)};
  if (header_->count < header_->capacity) ++header_->count;
  header_->nextIndex = (slot + 1) % header_->capacity;
  order_.Written(records_, MappedSlots(), slot);
}

void LogFile::Flush() NO_THREAD_SAFETY_ANALYSIS {
  // No log lock while msync waits for the disk (see the header comment): the mapping
  // is only ever replaced on this thread, which the analysis cannot know.
  if (header_ == nullptr) return;
  file_.Sync();
}

const RecordOrder& LogFile::Order() {
  if (!order_.Known()) order_.Build(header_, records_, MappedSlots());
  return order_;
}

void LogFile::Close() {
  MappedFile closing;
  {
    LockGuard hold(mutex_);
    // The file may change from now on without the journal seeing it.
    if (copyJournal_ != nullptr) copyJournal_->Cancel();
    copyJournal_.reset();
    order_.Invalidate();
    header_ = nullptr;
    records_ = nullptr;
    closing = std::move(file_);
  }
  closing.Close();  // unmapping a large view takes a while: not under the lock
}

std::string LogFile::CopyName(int64_t now) const {
  char suffix[64];
  FormatLocalTime(suffix, sizeof suffix, ".%d_%m_%Y_%H_%M_%S", now);
  return fileName + suffix;
}

IoResult LogFile::RemoveOldCopies(const std::string& logFileName, size_t keep,
                                  const std::string& newestCopy) {
  if (keep == 0) return IoResult::Success();
  const std::string base = FolderOf(logFileName);
  const std::string prefix = logFileName.substr(base.size()) + ".";
  const std::string newestName = newestCopy.substr(FolderOf(newestCopy).size());
  IoResult result;
  std::vector<std::string> names = ListFilesWithPrefix(base.empty() ? "." : base, prefix, &result);
  if (!result.ok) return result;
  // (key, name): the copy just taken first, the others newest first.
  std::vector<std::pair<std::string, std::string>> copies;
  for (std::string& name : names) {
    std::string key = CopyStampKey(name.substr(prefix.size()));
    if (key.empty()) continue;
    if (name == newestName) key = "~";  // above every digit
    copies.emplace_back(std::move(key), std::move(name));
  }
  if (copies.size() <= keep) return result;
  std::sort(copies.begin(), copies.end(), [](const auto& a, const auto& b) { return a > b; });
  for (size_t i = keep; i < copies.size(); ++i) {
    bool missing = false;
    IoResult removed = RemoveFile(base + copies[i].second, &missing);
    if (!removed.ok && !missing && result.ok) result = removed;
  }
  return result;
}

IoResult LogFile::RemovePartialCopies(const std::string& logFileName) {
  const std::string base = FolderOf(logFileName);
  const std::string prefix = logFileName.substr(base.size()) + ".";
  static constexpr char kPartial[] = ".part";
  constexpr size_t kPartialLength = sizeof kPartial - 1;
  IoResult result;
  std::vector<std::string> names = ListFilesWithPrefix(base.empty() ? "." : base, prefix, &result);
  if (!result.ok) return result;
  for (const std::string& name : names) {
    if (name.size() < prefix.size() + kPartialLength ||
        name.compare(name.size() - kPartialLength, kPartialLength, kPartial) != 0)
      continue;
    const std::string stamp =
        name.substr(prefix.size(), name.size() - prefix.size() - kPartialLength);
    if (CopyStampKey(stamp).empty()) continue;  // not a copy of this log
    bool missing = false;
    IoResult removed = RemoveFile(base + name, &missing);
    if (!removed.ok && !missing && result.ok) result = removed;
  }
  return result;
}

bool LogFile::Replicate() {
  return ReplicateAt(CalendarSeconds());
}

bool LogFile::CopyDue(int64_t now) const {
  // IsOpen: the main thread's read of the mapping.
  return IsOpen() && replicationPeriod != 0 && now - lastReplication >= replicationPeriod;
}

std::optional<LogCopy> LogFile::StartCopy(int64_t now) {
  std::string target = CopyName(now);
  LockGuard hold(mutex_);
  if (header_ == nullptr) {
    lastError_ = "copy of " + fileName + ": the log is closed";
    return std::nullopt;
  }
  if (copyJournal_ != nullptr && copyJournal_->Reading()) {
    // One copy of a log at a time.
    lastError_ = "copy of " + fileName + ": another copy is still being taken";
    return std::nullopt;
  }
  ReadOnlyFile source;
  IoResult result = file_.OpenReader(&source);
  if (!result.ok) {
    lastError_ = result.message;
    return std::nullopt;
  }
  // The image of the file as its own header describes it (its stored capacity).
  copyJournal_ = std::make_shared<LogCopyJournal>(*header_);
  return LogCopy(std::move(target), std::move(source), FileBytes(header_->capacity), copyJournal_,
                 kCopyChunkSize, now);
}

bool LogFile::ReplicateAt(int64_t now) {
  if (!CopyDue(now)) return false;
  std::optional<LogCopy> copy = StartCopy(now);
  if (!copy) return false;
  IoResult result = copy->Run();
  if (!result.ok) {
    lastError_ = result.message;
    return false;
  }
  lastError_.clear();
  lastReplication = now;
  return true;
}

}  // namespace orvexa
