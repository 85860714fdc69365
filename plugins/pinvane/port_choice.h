// Which serial device the plug-in talks to: the stored "port_index" (0 = no port) and
// the optional "port_path" that names a device directly and wins when it is set. A
// non-zero index N means the N-th built-in serial port, /dev/ttyS<N-1> (the first port,
// "COM1" on the lab PC's old setup, is /dev/ttyS0). Plain value; no threads involved.
#pragma once

#include <cstdint>
#include <string>

namespace orvexa::pinvane {

struct PortChoice {
  int32_t index = 0;
  std::string path;

  // A reader runs for every choice except "no port" (index 0 and no path).
  bool WantsReader() const { return !path.empty() || index != 0; }
  // The device to open; "" when there is none (a negative index), which the reader
  // reports as a port it cannot open.
  std::string DevicePath() const {
    if (!path.empty()) return path;
    if (index > 0) return "/dev/ttyS" + std::to_string(index - 1);
    return "";
  }

  bool operator==(const PortChoice& other) const = default;
};

}  // namespace orvexa::pinvane
