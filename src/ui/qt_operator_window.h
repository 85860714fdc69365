// QtOperatorWindow: the operator window of the application in GUI mode. It lends the
// application Qt's event loop (QtEventLoop), shows the Help dialog, builds the main
// window over the server object once the server is up, wires the server's pieces into
// the window's model (settings, user table, kick flag, device tree, logging) and the
// server's threads to the window through posted work, and takes everything down again
// at shutdown.
//
// Main thread only; see OperatorWindow for the order of the calls.
#pragma once

#include <memory>

#include "app/operator_window.h"
#include "ui/main_window.h"
#include "ui/qt_event_loop.h"

namespace orvexa {

class QtOperatorWindow : public OperatorWindow {
 public:
  QtOperatorWindow();
  ~QtOperatorWindow() override;

  MainLoopBackend* LoopBackend() override { return &loop_; }
  void ShowHelp(const std::vector<std::string>& lines) override;
  void Open(ServerState& server, const std::string& title) override;
  void Close() override;

  // The main window while it is open, else null.
  MainWindow* window() const { return window_.get(); }
  // Builds the window's model over `server`.
  static MainWindowModel ModelFor(ServerState& server);

 private:
  QtEventLoop loop_;
  std::unique_ptr<MainWindow> window_;
  ServerState* server_ = nullptr;
};

}  // namespace orvexa
