// Entry point of the orvexa server: the whole life of the server is the application's
// run (start-up, main window, shutdown). With the operator window built in and a
// display available, the window's toolkit runs the main thread; otherwise headless.
#include "app/server_application.h"

#ifdef ORVEXA_WITH_UI
#include <string>
#include <vector>

#include "app/display_mode.h"
#include "ui/gui_main.h"
#endif

int main(int argc, char** argv) {
#ifdef ORVEXA_WITH_UI
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
  if (orvexa::WantsOperatorWindow(arguments)) return orvexa::RunWithOperatorWindow(argc, argv);
#endif
  orvexa::ServerApplication application;
  return application.Run(argc, argv);
}
