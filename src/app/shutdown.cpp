// Orderly shutdown after the main loop's run, as an ordered list of steps. The
// settings are saved after the plug-ins are unloaded and the threads have ended, so no
// other thread touches the configuration tree during the save. Every wait is bounded
// (kShutdownBound in all): a burst or a plug-in call that never returns holds the
// devices, and with SIGINT/SIGTERM blocked nothing else could end the process. What
// outlives the waits is left alone, and the process ends without destructors.
#include <algorithm>
#include <mutex>

#include "app/server_application.h"
#include "base/server_lock.h"
#include "config/kept_spellings.h"
#include "platform/operator_report.h"
#include "platform/unique_lock.h"

namespace orvexa {

// Strictly in this order. The places for the steps of the other subsystems are marked.
void ServerApplication::Shutdown() {
  shutdownDeadline_ = std::chrono::steady_clock::now() + kShutdownBound;
  KillSecondTimer();  // the window's run has ended
  StopPublishing();   // "offline" for the viewers while everything it reads still stands
  // 1. RemoveAll on the user table; every connection (also those still in their
  //    opening) is ended and no new one is accepted.
  DisconnectClients();
  // 2. The pause in which the workers finish their close paths (bounded).
  WaitForClientWorkers(
      std::min<std::chrono::milliseconds>(std::chrono::seconds(5), ShutdownTimeLeft()), false);
  // 3. "Server stoped".
  WriteServerStopped();
  // 4., 5. Stop the housekeeping and sampling threads and wait for them.
  SignalStop();
  StopFastSampler();  // ends an idle sampler's wait at once
  WaitForBackgroundThreads();
  // 6. No worker may still be on its way into a plug-in when LDPDone runs (bounded).
  WaitForClientWorkers(ShutdownTimeLeft(), true);
  // 6b. The log copier's thread (no tick runs any more); before the settings save.
  StopLogCopies();
  // 7. Unload every plug-in slot in loading order (LDPDone once per loaded plug-in).
  UnloadPlugins();
  SaveSettings();       // 8. copies the settings into OrvexaConfig, saves, releases the tree
  ReleaseServerState();  // 9.
}

std::chrono::milliseconds ServerApplication::ShutdownTimeLeft() const {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      shutdownDeadline_ - std::chrono::steady_clock::now());
  return std::max(left, std::chrono::milliseconds(0));
}

void ServerApplication::KillSecondTimer() {
  if (secondTimerId_ != 0) server_->loop.RemoveTimer(secondTimerId_);
  secondTimerId_ = 0;
  if (retryTimerId_ != 0) server_->loop.RemoveTimer(retryTimerId_);
  retryTimerId_ = 0;
}

void ServerApplication::WriteServerStopped() {
  if (!server_->auditLog.IsOpen()) return;
  server_->auditLog.Write("%s", kServerStoppedLine);
  server_->auditLog.Close();
}

void ServerApplication::SignalStop() {
  server_->stopRequested.Set();
}

// Waits while still serving posted work, so threads that hand work to the main thread
// can finish. A sampler waiting for the devices (held by a burst or a hung call) is left
// behind.
void ServerApplication::WaitForBackgroundThreads() {
  ServerState& server = *server_;
  const bool ended = server.loop.RunUntil([&server] { return server.housekeepingFinished.IsSet(); },
                                          ShutdownTimeLeft()) &&
                     server.loop.RunUntil([&server] { return server.samplingFinished.IsSet(); },
                                          ShutdownTimeLeft());
  if (ended) return;
  ReportToOperator("Warning: the housekeeping or sampling thread did not end in time");
  threadsOutlivedShutdown_ = true;
}

void ServerApplication::SaveSettings() {
  // The tree and the settings are the main thread's; the lock only keeps the save apart
  // from device calls. One that outlived the shutdown's waits does not stop the save.
  auto save = [this] {
    ConfigurationStore& config = server_->config;
    if (config.Root() == nullptr) return;
    if (StructValue* section = config.OrvexaConfig()) {
      server_->settings.StoreInto(section);
      IoResult saved = config.Save();
      if (!saved.ok) ReportToOperator("Warning: orvexa.cfg not saved: %s", saved.message.c_str());
    }
    config.ReleaseRoot();
  };
  UniqueLock guard(ServerLock(), std::defer_lock);
  if (guard.try_lock_for(ShutdownTimeLeft())) {
    save();
    return;
  }
  threadsOutlivedShutdown_ = true;
  save();
}

void ServerApplication::ReleaseServerState() {
  if (window_ != nullptr) window_->Close();
  // SIGINT/SIGTERM stay blocked: a second Ctrl-C during shutdown must not turn the
  // orderly exit into a killed process.
  if (threadsOutlivedShutdown_) {
    // Settings are saved; the late thread finds every object it points to until the
    // process ends (Run then ends it without destructors).
    (void)server_.release();
    return;
  }
  server_.reset();
}

}  // namespace orvexa
