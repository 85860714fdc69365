// One logged record as the archive keeps it: the log's calendar second and the value in
// its fixed-point form (value × 256), which is exact where a float on the wire may not be
// compared safely. Shared by the history reader, the alignment and the database store;
// plain data, no locks.
#pragma once

#include <cstdint>
#include <vector>

namespace orvexa::archive {

struct LogRecord {
  uint32_t time = 0;
  int32_t raw = 0;
  bool operator==(const LogRecord&) const = default;
};

using LogRecords = std::vector<LogRecord>;

}  // namespace orvexa::archive
