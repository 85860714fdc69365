// The plug-in host's steps of the server's life: the fast-sampling schedule and plug-in
// discovery at the start of serving (before the server runs), and LDPDone for
// every plug-in at shutdown. Main thread.
#include <cstdio>
#include <mutex>

#include "app/server_application.h"
#include "base/server_lock.h"
#include "host/experiment_stopped_hook.h"
#include "host/plugin_discovery.h"
#include "platform/message_box.h"
#include "platform/operator_report.h"
#include "platform/unique_lock.h"

namespace orvexa {

void ServerApplication::PrepareFastSchedule() {
  if (!server_->fastSchedule.PrepareFastSchedule()) {
    ShowMessageBox("Warning", "No high-resolution counter: fast logging is not available.");
  }
}

// Loads every *.ldp file of the working folder (the start directory) and registers the
// channels; then prints the start-up summary, one line per plug-in slot, which headless
// is the only place the operator sees them.
void ServerApplication::DiscoverPlugins() {
  ServerState& server = *server_;
  PluginHostContext context;
  context.config = &server.config;
  context.schedule = server.fastSchedule.Prepared() ? &server.fastSchedule : nullptr;
  context.folder = ".";
  context.experimentStopped = HostExperimentStopped;
  orvexa::DiscoverPlugins(server.registry, context);
  for (const std::string& line : server.registry.SummaryLines()) std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// After the timer threads have ended: LDPDone in slot order, under ServerLock, so a
// client worker still inside a plug-in call finishes it first, and nothing reaches a
// plug-in after its LDPDone. A call that does not return within the shutdown's bound
// (a hung device) keeps every plug-in loaded: LDPDone must not run beside it.
void ServerApplication::UnloadPlugins() {
  UniqueLock hold(ServerLock(), std::defer_lock);
  if (!hold.try_lock_for(ShutdownTimeLeft())) {
    ReportToOperator("Warning: a device call did not end in time; plug-ins not unloaded");
    threadsOutlivedShutdown_ = true;
    return;
  }
  server_->registry.UnloadAll();
}

}  // namespace orvexa
