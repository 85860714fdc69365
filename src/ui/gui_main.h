// The server's life with the operator window: a QApplication on the main thread, the
// server's message boxes shown as real modal boxes, the application run with the Qt
// operator window (same start-up, core and shutdown as headless).
//
// Called by main on the main thread when a display is available.
#pragma once

namespace orvexa {

int RunWithOperatorWindow(int argc, char** argv);

// The server's message-box handler of GUI mode: a modal box on the main thread; from
// another thread it is posted there and the caller goes on at once. Installed and
// removed by RunWithOperatorWindow; public for the tests.
void InstallGuiMessageBoxes();
void RemoveGuiMessageBoxes();

}  // namespace orvexa
