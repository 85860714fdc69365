// Test helpers over the history query: the records a history request would send, copied
// out, and the number the filter accepts over the runs of a range query. Built on
// VisitHistory and HistoryFilter; called by the history query tests on one thread.
#pragma once

#include <cstdint>
#include <vector>

#include "logging/history_filter.h"
#include "logging/history_query.h"
#include "logging/log_record.h"
#include "logging/record_order.h"

namespace orvexa::test {

// What VisitHistory hands out, copied in order. The same query is also run searched
// (with a RecordOrder of the records) and a difference fails the calling test.
std::vector<LogRecord> SelectHistory(const LogFileHeader* header, const LogRecord* records,
                                     uint32_t mappedSlots, int64_t now, uint32_t spanOrStart,
                                     uint16_t mode, uint32_t limit);

// The number of records the filter accepts over both runs (mode 0: all of them; other
// modes than 0, 1 and 2: none). Resets the filter first.
uint32_t CountAccepted(HistoryFilter& filter, uint16_t mode, uint32_t limit,
                       const RecordRuns& runs);

}  // namespace orvexa::test
