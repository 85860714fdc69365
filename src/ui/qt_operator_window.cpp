#include "ui/qt_operator_window.h"

#include <QPointer>

#include "app/server_state.h"
#include "logging/periodic_logger.h"
#include "ui/help_dialog.h"
#include "ui/plugin_dialogs.h"

namespace orvexa {
namespace {

std::vector<ClientListRow> RowsOf(const ClientRows& rows) {
  std::vector<ClientListRow> list;
  list.reserve(rows.rows.size());
  for (const ClientRow& row : rows.rows) list.push_back({row.id, row.text});
  return list;
}

}  // namespace

QtOperatorWindow::QtOperatorWindow() = default;

QtOperatorWindow::~QtOperatorWindow() {
  Close();
}

void QtOperatorWindow::ShowHelp(const std::vector<std::string>& lines) {
  HelpDialog dialog(lines);
  dialog.exec();
}

MainWindowModel QtOperatorWindow::ModelFor(ServerState& server) {
  MainWindowModel model;
  model.settings = &server.settings;
  model.kickRequested = &server.kickRequested;
  model.userTable = [&server](const UserLimits&, bool) {
    // The client service copies the settings it serves by into the user table, which
    // rebuilds its rows (who shows "C" follows "Limit Write commands").
    if (server.clients) server.clients->ApplySettings();
  };
  model.kick = [&server](uint32_t id) {
    if (server.clients) server.clients->users().RequestKick(id);
  };
  model.tree = &server.registry.Tree();
  model.configureSelected = [&server](const DeviceTreeSelection& selection) {
    server.registry.ConfigureSelected(selection, server.config);
  };
  model.schedule = &server.fastSchedule;
  model.saveLoggingSettings = [&server] { SaveLoggingSettings(server.registry, server.config); };
  model.dialogOpen = &server.operatorDialogOpen;
  model.endRun = [&server] { server.loop.Quit(); };
  return model;
}

void QtOperatorWindow::Open(ServerState& server, const std::string& title) {
  server_ = &server;
  window_ = std::make_unique<MainWindow>(ModelFor(server), title);
  QPointer<MainWindow> window(window_.get());
  if (server.clients) {
    window_->SetClientRows(RowsOf(server.clients->LatestRows()));
    // Snapshots reach the client service on the main thread already.
    server.clients->SetRowsChanged([window](const ClientRows& rows) {
      if (window) window->SetClientRows(RowsOf(rows));
    });
  }
  // The housekeeping thread never touches the window: it posts the end of its pass.
  server.housekeepingPassFinished = [&server, window](bool windowClosing) {
    server.loop.Post([window, windowClosing] {
      if (window) window->MaintenancePassFinished(windowClosing);
    });
  };
  InstallPluginDialogs(server.registry);
  window_->show();
}

void QtOperatorWindow::Close() {
  if (server_ != nullptr) {
    RemovePluginDialogs(server_->registry);
    server_->housekeepingPassFinished = nullptr;
    if (server_->clients) server_->clients->SetRowsChanged(nullptr);
  }
  window_.reset();
  server_ = nullptr;
}

}  // namespace orvexa
