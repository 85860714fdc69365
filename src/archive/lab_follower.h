// Follows one lab server for the archive: on its own thread it keeps an observer
// connection to the server and a connection to the database, and for every readable
// channel reads the history after the channel's cursor and appends what is new (see
// HistoryAlignment for how new records are told from the archive's tail). A backlog is
// read a full reply at a time until the channel is caught up; then the channel is read
// again every interval. A failure of the server or the database is reported on standard
// error and retried with growing pauses; the cursor only ever comes from the database,
// so nothing uncommitted is taken as done. Between channels, every interval, the
// finished experiments and bursts the server holds are stored once each, long before
// the server's store of 100 evicts them. The server sees one more observer client.
//
// Owned and run by the archiver's main function, one thread per lab; `stop` is set from
// the main thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "archive/archive_store.h"
#include "archive/lab_connection.h"

namespace orvexa::archive {

struct LabSettings {
  std::string lab;  // the LabId the archive files the lab's channels under
  std::string url;
  ServerAddress address;
  std::string credential;
};

struct FollowSettings {
  std::string database;  // libpq connection string; empty: the PG* environment
  std::chrono::milliseconds interval{2000};
  size_t commitRows = 50000;  // records per transaction during a backfill
  bool once = false;          // end after the first pass that catches every channel up
  int keepRawDays = 14;       // days kept as rows before they are packed per hour
};

class LabFollower {
 public:
  LabFollower(LabSettings lab, FollowSettings settings, const std::atomic<bool>& stop);
  ~LabFollower();

  // Follows until `stop`; with `once`, until one pass has caught up every channel.
  // True when the last pass succeeded.
  bool Run();

 private:
  struct Channel {
    LabChannel source;
    int key = 0;
    std::optional<ChannelCursor> cursor;  // unset: to be read from the database
    std::chrono::steady_clock::time_point nextRealign{};
    bool reportedStuck = false;
  };

  void Pass();
  // Every interval: archives the finished experiments and bursts not archived yet.
  void ArchiveExperiments();
  // False when the server no longer holds the experiment as listed.
  bool ArchiveExperiment(const LabExperiment& experiment);
  void Follow(Channel& channel);
  std::optional<size_t> Realign(Channel& channel, const LogRecords& tail, LogRecords* reply);
  // The span that reaches back to `start` (by this machine's clock), plus the margin and
  // `extra` seconds.
  uint32_t SpanBackTo(uint32_t start, uint64_t extra) const;
  void Report(const std::string& text) const;
  bool Pause(std::chrono::milliseconds span) const;

  LabSettings lab_;
  FollowSettings settings_;
  const std::atomic<bool>& stop_;
  std::unique_ptr<ArchiveStore> store_;
  std::unique_ptr<LabConnection> server_;
  std::vector<Channel> channels_;
  std::chrono::steady_clock::time_point nextExperiments_{};
  // A server that does not know the every-owner list ends the connection; its logs are
  // archived without its experiments until then.
  std::chrono::steady_clock::time_point experimentsSkippedUntil_{};
  bool experimentsListed_ = false;  // on the current connection
  // (id, start time) of the finished experiments the server lists that are archived.
  std::set<std::pair<uint32_t, uint32_t>> archivedExperiments_;
};

}  // namespace orvexa::archive
