#include "archive/lab_follower.h"

#include <algorithm>
#include <iostream>
#include <pqxx/except>
#include <thread>

#include "archive/history_alignment.h"

namespace orvexa::archive {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kFirstRetry = std::chrono::milliseconds(500);
constexpr auto kLastRetry = std::chrono::milliseconds(30000);
// A channel whose log does not continue the archive is looked at again after this.
constexpr auto kRealignPause = std::chrono::seconds(30);
// The realignment looks back 1, 2, 4 ... seconds, up to the request's widest window.
constexpr int kRealignSteps = 25;
constexpr uint32_t kLatestStart = 0x7FFFFFFF;  // the request takes the start as signed

}  // namespace

LabFollower::LabFollower(LabSettings lab, FollowSettings settings, const std::atomic<bool>& stop)
    : lab_(std::move(lab)), settings_(std::move(settings)), stop_(stop) {}

LabFollower::~LabFollower() = default;

void LabFollower::Report(const std::string& text) const {
  std::cerr << "orvexa-archiver: " << lab_.lab << ": " << text << std::endl;
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
  for (auto& c : channels_) {
    if (stop_.load()) return;
    if (c.key == 0) c.key = store_->ChannelKey(lab_.lab, c.source.id);
    Follow(c);
  }
}

void LabFollower::Follow(Channel& c) {
  while (!stop_.load()) {
    if (!c.cursor) c.cursor = store_->Cursor(c.key);
    const ChannelCursor cursor = *c.cursor;
    uint32_t start = cursor.seq == 0 ? 0 : std::min(cursor.lastTime, kLatestStart);
    LogRecords reply = server_->HistoryFrom(c.source.number, start);
    const bool full = reply.size() >= LabConnection::kReplyCap;
    std::optional<size_t> first = 0;
    if (cursor.seq != 0) {
      first = FirstNewRecord(store_->Tail(c.key, cursor, start, reply.size()), reply);
      if (!first) first = Realign(c, &reply);
    }
    if (!first) return;
    for (size_t from = *first; from < reply.size(); from += settings_.commitRows) {
      LogRecords chunk(reply.begin() + from,
                       reply.begin() + std::min(reply.size(), from + settings_.commitRows));
      c.cursor = store_->Append(c.key, *c.cursor, chunk);
      if (stop_.load()) return;
    }
    if (!full) return;
  }
}

std::optional<size_t> LabFollower::Realign(Channel& c, LogRecords* reply) {
  if (Clock::now() < c.nextRealign) return std::nullopt;
  const ChannelCursor cursor = *c.cursor;
  LogRecords latest = *reply;
  for (int step = 0; step < kRealignSteps; ++step) {
    int64_t start =
        static_cast<int64_t>(std::min(cursor.lastTime, kLatestStart)) - (int64_t{1} << step);
    if (start < 0) break;
    LogRecords probe = server_->HistoryFrom(c.source.number, static_cast<uint32_t>(start));
    auto first = FirstNewRecord(
        store_->Tail(c.key, cursor, static_cast<uint32_t>(start), probe.size()), probe);
    if (first) {
      if (c.reportedStuck || *first < probe.size())
        Report("channel " + c.source.id + ": its log goes on after a clock step back");
      c.reportedStuck = false;
      *reply = std::move(probe);
      return first;
    }
  }
  if (FollowsAfterGap(latest, cursor.lastTime)) {
    Report("channel " + c.source.id +
           ": the server's log no longer holds the archive's newest record (the log was "
           "reset, or overwritten while the archiver was away); archiving goes on from its "
           "oldest record");
    c.reportedStuck = false;
    return 0;
  }
  if (!c.reportedStuck && !latest.empty())
    Report("channel " + c.source.id +
           ": the server's log does not continue the archive (clock set back, log reset); "
           "waiting for it");
  c.reportedStuck = !latest.empty();
  c.nextRealign = Clock::now() + kRealignPause;
  return std::nullopt;
}

}  // namespace orvexa::archive
