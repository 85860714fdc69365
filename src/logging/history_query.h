// History queries over a channel's mapped log file: the range query (every record at or
// after a start time, as at most two contiguous runs of slots, older run first) and the
// selection that ReadHistory sends (filter and cap, handed out stretch by stretch).
//
// Called by the history request on client worker threads with the log file's lock held
// (LogFile::ReadLocked): the runs point into the mapped file, which the periodic logger
// overwrites once the ring is full, so they are valid only while that lock is held. No
// state of its own.
//
// The header comes from a file on disk and is never trusted: nextIndex, count and
// capacity are clamped to the slots that are actually mapped.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "logging/history_filter.h"
#include "logging/log_record.h"
#include "logging/record_order.h"

namespace orvexa {

// A contiguous run of slots; an empty run has no pointer.
struct RecordRun {
  const LogRecord* first = nullptr;
  uint32_t count = 0;
};

struct RecordRuns {
  RecordRun older;
  RecordRun newer;  // empty when the records lie in one stretch of slots
};

// Largest number of records one history reply carries.
constexpr uint32_t kHistoryReplyCap = 131072;

// All records with time >= start, oldest first when `older` is read before `newer`.
// `mappedSlots` is the number of record slots the caller has mapped after the header.
// With `order` (the log file's), each stretch that it knows to be in time order is
// searched by bisection; without it (or past its descent limit) the walk from the newest
// record touches the records it returns plus one. Both give the same runs.
RecordRuns SamplesSince(const LogFileHeader* header, const LogRecord* records, uint32_t mappedSlots,
                        uint32_t start, const RecordOrder* order = nullptr);

// What a history request sends: the runs since the request's start (now - span for
// modes 0 and 1, the given start for mode 2), the mode-2 window test, the filter and the
// cap of 131072 records (the oldest accepted records are kept). `take` is called, oldest
// first, with each stretch of consecutive slots that is sent whole: whole runs for mode
// 0 and for unthinned windows, single records for the thinned modes. With `order`, runs
// in time order are searched (O(log n) per record or local hour sent) rather than fed to
// the filter record by record, stretch by stretch between the places where the clock
// went back; the records handed out are the same either way.
using HistoryStretch = std::function<void(const LogRecord* first, uint32_t count)>;
void VisitHistory(const LogFileHeader* header, const LogRecord* records, uint32_t mappedSlots,
                  int64_t now, uint32_t spanOrStart, uint16_t mode, uint32_t limit,
                  const HistoryStretch& take, const RecordOrder* order = nullptr);
// The start time a history request asks from (now - span, or the start for mode 2),
// clamped to the 32-bit time range of the log records.
uint32_t HistoryStart(int64_t now, uint32_t spanOrStart, uint16_t mode);

}  // namespace orvexa
