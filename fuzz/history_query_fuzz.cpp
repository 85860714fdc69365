// A log image read from disk steers the history query: a damaged header (next index,
// count or capacity beyond the mapping) and any request arguments must never make the
// query or the filter read outside the mapped records, and the searching query (with
// the ring's RecordOrder) must hand out exactly the records of a straightforward scan
// (walk back from the newest record, feed every record to the filter), whatever the
// times, ordered or not. Input: 12 bytes of request arguments, 12 bytes of header, then
// the record bytes. Bit 29 of the limit (unused by the filter) rewrites the times so
// that each run of slots is in time order, from the record bytes as gaps, and moves the
// request's start into the logged span, so that the searches are taken and exercised.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "logging/history_filter.h"
#include "logging/history_query.h"
#include "logging/record_order.h"
#include "protocol/history_wire.h"

namespace {

using namespace orvexa;

// The reference: the range query as a walk back from the newest slot, the mode-2
// window test, then every record fed to the filter, up to the reply cap.
std::vector<LogRecord> Scan(const LogFileHeader& h, const LogRecord* records, uint32_t slots,
                            int64_t now, uint32_t spanOrStart, uint16_t mode, uint32_t limit) {
  std::vector<LogRecord> out;
  if (mode > 2 || records == nullptr) return out;
  const uint32_t capacity = std::min(h.capacity, slots);
  if (capacity == 0) return out;
  const uint32_t next = std::min(h.nextIndex, capacity);
  const uint32_t count = std::min(h.count, capacity);
  const uint32_t start = HistoryStart(now, spanOrStart, mode);
  std::vector<LogRecord> since;
  uint32_t i = next;
  while (i > 0 && records[i - 1].time >= start) --i;
  if (i == 0 && count > next) {
    const uint32_t stop = capacity - std::min(count - next, capacity - next);
    uint32_t j = capacity;
    while (j > stop && records[j - 1].time >= start) --j;
    since.assign(records + j, records + capacity);
  }
  since.insert(since.end(), records + i, records + next);
  if (mode == kHistoryWindow && !since.empty() &&
      int64_t{since[0].time} > int64_t{spanOrStart} + WindowLength(limit)) {
    return out;
  }
  HistoryFilter filter;
  filter.FilterReset(mode, limit);
  for (const LogRecord& r : since) {
    if (out.size() == kHistoryReplyCap) break;
    if (filter.FilterAccept(mode, limit, r)) out.push_back(r);
  }
  return out;
}

// Each stretch of slots [from, to) in time order, the gaps taken from the record bytes:
// mostly under 70 minutes (many records per local hour), sometimes up to 12 days.
uint32_t OrderSlots(LogRecord* r, uint32_t from, uint32_t to) {
  if (from >= to) return 0;
  uint64_t t = r[from].time;
  for (uint32_t k = from + 1; k < to; ++k) {
    const uint32_t raw = r[k].time;
    t += (raw & 0x80000000u) ? (raw & 0xFFFFF) : (raw & 0xFFF);
    r[k].time = static_cast<uint32_t>(std::min<uint64_t>(t, UINT32_MAX));
  }
  return r[to - 1].time - r[from].time;
}

bool Same(const std::vector<LogRecord>& a, const std::vector<LogRecord>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(LogRecord)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A zone with summer time, so that the hour searches meet offset changes.
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orvexa;
  if (size < 24) return 0;
  uint32_t spanOrStart, limit, nowLow;
  std::memcpy(&spanOrStart, data, 4);
  std::memcpy(&limit, data + 4, 4);
  std::memcpy(&nowLow, data + 8, 4);
  LogFileHeader header;
  std::memcpy(&header, data + 12, sizeof header);
  const size_t slots = (size - 24) / sizeof(LogRecord);
  // Exactly the mapped slots, so the sanitizer sees any read past them.
  std::vector<LogRecord> records(slots);
  if (slots > 0) std::memcpy(records.data(), data + 24, slots * sizeof(LogRecord));
  const uint16_t mode = static_cast<uint16_t>(limit & 3);
  const uint32_t n = static_cast<uint32_t>(slots);
  if ((limit & (1u << 29)) && n > 0) {
    const uint32_t next = std::min(header.nextIndex, n);
    OrderSlots(records.data(), 0, next);
    OrderSlots(records.data(), next, n);
    uint32_t low = UINT32_MAX, high = 0;
    for (const LogRecord& r : records) {
      low = std::min(low, r.time);
      high = std::max(high, r.time);
    }
    const uint64_t range = uint64_t{high} - low + 1;
    if (mode == kHistoryWindow) {
      spanOrStart = static_cast<uint32_t>(low + spanOrStart % range);
    } else {
      nowLow = high + (nowLow & 0xFFFF);
      spanOrStart = static_cast<uint32_t>(spanOrStart % (range + 0x10000));
    }
  }
  const LogRecord* base = slots > 0 ? records.data() : nullptr;
  RecordOrder order;
  order.Build(&header, base, n);

  std::vector<LogRecord> searched;
  VisitHistory(
      &header, base, n, nowLow, spanOrStart, mode, limit,
      [&searched](const LogRecord* first, uint32_t count) {
        searched.insert(searched.end(), first, first + count);
      },
      &order);
  if (searched.size() > slots) __builtin_trap();
  std::vector<LogRecord> walked;
  VisitHistory(&header, base, n, nowLow, spanOrStart, mode, limit,
               [&walked](const LogRecord* first, uint32_t count) {
                 walked.insert(walked.end(), first, first + count);
               });
  const std::vector<LogRecord> reference = Scan(header, base, n, nowLow, spanOrStart, mode, limit);
  if (!Same(searched, reference) || !Same(walked, reference)) __builtin_trap();
  // The runs of the range query agree too, searched or walked.
  const uint32_t start = HistoryStart(nowLow, spanOrStart, mode);
  const RecordRuns a = SamplesSince(&header, base, n, start, &order);
  const RecordRuns b = SamplesSince(&header, base, n, start);
  if (a.older.first != b.older.first || a.older.count != b.older.count ||
      a.newer.first != b.newer.first || a.newer.count != b.newer.count) {
    __builtin_trap();
  }
  // The reply as the request encodes it: the same records, eight bytes each.
  std::vector<uint8_t> wire;
  VisitHistory(
      &header, base, n, nowLow, spanOrStart, mode, limit,
      [&wire](const LogRecord* first, uint32_t count) { EncodeHistory(first, count, &wire); },
      &order);
  if (wire.size() != searched.size() * kHistoryWireSize) __builtin_trap();
  return 0;
}
