// The live-data steps of the server's life: the publishing settings checked (and the
// broker password read) at start-up, where a wrong BrokerUrl or LabId ends the start
// with a message; the publisher's thread started once the plug-ins are loaded; and
// stopped first at shutdown. Main thread.

#include "app/server_application.h"
#include "platform/message_box.h"
#include "platform/operator_report.h"

namespace orvexa {

bool ServerApplication::PreparePublishing() {
  ServerState& server = *server_;
  const ServerSettings& settings = server.settings;
  PublishSettings publish{settings.BrokerUrl, settings.BrokerUser, settings.BrokerPasswordFile,
                          settings.LabId, settings.PublishValueRate};
  PublishSources sources;
  // The client service exists from the start of serving on; the publisher's thread
  // starts after it.
  sources.control = [&server] {
    LiveControl control;
    if (!server.clients) return control;
    UserTable& users = server.clients->users();
    control.limitMultipleControl = users.Settings().limitMultipleControl;
    for (const IpAddress& address : users.ActiveAddresses()) control.queue.push_back(address);
    control.clients = users.Count();
    return control;
  };
  sources.recordings = [&server] {
    std::vector<LiveRecording> recordings;
    for (const ExperimentStore::Summary& s : server.experiments.Store().Recording())
      recordings.push_back(LiveRecording{s.id, s.startTime, s.clientAddress});
    return recordings;
  };
  std::string error;
  server.publisher = Publisher::Create(publish, server.registry, std::move(sources), &error);
  if (!error.empty()) {
    ShowMessageBox("Error", error, MessageIcon::Stop);
    return false;
  }
  return true;
}

void ServerApplication::StartPublishing() {
  Publisher* publisher = server_->publisher.get();
  if (publisher != nullptr && !publisher->Start())
    ReportToOperator("Warning: the live-data thread did not start; nothing is published");
}

void ServerApplication::StopPublishing() {
  if (server_->publisher && !server_->publisher->Stop(ShutdownTimeLeft()))
    threadsOutlivedShutdown_ = true;
}

}  // namespace orvexa
