#include "soak_stats.h"

#include <algorithm>

namespace orvexa::soak {
namespace {

uint64_t Sum(const Counts& counts) {
  uint64_t total = 0;
  for (const auto& [kind, n] : counts) total += n;
  return total;
}

}  // namespace

void SoakStats::Served(const std::string& kind, uint64_t n) {
  std::lock_guard<std::mutex> hold(lock_);
  served_[kind] += n;
}

void SoakStats::FaultEffect(const std::string& kind, bool expected, const std::string& detail) {
  std::lock_guard<std::mutex> hold(lock_);
  ++faults_[kind];
  if (expected) return;
  ++unexpectedFaults_[kind];
  if (firstErrors_.size() < 20) firstErrors_.push_back("fault " + kind + ": " + detail);
}

void SoakStats::HealthyError(const std::string& kind, const std::string& detail) {
  std::lock_guard<std::mutex> hold(lock_);
  ++errors_[kind];
  if (firstErrors_.size() < 20) firstErrors_.push_back("healthy client: " + kind + ": " + detail);
}

void SoakStats::Note(const std::string& kind) {
  std::lock_guard<std::mutex> hold(lock_);
  ++notes_[kind];
}

void SoakStats::Failure(const std::string& line) {
  std::lock_guard<std::mutex> hold(lock_);
  failures_.push_back(line);
}

size_t SoakStats::BurstBegin(int64_t startMs) {
  std::lock_guard<std::mutex> hold(lock_);
  bursts_.emplace_back(startMs, -1);
  return bursts_.size() - 1;
}

void SoakStats::BurstEnd(size_t index, int64_t endMs) {
  std::lock_guard<std::mutex> hold(lock_);
  bursts_[index].second = endMs;
}

void SoakStats::FastGap(uint16_t channel, int64_t fromMs, int64_t toMs) {
  std::lock_guard<std::mutex> hold(lock_);
  // Several clients poll the same channel: a gap is known by where it starts (the
  // millisecond tick may differ by one between two clients' unwrapping).
  for (int64_t d = -1; d <= 1; ++d)
    if (gaps_.count({channel, fromMs + d})) return;
  gaps_[{channel, fromMs}] = toMs;
}

SoakStats::Snapshot SoakStats::Take(int64_t nowMs, int64_t slackMs) const {
  std::lock_guard<std::mutex> hold(lock_);
  Snapshot s;
  s.served = served_;
  s.faults = faults_;
  s.unexpectedFaults = unexpectedFaults_;
  s.errors = errors_;
  s.notes = notes_;
  s.requests = Sum(served_);
  s.faultCount = Sum(faults_);
  s.unexpectedFaultCount = Sum(unexpectedFaults_);
  s.errorCount = Sum(errors_);
  s.failures = failures_;
  s.firstErrors = firstErrors_;
  s.bursts = bursts_.size();
  for (const auto& [key, to] : gaps_) {
    const int64_t from = key.second;
    bool inBurst = std::any_of(bursts_.begin(), bursts_.end(), [&](const auto& b) {
      const int64_t end = b.second < 0 ? nowMs : b.second;
      return from < end + slackMs && to > b.first - slackMs;
    });
    if (inBurst) {
      ++s.gapsInBursts;
    } else {
      ++s.gapsOutside;
      if (s.outside.size() < 20) s.outside.push_back({key.first, from, to});
      s.longestGapOutside = std::max(s.longestGapOutside, to - from);
    }
  }
  return s;
}

}  // namespace orvexa::soak
