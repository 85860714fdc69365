#include "logging/history_query.h"

#include <algorithm>

namespace orvexa {

RecordRuns SamplesSince(const LogFileHeader* header, const LogRecord* records, uint32_t mappedSlots,
                        uint32_t start) {
  RecordRuns result;
  if (header == nullptr || records == nullptr) return result;
  const uint32_t capacity = std::min(header->capacity, mappedSlots);
  if (capacity == 0) return result;
  // A damaged header must not send the walk outside the mapping.
  const uint32_t next = std::min(header->nextIndex, capacity);
  const uint32_t count = std::min(header->count, capacity);

  // Walk back from the newest slot while the records are recent enough.
  uint32_t i = next;
  while (i > 0 && records[i - 1].time >= start) --i;
  if (i > 0) {
    // Record i - 1 is older than start: everything after it is the answer.
    if (i < next) result.older = {records + i, next - i};
    return result;
  }

  RecordRun recent;
  if (next > 0) recent = {records, next};
  RecordRun wrapped;
  if (count > next) {
    // The ring has wrapped: slots next .. capacity - 1 hold the older records.
    const uint32_t older = std::min(count - next, capacity - next);
    uint32_t j = capacity;
    const uint32_t stop = capacity - older;
    while (j > stop && records[j - 1].time >= start) --j;
    if (j < capacity) wrapped = {records + j, capacity - j};
  }
  if (wrapped.count > 0) {
    result.older = wrapped;
    result.newer = recent;
  } else {
    result.older = recent;
  }
  return result;
}

uint32_t HistoryStart(int64_t now, uint32_t spanOrStart, uint16_t mode) {
  if (mode == kHistoryWindow) return spanOrStart;
  const int64_t start = now - static_cast<int64_t>(spanOrStart);
  return static_cast<uint32_t>(std::clamp<int64_t>(start, 0, UINT32_MAX));
}

void VisitHistory(const LogFileHeader* header, const LogRecord* records, uint32_t mappedSlots,
                  int64_t now, uint32_t spanOrStart, uint16_t mode, uint32_t limit,
                  const HistoryStretch& take) {
  if (mode != kHistoryAll && mode != kHistoryFirstInHour && mode != kHistoryWindow) return;
  const uint32_t start = HistoryStart(now, spanOrStart, mode);
  const RecordRuns runs = SamplesSince(header, records, mappedSlots, start);
  if (mode == kHistoryWindow && runs.older.count > 0) {
    // The whole query is empty when its first record lies beyond the requested window.
    const int64_t end = static_cast<int64_t>(spanOrStart) + WindowLength(limit);
    if (static_cast<int64_t>(runs.older.first[0].time) > end) return;
  }
  // Counting first and copying second (as the reply's count needs) accepts the same
  // records in both rounds, so one round that stops at the cap gives the same records.
  uint32_t room = kHistoryReplyCap;
  const uint32_t code = ThinningCode(limit);
  if (mode == kHistoryAll) {
    for (const RecordRun* run : {&runs.older, &runs.newer}) {
      const uint32_t n = std::min(run->count, room);
      if (n > 0) take(run->first, n);
      room -= n;
    }
    return;
  }
  if (mode == kHistoryWindow && code >= 24 && ThinningStep(code) == 0) {
    // A window without thinning, the filter's rules written out: the first record opens
    // the window; then every record up to its end that is not older than the last one
    // taken. Records in time order make one stretch per run.
    bool started = false;
    int64_t last = 0;
    int64_t end = 0;
    for (const RecordRun* run : {&runs.older, &runs.newer}) {
      const LogRecord* r = run->first;
      uint32_t k = 0;
      while (k < run->count && room > 0) {
        if (!started) {
          started = true;
          end = static_cast<int64_t>(r[k].time) + WindowLength(limit);
        } else {
          while (k < run->count && (r[k].time > end || r[k].time < last)) ++k;
          if (k == run->count) break;
        }
        const uint32_t from = k;
        last = r[k].time;
        ++k;
        while (k < run->count && k - from < room && r[k].time <= end && r[k].time >= last) {
          last = r[k].time;
          ++k;
        }
        take(r + from, k - from);
        room -= k - from;
      }
    }
    return;
  }
  HistoryFilter filter;
  filter.FilterReset(mode, limit);
  for (const RecordRun* run : {&runs.older, &runs.newer}) {
    for (uint32_t k = 0; k < run->count && room > 0; ++k) {
      if (filter.FilterAccept(mode, limit, run->first[k])) {
        take(run->first + k, 1);
        --room;
      }
    }
  }
}

}  // namespace orvexa
