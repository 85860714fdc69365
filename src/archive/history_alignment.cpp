#include "archive/history_alignment.h"

#include <algorithm>

namespace orvexa::archive {

std::optional<size_t> FirstNewRecord(const LogRecords& tail, const LogRecords& reply) {
  if (reply.size() < tail.size()) return std::nullopt;
  if (!std::equal(tail.begin(), tail.end(), reply.begin())) return std::nullopt;
  return tail.size();
}

bool FollowsAfterGap(const LogRecords& reply, uint32_t lastTime) {
  return !reply.empty() && reply.front().time > lastTime;
}

}  // namespace orvexa::archive
