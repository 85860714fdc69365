// Fuzzes the client address text of a proxy's "X-Real-IP" header: any input parses or is
// refused without a crash, and what parses prints as a text that parses back to the
// same address.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "transport/host_address.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<orvexa::HostAddress> parsed = orvexa::HostAddress::Parse(text);
  if (!parsed) return 0;
  if (orvexa::HostAddress::Parse(parsed->ToString()) != parsed) std::abort();
  return 0;
}
