#include "logging/log_copy.h"

#include <algorithm>
#include <vector>

#include "platform/partial_file.h"

namespace orvexa {

LogCopy& LogCopy::operator=(LogCopy&& other) noexcept {
  if (this != &other) {
    EndReading();
    target_ = std::move(other.target_);
    source_ = std::move(other.source_);
    bytes_ = other.bytes_;
    journal_ = std::move(other.journal_);
    writeChunk_ = other.writeChunk_;
    time_ = other.time_;
  }
  return *this;
}

IoResult LogCopy::Run(const std::atomic<bool>* stop) {
  // However the run ends, the journal stops growing (FinishReading again is harmless).
  struct EndOfReading {
    LogCopy& copy;
    ~EndOfReading() { copy.EndReading(); }
  } endOfReading{*this};
  PartialFile out;
  // Created first, so a copy that cannot be created fails before reading anything.
  IoResult result = out.Create(target_);
  if (!result.ok) return result;
  std::vector<char> buffer(static_cast<size_t>(std::min<uint64_t>(kReadChunk, bytes_)));
  for (uint64_t offset = 0; offset < bytes_;) {
    if ((stop != nullptr && stop->load()) || journal_->Cancelled()) {
      return IoResult::Failure("copy of " + target_ +
                               " abandoned: the log was closed or the "
                               "server is stopping");
    }
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(buffer.size(), bytes_ - offset));
    result = source_.ReadAt(offset, buffer.data(), chunk);
    if (!result.ok) return result;
    result = out.Append(buffer.data(), chunk, writeChunk_);
    if (!result.ok) return result;
    offset += chunk;
  }
  source_.Close();
  if (!journal_->FinishReading())
    return IoResult::Failure("copy of " + target_ + " abandoned: the log was closed");
  // Back to the instant of the copy: its header, then the slots rewritten since.
  const LogFileHeader& header = journal_->Header();
  result = out.WriteAt(0, &header, sizeof header);
  for (const auto& [slot, record] : journal_->Saved()) {
    if (!result.ok) break;
    const uint64_t at = sizeof(LogFileHeader) + uint64_t{slot} * sizeof(LogRecord);
    if (at + sizeof(LogRecord) <= bytes_) result = out.WriteAt(at, &record, sizeof record);
  }
  if (!result.ok) return result;
  return out.Commit();
}

}  // namespace orvexa
