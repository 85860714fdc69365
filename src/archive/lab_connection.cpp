#include "archive/lab_connection.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace orvexa::archive {
namespace {

constexpr uint8_t kObserver = 3;
constexpr uint8_t kReadHistory = 8;
constexpr uint32_t kNoExperiment = 0xFFFFFFFF;
// The server keeps 100 experiments and one slot holds at most 30000 samples; a reply
// far beyond either is garbage.
constexpr uint32_t kMaxListedExperiments = 65536;
constexpr uint32_t kMaxSlotSamples = 1 << 20;
// Every record since now - span, none thinned out.
constexpr uint16_t kSpanMode = 0;

}  // namespace

bool ParseServerAddress(const std::string& url, ServerAddress* address, std::string* error) {
  std::string_view rest = url;
  address->transport = client::Transport::kTcp;
  if (rest.starts_with("tcp://")) {
    rest.remove_prefix(6);
  } else if (rest.starts_with("ws://")) {
    rest.remove_prefix(5);
    address->transport = client::Transport::kWebSocket;
  }
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  size_t colon = rest.rfind(':');
  int port = 0;
  if (colon == std::string_view::npos || colon == 0) {
    *error = "server address \"" + url + "\" needs a host and a port (host:port)";
    return false;
  }
  auto [end, ec] = std::from_chars(rest.data() + colon + 1, rest.data() + rest.size(), port);
  if (ec != std::errc{} || end != rest.data() + rest.size() || port < 1 || port > 65535) {
    *error = "server address \"" + url + "\" has no valid port";
    return false;
  }
  address->host = std::string(rest.substr(0, colon));
  address->port = port;
  return true;
}

void LabConnection::Open(const ServerAddress& address, const std::string& credential) {
  client_.Connect(address.host, address.port, address.transport);
  uint8_t answer = client_.Hello(kObserver, nullptr, 100, credential);
  if (answer != 0)
    throw client::ClientError("the server refused the opening (answer " + std::to_string(answer) +
                              (answer == 4 ? ": not authorised)" : ")"));
}

std::vector<LabChannel> LabConnection::ReadableChannels() {
  std::vector<LabChannel> out;
  auto channels = client_.ListChannels();
  for (size_t i = 0; i < channels.size() && i < 0xFFFF; ++i)
    if (channels[i].flags & 1) out.push_back({static_cast<uint16_t>(i + 1), channels[i].id});
  return out;
}

LogRecords LabConnection::HistoryBack(uint16_t channel, uint32_t span) {
  client_.U8(kReadHistory).U16(channel).U32(std::min(span, kWholeLog)).U16(kSpanMode).U32(0);
  client_.Send();
  uint32_t n = client_.ReadU32();
  if (n > kReplyCap)
    throw client::ClientError("garbage from the server: a history reply of " + std::to_string(n) +
                              " records");
  LogRecords records(n);
  for (auto& r : records) {
    r.time = client_.ReadU32();
    float value = client_.ReadF32();
    // Logged values are whole multiples of 1/256 within 32 bits; anything else did not
    // come from a log.
    double raw = static_cast<double>(value) * 256.0;
    if (!std::isfinite(raw) || raw != std::trunc(raw) || raw < -2147483648.0 || raw > 2147483647.0)
      throw client::ClientError("garbage from the server: a logged value of " +
                                std::to_string(value));
    r.raw = static_cast<int32_t>(raw);
  }
  return records;
}

std::vector<LabExperiment> LabConnection::ListAllExperiments() {
  client_.Code(RequestCode::kListAllExperiments).U32(0).U32(0);
  client_.Send();
  uint32_t n = client_.ReadU32();
  if (n > kMaxListedExperiments)
    throw client::ClientError("garbage from the server: a list of " + std::to_string(n) +
                              " experiments");
  std::vector<LabExperiment> out(n);
  for (auto& e : out) {
    e.id = client_.ReadU32();
    e.recording = client_.ReadU8() != 0;
    e.startTime = client_.ReadU32();
    e.stopTime = client_.ReadU32();
    for (auto& byte : e.clientAddress) byte = client_.ReadU8();
    e.ownerKey = client_.ReadU32();
    e.burst = client_.ReadU8() != 0;
  }
  return out;
}

bool LabConnection::ReadExperiment(uint32_t id, const std::vector<uint16_t>& numbers,
                                   bool withSamples,
                                   std::vector<ExperimentChannelSamples>* channels) {
  client_.Code(RequestCode::kReadExperiment).U32(id).U32(static_cast<uint32_t>(numbers.size()));
  // From sequence 0 on, every sequence a log can hold but the very last.
  for (uint16_t number : numbers) client_.U16(number).U32(0).U32(withSamples ? 0xFFFFFFFF : 0);
  client_.Send();
  uint32_t k = client_.ReadU32();
  channels->clear();
  if (k == kNoExperiment) return false;
  if (k > numbers.size())
    throw client::ClientError("garbage from the server: " + std::to_string(k) + " results for " +
                              std::to_string(numbers.size()) + " channels");
  for (uint32_t i = 0; i < k; ++i) {
    ExperimentChannelSamples c;
    c.number = client_.ReadU16();
    c.stored = client_.ReadU32();
    uint32_t j = client_.ReadU32();
    if (std::find(numbers.begin(), numbers.end(), c.number) == numbers.end() ||
        j > kMaxSlotSamples || (!withSamples && j != 0))
      throw client::ClientError("garbage from the server: an experiment reply for channel " +
                                std::to_string(c.number) + " with " + std::to_string(j) +
                                " samples");
    c.samples.resize(j);
    for (auto& s : c.samples) {
      s.sequence = client_.ReadU32();
      s.time = client_.ReadU32();
      s.value = client_.ReadF32();
    }
    channels->push_back(std::move(c));
  }
  return true;
}

}  // namespace orvexa::archive
