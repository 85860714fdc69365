// The measurement-data steps of the server's life: routing the plug-ins' experiment-
// stopped callback to the experiment store, letting the fast sampler wake when a group
// becomes active and giving the periodic logger the number of log copies to keep
// (window initialization, after plug-in discovery), the periodic logging pass of the
// one-second tick, and ending the sampler's waits at shutdown.
// Main thread.
#include "app/server_application.h"

namespace orvexa {

void ServerApplication::StartMeasurement() {
  OrvexaServer& server = *server_;
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

}  // namespace orvexa
