#include "flood_client.h"

#include <chrono>

namespace orvexa::interference {
namespace {

constexpr int kTimeoutMs = 15000;
constexpr uint32_t kLongestWindow = 0xFFFFFF;  // seconds, about 194 days

}  // namespace

const char* FloodKindName(FloodKind kind) {
  switch (kind) {
    case FloodKind::kHistoryHourly:
      return "ReadHistory mode 1, whole log";
    case FloodKind::kHistoryWindow:
      return "ReadHistory mode 2, 194 days";
    case FloodKind::kExperimentUnread:
      return "ReadExperiment 4 M samples, unread";
    case FloodKind::kFastSamples:
      return "ReadFastSamples, whole buffer";
    case FloodKind::kChurn:
      return "connect + Hello + ReadValue + close";
    case FloodKind::kHistorySteppedBack:
      return "ReadHistory mode 1, clock set back once";
  }
  return "?";
}

FloodClient::FloodClient(const BenchContext& context, FloodKind kind, uint32_t seed)
    : c_(context), kind_(kind), rng_(seed) {}

FloodClient::~FloodClient() {
  RequestStop();
  Join();
}

void FloodClient::Start() {
  thread_ = std::thread([this] { Run(); });
}

void FloodClient::Join() {
  if (thread_.joinable()) thread_.join();
}

void FloodClient::Run() {
  while (!stop_) {
    try {
      Cycle();
    } catch (const client::ClientError&) {
      ++errors_;
      client_.reset();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  client_.reset();
}

client::ProtocolClient& FloodClient::Connected() {
  if (!client_) client_ = ConnectObserver(c_, client::Transport::kTcp, kTimeoutMs);
  return *client_;
}

void FloodClient::Cycle() {
  const int64_t begin = MonotonicNanoseconds();
  switch (kind_) {
    case FloodKind::kHistoryHourly:
      HistoryHourly(c_.logged, c_.logOldest);
      break;
    case FloodKind::kHistorySteppedBack:
      HistoryHourly(c_.steppedBack, c_.steppedBackOldest);
      break;
    case FloodKind::kHistoryWindow:
      HistoryWindow();
      break;
    case FloodKind::kExperimentUnread:
      ExperimentUnread();
      break;
    case FloodKind::kFastSamples:
      FastSamples();
      break;
    case FloodKind::kChurn:
      Churn();
      break;
  }
  ++cycles_;
  durations_.push_back(static_cast<double>(MonotonicNanoseconds() - begin) / 1e6);
}

void FloodClient::ReadHistoryReply() {
  const uint32_t n = client_->ReadU32();
  client_->ReadBytes(size_t{n} * 8);
}

void FloodClient::HistoryHourly(uint16_t channel, uint32_t oldest) {
  auto& client = Connected();
  const uint32_t span = CalendarTime32() - oldest + 60;
  const uint32_t hour = std::uniform_int_distribution<uint32_t>(0, 23)(rng_);
  client.U8(8).U16(channel).U32(span).U16(1).U32(hour).Send();
  ReadHistoryReply();
}

void FloodClient::HistoryWindow() {
  auto& client = Connected();
  const uint32_t start = c_.logOldest + std::uniform_int_distribution<uint32_t>(0, 86400)(rng_);
  const int pick = std::uniform_int_distribution<int>(0, 2)(rng_);
  const uint32_t code = pick == 0   ? std::uniform_int_distribution<uint32_t>(0, 23)(rng_)
                        : pick == 1 ? 25   // one sample a minute: capped at 131072
                                    : 27;  // one sample an hour
  client.U8(8).U16(c_.logged).U32(start).U16(2).U32(code << 24 | kLongestWindow).Send();
  ReadHistoryReply();
}

void FloodClient::ExperimentUnread() {
  auto client = ConnectObserver(c_, client::Transport::kTcp, kTimeoutMs);
  SendLargestExperimentRead(*client, c_);
  SendLargestExperimentRead(*client, c_);
  // Hold the replies unread for a second, then leave them to the server to clean up.
  const int64_t until = NowMs() + 1000;
  while (!stop_ && NowMs() < until) std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

void FloodClient::FastSamples() {
  auto& client = Connected();
  const bool fast = cycles_ % 2 == 0;
  client.U8(12).U16(fast ? c_.fast : c_.slow).U8(0).U32(fast ? c_.fastBuffer : c_.slowBuffer);
  client.U16(0).Send();
  const uint32_t n = client.ReadU32();
  client.ReadBytes(size_t{n} * 8);
  if (n > 0) client.ReadU32();
}

void FloodClient::Churn() {
  const auto transport = cycles_ % 2 == 0 ? client::Transport::kTcp : client::Transport::kWebSocket;
  auto client = ConnectObserver(c_, transport, kTimeoutMs);
  client->ReadValue(c_.logged);
}

}  // namespace orvexa::interference
