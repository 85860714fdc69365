#include "archive/history_alignment.h"

#include <algorithm>

namespace orvexa::archive {

std::optional<size_t> FirstNewRecord(const LogRecords& tail, const LogRecords& reply,
                                     uint32_t start) {
  if (tail.empty()) return 0;
  for (size_t p = 0; p + tail.size() <= reply.size(); ++p) {
    // The earliest place wins: only a replay of identical records offers two, and then
    // repeating some loses nothing where skipping some would.
    if (p > 0 && reply[p - 1].time >= start) continue;
    if (std::equal(tail.begin(), tail.end(), reply.begin() + p)) return p + tail.size();
  }
  return std::nullopt;
}

bool FollowsAfterGap(const LogRecords& reply, uint32_t lastTime) {
  return !reply.empty() && reply.front().time > lastTime;
}

}  // namespace orvexa::archive
