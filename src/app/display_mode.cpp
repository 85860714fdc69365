#include "app/display_mode.h"

#include <cstdlib>

namespace orvexa {

bool WantsOperatorWindow(const std::vector<std::string>& arguments,
                         const std::function<const char*(const char*)>& environment) {
  for (const std::string& argument : arguments)
    if (argument == "/headless" || argument == "-headless") return false;
  auto lookUp = environment ? environment : [](const char* name) { return std::getenv(name); };
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = lookUp(name);
    if (value != nullptr && value[0] != '\0') return true;
  }
  return false;
}

}  // namespace orvexa
