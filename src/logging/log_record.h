// On-disk layout of a channel's log file: a 12-byte header followed by a ring of
// 8-byte records, all little-endian (the host's order on x86-64). The history queries
// read these structures directly from the mapped file, under the log file's lock.
#pragma once

#include <cstdint>

namespace orvexa {

struct LogFileHeader {
  uint32_t nextIndex;  // slot the next record is written to
  uint32_t count;      // valid records, at most capacity
  uint32_t capacity;   // record slots in the file
};
static_assert(sizeof(LogFileHeader) == 12);

struct LogRecord {
  uint32_t time;  // seconds since 1970 (UTC)
  int32_t value;  // measured value x 256, truncated toward zero
};
static_assert(sizeof(LogRecord) == 8);

// Every log file the server creates holds this many records: 120000012 bytes in all.
constexpr uint32_t kLogCapacity = 15000000;

}  // namespace orvexa
