#include "app/server_application.h"

#include "platform/immediate_exit.h"

namespace orvexa {

ServerApplication::ServerApplication() = default;
ServerApplication::~ServerApplication() = default;

int ServerApplication::Run(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
  return Run(arguments);
}

int ServerApplication::Run(const std::vector<std::string>& arguments) {
  arguments_ = arguments;
  if (!Startup()) {
    // Early exit: serving never started and nothing is saved.
    server_.reset();
    return kEarlyExit;
  }
  bool served = false;
  if (CreateSecondTimer()) {
    served = StartServing();
    if (served) RunMainLoop();
  }
  Shutdown();
  const int status = served ? 0 : kEarlyExit;
  // A thread left behind may still take the static locks that exit would destroy.
  if (threadsOutlivedShutdown_) ExitImmediately(status);
  return status;
}

}  // namespace orvexa
