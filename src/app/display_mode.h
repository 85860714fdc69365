// GUI or headless: the server shows its operator window when a display is available
// (DISPLAY or WAYLAND_DISPLAY set, or QT_QPA_PLATFORM naming a platform such as
// "offscreen") and runs headless otherwise; the option headless ("/headless" or
// "-headless") forces headless mode. Decided once in main before anything starts.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace orvexa {

// `arguments` without the program name; `environment` looks a variable up (null when
// unset); the default reads the process environment.
bool WantsOperatorWindow(const std::vector<std::string>& arguments,
                         const std::function<const char*(const char*)>& environment = nullptr);

}  // namespace orvexa
