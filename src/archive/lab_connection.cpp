#include "archive/lab_connection.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace orvexa::archive {
namespace {

constexpr uint8_t kObserver = 3;
constexpr uint8_t kReadHistory = 8;
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

}  // namespace orvexa::archive
