#include "ui/qt_operator_window.h"

#include "app/orvexa_server.h"
#include "ui/help_dialog.h"

namespace orvexa {

QtOperatorWindow::QtOperatorWindow() = default;

QtOperatorWindow::~QtOperatorWindow() {
  Close();
}

void QtOperatorWindow::ShowHelp(const std::vector<std::string>& lines) {
  HelpDialog dialog(lines);
  dialog.exec();
}

MainWindowModel QtOperatorWindow::ModelFor(OrvexaServer& server) {
  MainWindowModel model;
  model.settings = &server.settings;
  model.kickRequested = &server.kickRequested;
  model.endRun = [&server] { server.loop.Quit(); };
  return model;
}

void QtOperatorWindow::Open(OrvexaServer& server, const std::string& title) {
  server_ = &server;
  window_ = std::make_unique<MainWindow>(ModelFor(server), title);
  window_->show();
}

void QtOperatorWindow::Close() {
  window_.reset();
  server_ = nullptr;
}

}  // namespace orvexa
