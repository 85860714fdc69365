// The wire form of history samples in a ReadHistory reply: per record the u32 time and
// the f32 value / 256, big-endian. Called by the history request on client worker
// threads while it walks the selected records (under the log's own lock); no state of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "logging/log_record.h"

namespace orvexa {

// Bytes of one history sample on the wire.
constexpr size_t kHistoryWireSize = 8;
// Appends the wire form of `count` records to `out`.
void EncodeHistory(const LogRecord* first, uint32_t count, std::vector<uint8_t>* out);

}  // namespace orvexa
