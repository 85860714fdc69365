// The archive in PostgreSQL: creates and migrates its schema (the version table
// "archive_schema"), names each (lab, channel ID) with a small key, and appends a
// channel's new records together with its cursor in one transaction, so the cursor is
// never ahead of what is committed and a repeated read cannot add a record twice: every
// record carries its position in the channel's log as counted by the archive ("seq"),
// and the primary key (channel, t, seq) makes a duplicate fail loudly.
//
// One store (one database connection) per LabFollower thread; not shared. Database
// failures throw pqxx exceptions, which the caller reports and retries.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "archive/experiment_record.h"
#include "archive/log_record.h"

namespace orvexa::archive {

// Where a channel's archive ends: the seq of its newest record (0: none yet) and that
// record's time.
struct ChannelCursor {
  int64_t seq = 0;
  uint32_t lastTime = 0;
};

class ArchiveStore {
 public:
  // The schema version this program creates and reads.
  static constexpr int kSchemaVersion = 5;

  // Connects with a libpq connection string (empty: the PG* environment) and brings the
  // schema up to kSchemaVersion. Throws when the database refuses either.
  explicit ArchiveStore(const std::string& connection);
  ~ArchiveStore();
  ArchiveStore(const ArchiveStore&) = delete;
  ArchiveStore& operator=(const ArchiveStore&) = delete;

  // The key of (lab, channel ID), created with an empty cursor on first use.
  int ChannelKey(const std::string& lab, const std::string& channelId);
  ChannelCursor Cursor(int channel);
  // The archive's newest records of the channel whose times are all at least `start`
  // (the run after its newest record older than `start`), oldest first; at most `limit`
  // of them (a longer run comes back cut to its newest `limit + 1`).
  LogRecords Tail(int channel, const ChannelCursor& cursor, uint32_t start, size_t limit);
  // Appends `records` after `cursor` and moves the cursor, in one transaction; returns
  // the new cursor. Throws (and commits nothing) when the stored cursor is no longer
  // `cursor` (another archiver moved it) or the database refuses the rows.
  ChannelCursor Append(int channel, const ChannelCursor& cursor, const LogRecords& records);
  // The daily packing: every day partition older than `keepRawDays` days before `now`
  // (and older than every channel's newest record) is packed per channel and hour into
  // sample_hour and dropped, each day in one transaction. Idempotent. Returns the number
  // of days packed.
  int PackOldDays(int64_t now, int keepRawDays);

  // Experiments are known by (lab, id, start time): a server hands its ids out again
  // after a restart, never with the same start second.
  bool HasExperiment(const std::string& lab, const LabExperiment& experiment);
  // Stores a finished experiment with its channels and samples in one transaction;
  // false (and nothing written) when it is archived already.
  bool AddExperiment(const std::string& lab, const LabExperiment& experiment,
                     const std::vector<ExperimentChannelSamples>& channels);

 private:
  void Migrate();
  void EnsureDayPartitions(const LogRecords& records);

  struct Connection;  // the libpq connection, kept out of this header
  std::unique_ptr<Connection> connection_;
  std::set<int64_t> knownDays_;  // day partitions this connection has seen to exist
};

// "YYYY-MM-DD HH:MM:SS+00" for a calendar second, as COPY takes a timestamptz.
std::string UtcTimestampText(int64_t seconds);

}  // namespace orvexa::archive
