// BrokerAddress: where the live-data publisher connects, parsed from the BrokerUrl setting
// ("mqtt://host[:port]" or "tcp://host[:port]", port 1883 when omitted). Also checks the
// lab name that becomes the topic prefix. Text from orvexa.cfg: nothing is assumed about it.
//
// Called on the main thread at start-up (and by the fuzz target); no state, no locks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orvexa {

struct BrokerAddress {
  static constexpr int kDefaultPort = 1883;

  std::string host;
  int port = kDefaultPort;

  // Nothing and a reason in *error when `url` is not a broker address.
  static std::optional<BrokerAddress> Parse(const std::string& url, std::string* error);
  // Whether `labId` can name a topic level: 1 to 64 characters, none of '/', '+', '#',
  // control characters or blanks.
  static bool ValidLabId(const std::string& labId);
};

}  // namespace orvexa
