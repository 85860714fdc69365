// The measurement-data steps of the server's life: routing the plug-ins' experiment-
// stopped callback to the experiment store, letting the fast sampler wake when a group
// becomes active and giving the periodic logger the number of log copies to keep
// (window initialization, after plug-in discovery), the periodic logging pass of the
// one-second tick, and at shutdown ending the sampler's waits and the log copier.
// Main thread.
#include "app/server_application.h"

namespace orvexa {

void ServerApplication::StartMeasurement() {
  ServerState& server = *server_;
  server.experiments.InstallStoppedHandler();
  server.fastSchedule.SetActivationListener([&server] { server.fastSampler.Wake(); });
  server.periodicLogger.SetMaxLogCopies(static_cast<uint32_t>(server.settings.MaxLogCopies));
}

bool ServerApplication::PeriodicLoggingTick(int64_t now) {
  return server_->periodicLogger.TryTick(now);
}

void ServerApplication::StopFastSampler() {
  server_->fastSampler.Stop();
}

// A log copy still being written is abandoned (its ".part" file removed; the copy is
// taken again after the next start) rather than holding the shutdown up for a 120 MB
// write; copies already finished get their date saved.
void ServerApplication::StopLogCopies() {
  server_->periodicLogger.StopCopies(ShutdownTimeLeft());
}

}  // namespace orvexa
