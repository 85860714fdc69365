#include "archive/lab_follower.h"

#include <algorithm>
#include <future>
#include <iostream>
#include <pqxx/except>
#include <stdexcept>
#include <thread>

#include "archive/history_alignment.h"
#include "protocol_api/request_catalog.h"

namespace orvexa::archive {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kFirstRetry = std::chrono::milliseconds(500);
constexpr auto kLastRetry = std::chrono::milliseconds(30000);
// A channel whose log does not continue the archive is looked at again after this.
constexpr auto kRealignPause = std::chrono::seconds(30);
// The realignment looks back 1, 2, 4 ... seconds, up to the whole log.
constexpr int kRealignSteps = 32;
// Seconds a reply reaches back beyond the archive's newest record, for the difference
// between this machine's clock and the server's.
constexpr int64_t kClockMargin = 10;
constexpr auto kExperimentsSkipped = std::chrono::minutes(10);
// Samples asked for in one experiment read (the server answers up to 4 M).
constexpr uint64_t kExperimentReadSamples = 1 << 20;

}  // namespace

LabFollower::LabFollower(LabSettings lab, FollowSettings settings, const std::atomic<bool>& stop)
    : lab_(std::move(lab)), settings_(std::move(settings)), stop_(stop) {}

LabFollower::~LabFollower() = default;

