// OperatorWindow: the seam between the application's start-up and shutdown steps and a
// window for the operator. Headless there is none and the application prints instead;
// the Qt view (src/ui) implements it. The core never sees the toolkit: it hands the
// window the server object, and the window drives the toolkit-free controllers
// (src/operator: settings_controller.h, kick_controller.h, log_settings_controller.h).
//
// Every call comes from the main thread, in this order: LoopBackend (when the main
// window object is constructed), ShowHelp (only for an invalid command line), Open
// (after the socket and the plug-ins are up, before the server-running flag), Close
// (at shutdown, after the settings are saved and before the server object goes).
#pragma once

#include <string>
#include <vector>

namespace orvexa {

class MainLoopBackend;
class ServerState;

class OperatorWindow {
 public:
  virtual ~OperatorWindow() = default;

  // The event loop that runs the main thread while the window is up; null keeps the
  // headless poll loop.
  virtual MainLoopBackend* LoopBackend() = 0;
  // The Help dialog, modal; returns once the operator closed it.
  virtual void ShowHelp(const std::vector<std::string>& lines) = 0;
  // Builds and shows the main window over `server`, titled `title`.
  virtual void Open(ServerState& server, const std::string& title) = 0;
  // Destroys the window; nothing of the server is touched afterwards.
  virtual void Close() = 0;
};

}  // namespace orvexa
