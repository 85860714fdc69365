// What the plug-in shows its operator: the "Port selection" window and the "Error
// opening port" message. Headless there is no window: the message becomes one line on
// standard error and the configuration command only stores the settings. A GUI module
// installs its own functions through the exported Pinvane* setters (see
// pinvane_entry.cpp); they have a C signature so that a separately built module can.
// The port dialog is shown on the host's main thread (inside LDPConfig); the message on
// the reader thread, which waits until the function returns. Installing is atomic.
#pragma once

#include <cstdint>

#include "port_choice.h"

extern "C" {
// Shows the port window preset with *portIndex and portPath (NUL-terminated, room for
// pathCapacity bytes). Returns non-zero when the operator confirmed with OK, having
// stored the chosen index (0..100) and path ("" for none) back.
typedef int (*PinvanePortDialog)(int32_t* portIndex, char* portPath, int32_t pathCapacity);
// Shows `text` with `caption`. Called on the reader thread, which waits until it returns.
// A GUI must not make it wait for its main thread: LDPConfig and LDPDone run there and
// wait for the reader to stop, so such a box would deadlock; post the box and return.
typedef void (*PinvaneMessageBox)(const char* text, const char* caption);
}

namespace orvexa::pinvane {

class UserInterface {
 public:
  static void InstallPortDialog(PinvanePortDialog dialog);
  static void InstallMessageBox(PinvaneMessageBox messageBox);

  // True when a window was shown and confirmed; `choice` then holds the result.
  static bool ChoosePort(PortChoice* choice);
  // A message box when one is installed, else "caption: text" on standard error.
  static void ShowMessage(const char* text, const char* caption);
  // Extra detail for the developer, on standard error only when ORVEXA_DEBUG is set.
  static void Debug(const std::string& line);
};

}  // namespace orvexa::pinvane
