#include "logging/record_order.h"

#include <algorithm>

namespace orvexa {

void RecordOrder::Invalidate() {
  known_ = false;
  overflow_ = false;
  descents_.clear();
}

void RecordOrder::Check(const LogRecord* records, uint32_t k) {
  if (records[k - 1].time > records[k].time) {
    Insert(k);
  } else if (!descents_.empty()) {
    descents_.erase(k);
  }
}

void RecordOrder::Insert(uint32_t k) {
  if (overflow_) return;
  descents_.insert(k);
  if (descents_.size() > kMaxDescents) {
    overflow_ = true;
    descents_.clear();
  }
}

void RecordOrder::Build(const LogFileHeader* header, const LogRecord* records,
                        uint32_t mappedSlots) {
  Invalidate();
  known_ = true;
  if (header == nullptr || records == nullptr) return;
  const uint32_t capacity = std::min(header->capacity, mappedSlots);
  const uint32_t next = std::min(header->nextIndex, capacity);
  const uint32_t count = std::min(header->count, capacity);
  // One pass that only compares; the set is touched at the descents alone.
  auto scan = [&](uint32_t from, uint32_t to) {
    for (uint32_t k = from + 1; k < to && !overflow_; ++k) {
      if (records[k - 1].time > records[k].time) Insert(k);
    }
  };
  scan(0, next);
  if (count > next) scan(capacity - std::min(count - next, capacity - next), capacity);
}

void RecordOrder::Written(const LogRecord* records, uint32_t mappedSlots, uint32_t slot) {
  if (!known_ || overflow_ || slot >= mappedSlots) return;
  if (slot > 0) Check(records, slot);
  if (slot + 1 < mappedSlots) Check(records, slot + 1);
}

bool RecordOrder::Ordered(uint32_t from, uint32_t to) const {
  if (!known_ || overflow_) return false;
  auto it = descents_.upper_bound(from);
  return it == descents_.end() || *it >= to;
}

uint32_t RecordOrder::StretchEnd(uint32_t from, uint32_t to) const {
  auto it = descents_.upper_bound(from);
  return it != descents_.end() && *it < to ? *it : to;
}

uint32_t RecordOrder::StretchBegin(uint32_t from, uint32_t to) const {
  auto it = descents_.lower_bound(to);
  if (it == descents_.begin()) return from;
  --it;
  return *it > from ? *it : from;
}

}  // namespace orvexa
