// Where a log file's ring is known to be in time order. The history queries search the
// two runs of the ring by bisection, which gives the answer of a record-by-record walk
// only while the times within each run do not decrease; a file written while the clock
// went back, or damaged on disk, breaks that. RecordOrder remembers the slots k whose
// record is older than the one in slot k - 1 (a "descent"), so a query can ask in
// O(log n) whether a stretch of slots is ordered and otherwise fall back to the walk.
//
// A file out of order is searched stretch by stretch (the descents cut it into stretches
// in time order), so a clock set back now and then costs a query a bisection per
// stretch, not a walk over millions of records.
//
// Owned by LogFile: built when the file is opened (one pass over the slots in use,
// before other threads can see the mapping), then kept current by Append, so a query
// costs no pass over the file. All later calls run with the log file's lock held, like
// every other use of its mapping.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>

#include "logging/log_record.h"

namespace orvexa {

class RecordOrder {
 public:
  // Past this many descents the file is taken as unordered until it is reopened: the
  // queries then walk it as before, and the set stays small.
  static constexpr std::size_t kMaxDescents = 4096;

  // Forgets everything (the file was opened, reset or closed).
  void Invalidate();
  bool Known() const { return known_; }
  // Records the descents of the slots the ring uses now: [0, nextIndex) and its older
  // part at the end of the ring, with the header clamped to `mappedSlots`.
  void Build(const LogFileHeader* header, const LogRecord* records, uint32_t mappedSlots);
  // Slot `slot` was just written: re-checks the pairs (slot - 1, slot) and (slot, slot + 1).
  void Written(const LogRecord* records, uint32_t mappedSlots, uint32_t slot);
  // True when known and the times of slots [from, to) never decrease.
  bool Ordered(uint32_t from, uint32_t to) const;
  // Known, and not given up past kMaxDescents: the ordered stretches below may be asked.
  bool Usable() const { return known_ && !overflow_; }
  // Of slots [from, to): where the stretch in time order that begins at `from` ends (the
  // first descent after it, else `to`), and where the one that ends at `to` begins (the
  // last descent before it, else `from`). Only when Usable().
  uint32_t StretchEnd(uint32_t from, uint32_t to) const;
  uint32_t StretchBegin(uint32_t from, uint32_t to) const;

 private:
  void Check(const LogRecord* records, uint32_t k);
  void Insert(uint32_t k);

  bool known_ = false;
  bool overflow_ = false;
  std::set<uint32_t> descents_;  // k with records[k - 1].time > records[k].time
};

}  // namespace orvexa
