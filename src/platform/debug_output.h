// The debugger output channel: diagnostic text (the configuration parser's trace) that a
// developer can watch. Written to standard error only when the environment variable
// ORVEXA_DEBUG is set; otherwise dropped.
//
// Safe from any thread; the environment is read once.
#pragma once

#include <string_view>

namespace orvexa {

bool DebugOutputEnabled();
void DebugOutput(std::string_view text);

}  // namespace orvexa
