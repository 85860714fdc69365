#include "history_selection.h"

#include <gtest/gtest.h>

namespace orvexa::test {

std::vector<LogRecord> SelectHistory(const LogFileHeader* header, const LogRecord* records,
                                     uint32_t mappedSlots, int64_t now, uint32_t spanOrStart,
                                     uint16_t mode, uint32_t limit) {
  std::vector<LogRecord> out;
  VisitHistory(header, records, mappedSlots, now, spanOrStart, mode, limit,
               [&out](const LogRecord* first, uint32_t count) {
                 out.insert(out.end(), first, first + count);
               });
  // The same query searched with the ring's order must hand out the same records.
  RecordOrder order;
  order.Build(header, records, mappedSlots);
  std::vector<LogRecord> searched;
  VisitHistory(
      header, records, mappedSlots, now, spanOrStart, mode, limit,
      [&searched](const LogRecord* first, uint32_t count) {
        searched.insert(searched.end(), first, first + count);
      },
      &order);
  bool same = searched.size() == out.size();
  for (size_t k = 0; same && k < out.size(); ++k) {
    same = searched[k].time == out[k].time && searched[k].value == out[k].value;
  }
  if (!same) {
    ADD_FAILURE() << "searched query gave " << searched.size() << " records, the walk "
                  << out.size() << " (or different ones)";
  }
  return out;
}

uint32_t CountAccepted(HistoryFilter& filter, uint16_t mode, uint32_t limit,
                       const RecordRuns& runs) {
  if (mode == kHistoryAll) return runs.older.count + runs.newer.count;
  if (mode != kHistoryFirstInHour && mode != kHistoryWindow) return 0;
  filter.FilterReset(mode, limit);
  uint32_t accepted = 0;
  for (const RecordRun* run : {&runs.older, &runs.newer}) {
    for (uint32_t k = 0; k < run->count; ++k) {
      if (filter.FilterAccept(mode, limit, run->first[k])) ++accepted;
    }
  }
  return accepted;
}

}  // namespace orvexa::test