void LabFollower::Report(const std::string& text) const {
  // One line per event: libpq's messages run over several.
  std::string line;
  for (char ch : text) {
    bool blank = ch == '\n' || ch == '\t' || ch == '\r' || ch == ' ';
    if (!blank || (!line.empty() && line.back() != ' ')) line += blank ? ' ' : ch;
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  std::cerr << "orvexa-archiver: " << lab_.lab << ": " << line << std::endl;
}

bool LabFollower::Pause(std::chrono::milliseconds span) const {
  auto until = Clock::now() + span;
  while (!stop_.load()) {
    auto now = Clock::now();
    if (now >= until) return true;
    std::this_thread::sleep_for(
        std::min<Clock::duration>(until - now, std::chrono::milliseconds(100)));
  }
  return false;
}

bool LabFollower::Run() {
  auto retry = kFirstRetry;
  while (!stop_.load()) {
    bool ok = false;
    try {
      Pass();
      ok = true;
    } catch (const pqxx::broken_connection& e) {
      Report(std::string("the database connection failed: ") + e.what());
      store_.reset();
    } catch (const pqxx::failure& e) {
      Report(std::string("the database refused: ") + e.what());
      store_.reset();
    } catch (const client::ClientError& e) {
      Report("the server at " + lab_.url + " failed: " + e.what());
      server_.reset();
    } catch (const std::exception& e) {
      Report(e.what());
      store_.reset();
      server_.reset();
    }
    if (!store_)  // whatever was in flight may or may not be committed: ask again
      for (auto& c : channels_) c.cursor.reset();
    if (ok) {
      retry = kFirstRetry;
      if (settings_.once) return true;
      if (!Pause(settings_.interval)) break;
    } else {
      if (settings_.once && stop_.load()) return false;
      Report("retrying in " + std::to_string(retry.count()) + " ms");
      if (!Pause(retry)) break;
      retry = std::min(retry * 2, kLastRetry);
    }
  }
  return false;
}

void LabFollower::Pass() {
  if (!store_) store_ = std::make_unique<ArchiveStore>(settings_.database);
  if (!server_) {
    auto server = std::make_unique<LabConnection>();
    server->Open(lab_.address, lab_.credential);
    server_ = std::move(server);
    experimentsListed_ = false;
    // The server's channel list may have changed while it was away.
    std::vector<Channel> listed;
    for (auto& source : server_->ReadableChannels()) {
      Channel c;
      c.source = source;
      for (auto& old : channels_)
        if (old.source.id == source.id) c = old, c.source = source;
      listed.push_back(std::move(c));
    }
    channels_ = std::move(listed);
  }
  ArchiveExperiments();
  for (auto& c : channels_) {
    if (stop_.load()) return;
    ArchiveExperiments();
    if (c.key == 0) c.key = store_->ChannelKey(lab_.lab, c.source.id);
    Follow(c);
  }
}

void LabFollower::ArchiveExperiments() {
  const auto now = Clock::now();
  if (now < nextExperiments_ || now < experimentsSkippedUntil_) return;
  nextExperiments_ = now + settings_.interval;
  std::vector<LabExperiment> listed;
  try {
    listed = server_->ListAllExperiments();
  } catch (const client::ClientError&) {
    if (!experimentsListed_) {
      Report("the server at " + lab_.url +
             " does not list every experiment (an older server?); its experiments are not "
             "archived for the next 10 minutes");
      experimentsSkippedUntil_ = now + kExperimentsSkipped;
    }
    throw;
  }
  experimentsListed_ = true;
  std::set<std::pair<uint32_t, uint32_t>> finished;
  for (const auto& e : listed) {
    if (e.recording) continue;  // archived once it has finished
    const std::pair<uint32_t, uint32_t> key{e.id, e.startTime};
    finished.insert(key);
    if (archivedExperiments_.count(key) != 0) continue;
    if (store_->HasExperiment(lab_.lab, e) || ArchiveExperiment(e))
      archivedExperiments_.insert(key);
  }
  // Only what the server still holds needs remembering.
  std::erase_if(archivedExperiments_, [&](const auto& key) { return finished.count(key) == 0; });
}

bool LabFollower::ArchiveExperiment(const LabExperiment& e) {
  std::vector<uint16_t> numbers;
  if (e.burst) {
    for (int s = 0; s < kBurstSlotCount; ++s) numbers.push_back(kFirstBurstSlot + s);
  } else {
    // Numbers from 1001 on name burst slots: a channel beyond 1000 cannot be read back.
    for (const auto& c : channels_)
      if (c.source.number < kFirstBurstSlot) numbers.push_back(c.source.number);
  }
  std::vector<ExperimentChannelSamples> counted;
  if (!server_->ReadExperiment(e.id, numbers, false, &counted)) return false;
  std::vector<ExperimentChannelSamples> channels;
  std::set<std::string> named;
  // The recorded channels, read a bounded number of samples at a time.
  for (size_t from = 0; from < counted.size();) {
    std::vector<uint16_t> part;
    uint64_t samples = 0;
    for (; from < counted.size(); ++from) {
      if (counted[from].stored == ExperimentChannelSamples::kNotRecorded) continue;
      if (!part.empty() && samples + counted[from].stored > kExperimentReadSamples) break;
      part.push_back(counted[from].number);
      samples += counted[from].stored;
    }
    if (part.empty()) break;
    std::vector<ExperimentChannelSamples> read;
    if (!server_->ReadExperiment(e.id, part, true, &read)) return false;
    for (auto& c : read) {
      if (c.stored == ExperimentChannelSamples::kNotRecorded) continue;
      if (c.number >= kFirstBurstSlot) {
        c.channelId = "burst_" + std::to_string(c.number - kFirstBurstSlot);
      } else {
        for (const auto& source : channels_)
          if (source.source.number == c.number) c.channelId = source.source.id;
      }
      // Two channels of one ID cannot be told apart in the archive: the first is kept.
      if (c.channelId.empty() || !named.insert(c.channelId).second) continue;
      channels.push_back(std::move(c));
    }
  }
  // The id may have been taken again while it was read (a recording that asked for it):
  // what was read counts only if the server still lists the same finished experiment.
  const auto listed = server_->ListAllExperiments();
  const bool unchanged = std::any_of(listed.begin(), listed.end(), [&](const LabExperiment& now) {
    return now.id == e.id && now.startTime == e.startTime && !now.recording;
  });
  if (!unchanged) return false;
  store_->AddExperiment(lab_.lab, e, channels);
  return true;
}

uint32_t LabFollower::SpanBackTo(uint32_t start, uint64_t extra) const {
  const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  int64_t span = now - static_cast<int64_t>(start) + kClockMargin + static_cast<int64_t>(extra);
  return static_cast<uint32_t>(std::clamp<int64_t>(span, 0, LabConnection::kWholeLog));
}

void LabFollower::Follow(Channel& c) {
  // During a backlog the next reply is read while the current one is written.
  std::future<LogRecords> next;
  while (!stop_.load()) {
    if (!c.cursor) c.cursor = store_->Cursor(c.key);
    const ChannelCursor cursor = *c.cursor;
    // The reply reaches back a little before the archive's newest second, so it holds
    // the archive's tail to match against.
    LogRecords reply = next.valid()
                           ? next.get()
                           : server_->HistoryBack(c.source.number,
                                                  cursor.seq == 0 ? LabConnection::kWholeLog
                                                                  : SpanBackTo(cursor.lastTime, 0));
    std::optional<size_t> first = 0;
    if (cursor.seq != 0) {
      LogRecords tail = store_->Tail(c.key, cursor, cursor.lastTime, LabConnection::kReplyCap);
      // Without its newest records the archive cannot tell what is new; guessing would
      // repeat or drop records.
      if (tail.empty())
        throw std::runtime_error("channel " + c.source.id + ": the archive's newest record (seq " +
                                 std::to_string(cursor.seq) + ") is missing from sample_raw");
      first = FirstNewRecord(tail, reply, cursor.lastTime);
      if (!first) first = Realign(c, tail, &reply);
    }
    if (!first) return;
    // A reply cut at the cap: more is waiting, from the second this reply ends with (as
    // the request after these appends would ask). The server connection is the reading
    // thread's alone until the reply is taken; leaving early waits for it.
    if (reply.size() >= LabConnection::kReplyCap && *first < reply.size())
      next = std::async(std::launch::async,
                        [this, number = c.source.number, span = SpanBackTo(reply.back().time, 0)] {
                          return server_->HistoryBack(number, span);
                        });
    for (size_t from = *first; from < reply.size(); from += settings_.commitRows) {
      LogRecords chunk(reply.begin() + from,
                       reply.begin() + std::min(reply.size(), from + settings_.commitRows));
      c.cursor = store_->Append(c.key, *c.cursor, chunk);
      if (stop_.load()) return;
    }
    // A reply cut at the cap: more is waiting.
    if (reply.size() < LabConnection::kReplyCap) return;
  }
}

std::optional<size_t> LabFollower::Realign(Channel& c, const LogRecords& tail, LogRecords* reply) {
  if (Clock::now() < c.nextRealign) return std::nullopt;
  const ChannelCursor cursor = *c.cursor;
  // Reach further back, 1, 2, 4 ... s more, for the records the clock set back.
  for (int step = 0; step < kRealignSteps; ++step) {
    uint32_t span = SpanBackTo(cursor.lastTime, uint64_t{1} << step);
    LogRecords probe = server_->HistoryBack(c.source.number, span);
    if (auto first = FirstNewRecord(tail, probe, cursor.lastTime)) {
      if (c.reportedStuck || *first < probe.size())
        Report("channel " + c.source.id + ": its log goes on after a clock step back");
      c.reportedStuck = false;
      *reply = std::move(probe);
      return first;
    }
    if (span == LabConnection::kWholeLog) break;
  }
  LogRecords whole = server_->HistoryBack(c.source.number, LabConnection::kWholeLog);
  if (FollowsAfterGap(whole, cursor.lastTime)) {
    Report("channel " + c.source.id +
           ": the server's log no longer holds the archive's newest record (the log was "
           "reset, or overwritten while the archiver was away); archiving goes on from its "
           "oldest record");
    c.reportedStuck = false;
    *reply = std::move(whole);
    return 0;
  }
  if (!c.reportedStuck && !whole.empty())
    Report("channel " + c.source.id +
           ": the server's log does not continue the archive (clock set back, log reset); "
           "waiting for it");
  c.reportedStuck = !whole.empty();
  c.nextRealign = Clock::now() + kRealignPause;
  return std::nullopt;
}

}  // namespace orvexa::archive
