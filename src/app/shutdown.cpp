// Orderly shutdown after the main window's run, as an ordered list of steps. The
// settings are saved after the plug-ins are unloaded and the threads have ended, so no
// other thread touches the configuration tree during the save.
#include <cstdio>

#include "app/server_application.h"
#include "base/server_lock.h"

namespace orvexa {

// Strictly in this order. The places for the steps of the other subsystems are marked.
void ServerApplication::Shutdown() {
  KillSecondTimer();  // the window's run has ended
  StopPublishing();   // "offline" for the viewers while everything it reads still stands
  // 1. RemoveAll on the user table; every connection (also those still in their
  //    opening) is ended and no new one is accepted.
  DisconnectClients();
  // 2. The pause in which the workers finish their close paths (bounded).
  WaitForClientWorkers(std::chrono::seconds(5), false);
  // 3. "Server stoped".
  WriteServerStopped();
  // 4., 5. Stop the housekeeping and sampling threads and wait for them.
  SignalStop();
  StopFastSampler();  // ends an idle sampler's wait at once
  WaitForBackgroundThreads();
  // 6. No worker may still be on its way into a plug-in when LDPDone runs (bounded).
  WaitForClientWorkers(std::chrono::seconds(10), true);
  // 6b. The log copier's thread (no tick runs any more); before the settings save.
  StopLogCopies();
  // 7. Unload every plug-in slot in loading order (LDPDone once per loaded plug-in).
  UnloadPlugins();
  CloseShutdownEvents();  // 8.
  SaveSettings();         // 9. copies the settings into OrvexaConfig, saves, releases the tree
  DestroyMainWindow();    // 10.
}

void ServerApplication::KillSecondTimer() {
  if (secondTimerId_ != 0) server_->loop.RemoveTimer(secondTimerId_);
  secondTimerId_ = 0;
  if (retryTimerId_ != 0) server_->loop.RemoveTimer(retryTimerId_);
  retryTimerId_ = 0;
}

void ServerApplication::WriteServerStopped() {
  if (!server_->auditLog.IsOpen()) return;
  server_->auditLog.Write("Server stoped\n");
  server_->auditLog.Close();
}

void ServerApplication::SignalStop() {
  server_->stopEvent.Set();
}

// Waits while still serving posted work, so threads that hand work to the main thread
// can finish.
void ServerApplication::WaitForBackgroundThreads() {
  OrvexaServer& server = *server_;
  server.loop.RunUntil([&server] { return server.housekeepingFinished.IsSet(); },
                       std::chrono::hours(24));
  server.loop.RunUntil([&server] { return server.samplingFinished.IsSet(); },
                       std::chrono::hours(24));
}

void ServerApplication::CloseShutdownEvents() {
  // The events live in the server object; nothing to release on Linux.
}

void ServerApplication::SaveSettings() {
  std::lock_guard<PriorityInheritanceMutex> guard(ServerLock());
  ConfigurationStore& config = server_->config;
  if (config.Root() == nullptr) return;
  if (StructValue* section = config.OrvexaConfig()) {
    server_->settings.StoreInto(section);
    std::string error;
    if (!config.Save(&error))
      std::fprintf(stderr, "Warning: orvexa.cfg not saved: %s\n", error.c_str());
  }
  config.ReleaseRoot();
}

void ServerApplication::DestroyMainWindow() {
  if (window_ != nullptr) window_->Close();
  // SIGINT/SIGTERM stay blocked: a second Ctrl-C during shutdown must not turn the
  // orderly exit into a killed process.
  if (workerOutlivedShutdown_) {
    // Settings are saved and plug-ins unloaded; the late worker finds every object it
    // points to until the process ends.
    (void)server_.release();
    return;
  }
  server_.reset();
}

}  // namespace orvexa
