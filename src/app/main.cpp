// Entry point of the orvexa server: the whole life of the server is the application's
// run (start-up, main window, shutdown).
#include "app/server_application.h"

int main(int argc, char** argv) {
  orvexa::ServerApplication application;
  return application.Run(argc, argv);
}
