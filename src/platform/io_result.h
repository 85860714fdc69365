// Outcome of a platform call: ok, or a message that names the failing call, the path
// and the system's reason ("open(/x/orvexa.cfg): Permission denied").
#pragma once

#include <string>

namespace orvexa {

struct IoResult {
  bool ok = true;
  std::string message;

  static IoResult Success() { return {}; }
  static IoResult Failure(std::string text) { return {false, std::move(text)}; }
};

// "<call>(<path>): <strerror(error)>", or "<call>: <reason>" when path is empty.
std::string ErrnoMessage(const char* call, const std::string& path, int error);

}  // namespace orvexa
