// Fuzzes the broker address and lab name checks of orvexa.cfg: any text either parses to
// a host of allowed characters and a port in 1..65535, or is refused with a reason.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "publish/broker_address.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  auto address = orvexa::BrokerAddress::Parse(text, &error);
  if (address) {
    if (address->host.empty() || address->port < 1 || address->port > 65535) std::abort();
  } else if (error.empty()) {
    std::abort();
  }
  if (orvexa::BrokerAddress::ValidLabId(text) && text.find('/') != std::string::npos) std::abort();
  return 0;
}
