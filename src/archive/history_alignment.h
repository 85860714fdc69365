// Decides which records of a history reply are new to the archive. A reply for start S'
// is the stretch of the server's log ring that follows its newest record older than S';
// the archive's tail for S is the run of its newest records whose times are all at
// least S, and the record before that run is older than S. When the archive is a prefix
// of the log and S' <= S, the reply holds that tail, preceded by a record older than S
// (or at its very start), and whatever follows the tail is new. Comparing records (time
// and fixed-point value) rather than times alone keeps the records of a clock step back,
// which repeat earlier seconds, apart from true duplicates. Pure functions, called by
// LabFollower.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "archive/log_record.h"

namespace orvexa::archive {

// The index in `reply` of the first record new to the archive, given the archive's
// `tail` for `start`; nullopt when the reply does not hold the tail where it can stand
// (the reply starts too late, the clock stepped back past its start, the log was reset
// or the ring overwrote records the archive never saw). An empty tail (an empty
// archive) makes the whole reply new.
std::optional<size_t> FirstNewRecord(const LogRecords& tail, const LogRecords& reply,
                                     uint32_t start);

// When no reply continues the archive: true if the whole log (`reply`, from its oldest
// record) can only be records written after the archive's newest (all of it later than
// `lastTime`), so taking it loses the overwritten records in between but duplicates
// nothing.
bool FollowsAfterGap(const LogRecords& reply, uint32_t lastTime);

}  // namespace orvexa::archive
