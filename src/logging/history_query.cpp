#include "logging/history_query.h"

#include <algorithm>
#include <vector>

#include "platform/local_calendar.h"

namespace orvexa {
namespace {

bool Before(const LogRecord& r, int64_t t) {
  return static_cast<int64_t>(r.time) < t;
}

// First index in [from, to) whose time is at least t, for records whose times do not
// decrease: galloping from `from`, so a nearby answer costs a few reads whatever the
// length of the run.
uint32_t FirstAtOrAfter(const LogRecord* r, uint32_t from, uint32_t to, int64_t t) {
  if (from >= to || !Before(r[from], t)) return from;
  uint32_t low = from;  // Before(r[low], t) holds
  uint32_t step = 1;
  while (step < to - low && Before(r[low + step], t)) {
    low += step;
    step *= 2;
  }
  const uint32_t high = step < to - low ? low + step : to;
  const LogRecord* hit =
      std::partition_point(r + low + 1, r + high, [t](const LogRecord& x) { return Before(x, t); });
  return static_cast<uint32_t>(hit - r);
}

// A lower bound of the first moment at or after x whose local hour is `wanted` (x itself
// when that cannot be told cheaply). While the zone's offset stays the same the local
// hours follow each other an hour apart, so the next `wanted` hour is computed; the
// offset is checked at both ends of the skipped stretch (shorter than a day, which never
// holds two offset changes that cancel out).
int64_t NextStartOfHour(int64_t x, int wanted) {
  int hour = 0;
  int64_t offset = 0;
  if (!LocalHourAndOffset(x, &hour, &offset)) return x;
  const int64_t local = x + offset;
  const int64_t intoHour = ((local % 3600) + 3600) % 3600;
  const int64_t hourOfDay = (((local - intoHour) / 3600) % 24 + 24) % 24;
  if (hourOfDay != hour || hour == wanted) return x;  // a leap second or an odd zone
  const int64_t next = x - intoHour + int64_t{(wanted - hour + 24) % 24} * 3600;
  int lastHour = 0;
  int64_t lastOffset = 0;
  if (!LocalHourAndOffset(next - 1, &lastHour, &lastOffset) || lastOffset != offset) return x;
  return next;
}

// The filtered modes over runs whose times do not decrease within each run. The filter
// itself decides every record it is fed; the search only leaves out records it would
// reject without changing its state: those before the mode-2 spacing or window, the
// rest of a local hour after its first record (same hour, same outcome), and the hours
// between one wanted hour and the next.
void VisitOrdered(const std::vector<RecordRun>& runs, uint16_t mode, uint32_t limit, uint32_t room,
                  const HistoryStretch& take) {
  if (mode == kHistoryFirstInHour && limit > 23) return;  // no hour matches
  const uint32_t code = ThinningCode(limit);
  const bool hourRule = mode == kHistoryFirstInHour || code < 24;
  const int wanted = mode == kHistoryFirstInHour ? static_cast<int>(limit) : static_cast<int>(code);
  HistoryFilter filter;
  filter.FilterReset(mode, limit);
  for (const RecordRun& run : runs) {
    const LogRecord* r = run.first;
    const uint32_t n = run.count;
    uint32_t k = 0;
    while (k < n && room > 0) {
      const bool opened = mode == kHistoryWindow && filter.WindowStarted();
      if (opened) {
        k = FirstAtOrAfter(r, k, n, filter.LastTaken() + filter.Step());
        if (k == n || static_cast<int64_t>(r[k].time) > filter.WindowEnd()) break;
        if (!hourRule && filter.Step() == 0) {
          // Every record up to the window's end, as one stretch.
          const uint32_t end = FirstAtOrAfter(r, k, n, filter.WindowEnd() + 1);
          const uint32_t taken = std::min(end - k, room);
          take(r + k, taken);
          filter.FilterAccept(mode, limit, r[k + taken - 1]);  // the last one taken
          room -= taken;
          k += taken;
          continue;
        }
      }
      const LogRecord& record = r[k];
      if (filter.FilterAccept(mode, limit, record)) {
        take(r + k, 1);
        --room;
      }
      if (!hourRule || (mode == kHistoryWindow && !opened)) {
        // A spacing step, or the record that opened the window (it marks no hour).
        ++k;
        continue;
      }
      const LocalHourSpan span = LocalHourSpanOf(record.time);
      uint32_t e = FirstAtOrAfter(r, k + 1, n, span.to);
      if (span.hour != wanted && e < n)
        e = FirstAtOrAfter(r, e, n, NextStartOfHour(span.to, wanted));
      k = e;
    }
  }
}

// The runs cut into stretches whose times do not decrease, in order (order usable).
// Within each stretch the search's skips are the filter's own decisions, whatever the
// filter's state when the stretch begins, so the stretches give the walk's records.
std::vector<RecordRun> OrderedStretches(const RecordRuns& runs, const LogRecord* records,
                                        const RecordOrder& order) {
  std::vector<RecordRun> stretches;
  for (const RecordRun* run : {&runs.older, &runs.newer}) {
    if (run->count == 0) continue;
    const uint32_t from = static_cast<uint32_t>(run->first - records);
    const uint32_t to = from + run->count;
    for (uint32_t k = from; k < to;) {
      const uint32_t end = order.StretchEnd(k, to);
      stretches.push_back({records + k, end - k});
      k = end;
    }
  }
  return stretches;
}

// Back from slot `to` while the records are at or after `start`, over slots [from, to):
// the first slot of the recent ones. Stretch by stretch with a usable order, else the
// walk.
uint32_t FirstRecentSlot(const LogRecord* records, uint32_t from, uint32_t to, uint32_t start,
                         const RecordOrder* order) {
  uint32_t i = to;
  if (order == nullptr || !order->Usable()) {
    while (i > from && records[i - 1].time >= start) --i;
    return i;
  }
  while (i > from) {
    const uint32_t begin = order->StretchBegin(from, i);
    const uint32_t k = FirstAtOrAfter(records, begin, i, start);
    if (k > begin) return k;  // record k - 1 is older than start
    i = begin;
  }
  return i;
}

}  // namespace

RecordRuns SamplesSince(const LogFileHeader* header, const LogRecord* records, uint32_t mappedSlots,
                        uint32_t start, const RecordOrder* order) {
  RecordRuns result;
  if (header == nullptr || records == nullptr) return result;
  const uint32_t capacity = std::min(header->capacity, mappedSlots);
  if (capacity == 0) return result;
  // A damaged header must not send the walk outside the mapping.
  const uint32_t next = std::min(header->nextIndex, capacity);
  const uint32_t count = std::min(header->count, capacity);

  // Back from the newest slot while the records are recent enough: found by bisection in
  // each stretch in time order, or by the walk without an order.
  const uint32_t i = FirstRecentSlot(records, 0, next, start, order);
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
    const uint32_t j = FirstRecentSlot(records, capacity - older, capacity, start, order);
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
                  const HistoryStretch& take, const RecordOrder* order) {
  if (mode != kHistoryAll && mode != kHistoryFirstInHour && mode != kHistoryWindow) return;
  const uint32_t start = HistoryStart(now, spanOrStart, mode);
  const RecordRuns runs = SamplesSince(header, records, mappedSlots, start, order);
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
  if (order != nullptr && order->Usable()) {
    VisitOrdered(OrderedStretches(runs, records, *order), mode, limit, room, take);
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
