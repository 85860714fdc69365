// Decides which records of a history reply are new to the archive. A reply for start S
// is the stretch of the server's log ring that follows its newest record older than S;
// the archive's own tail for S is the run of its newest records whose times are all at
// least S. When the archive is a prefix of the log, the reply begins with exactly that
// tail and whatever follows it is new. Comparing records (time and fixed-point value)
// rather than times alone keeps the records of a clock step back, which repeat earlier
// seconds, apart from true duplicates. Pure functions, called by LabFollower.
#pragma once

#include <cstddef>
#include <optional>

#include "archive/log_record.h"

namespace orvexa::archive {

// The index in `reply` of the first record new to the archive, or nullopt when the reply
// does not continue `tail` (the clock stepped back past S, the log was reset, or the ring
// overwrote records the archive never saw).
std::optional<size_t> FirstNewRecord(const LogRecords& tail, const LogRecords& reply);

// When no start continues the archive: true if the reply can only be records written
// after the archive's newest (all of it later than `lastTime`), so taking it loses the
// overwritten records in between but duplicates nothing.
bool FollowsAfterGap(const LogRecords& reply, uint32_t lastTime);

}  // namespace orvexa::archive
