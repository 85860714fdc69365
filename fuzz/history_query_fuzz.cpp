// A log image read from disk steers the history query: a damaged header (next index,
// count or capacity beyond the mapping) and any request arguments must never make the
// query or the filter read outside the mapped records. Input: 12 bytes of request
// arguments, 12 bytes of header, then the record bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "logging/history_query.h"
#include "protocol/history_wire.h"

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
  std::vector<LogRecord> out;
  VisitHistory(&header, slots > 0 ? records.data() : nullptr, static_cast<uint32_t>(slots), nowLow,
               spanOrStart, mode, limit, [&out](const LogRecord* first, uint32_t count) {
                 out.insert(out.end(), first, first + count);
               });
  if (out.size() > slots) __builtin_trap();
  // The reply as the request encodes it: the same records, eight bytes each.
  std::vector<uint8_t> wire;
  VisitHistory(&header, slots > 0 ? records.data() : nullptr, static_cast<uint32_t>(slots), nowLow,
               spanOrStart, mode, limit, [&wire](const LogRecord* first, uint32_t count) {
                 EncodeHistory(first, count, &wire);
               });
  if (wire.size() != out.size() * kHistoryWireSize) __builtin_trap();
  return 0;
}
