#include "publish/broker_address.h"

#include <cctype>

namespace orvexa {

std::optional<BrokerAddress> BrokerAddress::Parse(const std::string& url, std::string* error) {
  auto fail = [error](const char* why) {
    if (error != nullptr) *error = why;
    return std::nullopt;
  };
  std::string rest;
  for (const char* scheme : {"mqtt://", "tcp://"}) {
    const std::string prefix = scheme;
    if (url.compare(0, prefix.size(), prefix) == 0) rest = url.substr(prefix.size());
  }
  if (rest.empty()) return fail("expected mqtt://host[:port]");
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  BrokerAddress address;
  const size_t colon = rest.rfind(':');
  address.host = rest.substr(0, colon);
  if (address.host.empty()) return fail("no host");
  for (char c : address.host) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (!std::isalnum(u) && c != '.' && c != '-' && c != '_') return fail("invalid host name");
  }
  if (colon != std::string::npos) {
    const std::string digits = rest.substr(colon + 1);
    if (digits.empty() || digits.size() > 5) return fail("invalid port");
    int port = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return fail("invalid port");
      port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535) return fail("invalid port");
    address.port = port;
  }
  return address;
}

bool BrokerAddress::ValidLabId(const std::string& labId) {
  if (labId.empty() || labId.size() > 64) return false;
  for (char c : labId) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '/' || c == '+' || c == '#' || u <= ' ' || u == 0x7F) return false;
  }
  return true;
}

}  // namespace orvexa
