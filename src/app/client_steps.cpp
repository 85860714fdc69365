// The application's steps for serving clients: the listening socket while the window
// initializes, the presence message of the one-second tick, and the first steps of the
// shutdown (every connection ended, the workers awaited). All on the main thread.
#include <cstdio>

#include "app/server_application.h"
#include "platform/message_box.h"
#include "platform/operator_report.h"

namespace orvexa {

bool ServerApplication::OpenListeningSocket() {
  ServerState& server = *server_;
  server.clients = std::make_unique<ClientService>(
      server.settings, server.auditLog, &server.registry, server.serverRunning, server.loop);
  server.clients->environment().experiments = &server.experiments;
  if (server.tokens)
    server.clients->RequireTokens(server.tokens.get(), server.settings.AllowAnonymousObservers);
  std::string failure, detail;
  if (!server.clients->OpenListener(server.listenPort, server.settings.ListenAddress, &failure,
                                    &detail)) {
    ShowMessageBox("Error", failure, MessageIcon::Stop);
    if (!detail.empty()) ReportToOperator("%s", detail.c_str());
    return false;
  }
  std::printf("Listening on port %d\n", server.clients->port());
  std::fflush(stdout);
  return true;
}

bool ServerApplication::TryNotifyPresence() {
  return !server_->clients || server_->clients->TryNotifyPresence();
}

void ServerApplication::DisconnectClients() {
  // A control-changed message to the plug-ins waits for the devices only briefly.
  if (server_->clients) server_->clients->DisconnectAll(std::chrono::seconds(1));
}

void ServerApplication::WaitForClientWorkers(std::chrono::milliseconds bound, bool lastChance) {
  ServerState& server = *server_;
  if (!server.clients || server.clients->WaitForWorkers(bound)) return;
  ReportToOperator("Warning: %u client connections did not end in time",
                   server.clients->tracker().RunningCount());
  // A worker that is still running keeps using the service, the registry, the audit log
  // and the experiments: none of it may be destroyed under the worker.
  if (lastChance) threadsOutlivedShutdown_ = true;
}

}  // namespace orvexa
