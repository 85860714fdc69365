#include "platform/debug_output.h"

#include <cstdio>
#include <cstdlib>

namespace orvexa {

bool DebugOutputEnabled() {
  static const bool enabled = std::getenv("ORVEXA_DEBUG") != nullptr;
  return enabled;
}

void DebugOutput(std::string_view text) {
  if (!DebugOutputEnabled()) return;
  std::fwrite(text.data(), 1, text.size(), stderr);
}

}  // namespace orvexa
