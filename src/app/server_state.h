// ServerState: the server's live state, one object owned by the application for the
// whole run, with or without the operator window: the configuration store, the server
// settings, the listen port, the audit log, the main loop and the run flags. The
// subsystems add their own tables here (device registry, fast schedule, user table,
// listener, experiment store) as members, so that everything the server holds is reached
// from this one object, which is destroyed last.
//
// One instance per process, constructed by the application at start-up. The settings
// belong to the main thread (other threads read the client service's copies); the run
// flags are atomics, read anywhere.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/background_threads.h"
#include "app/client_service.h"
#include "app/main_loop.h"
#include "app/server_settings.h"
#include "config/configuration_store.h"
#include "host/device_registry.h"
#include "logging/fast_sampler.h"
#include "logging/fast_schedule.h"
#include "logging/periodic_logger.h"
#include "platform/clock.h"
#include "platform/waitable_flag.h"
#include "protocol/experiment_service.h"
#include "publish/publisher.h"
#include "sessions/audit_log.h"
#include "sessions/token_verifier.h"

namespace orvexa {

class ServerState {
 public:
  ServerState() = default;
  ~ServerState() = default;
  ServerState(const ServerState&) = delete;
  ServerState& operator=(const ServerState&) = delete;

  // Writes the whole configuration tree to orvexa.cfg in the start directory (atomically;
  // skipped without an OrvexaConfig section), under ServerLock, which it takes itself.
  // For the logging-settings save and the log-backup tick; the shutdown save copies the
  // ServerSettings into the tree first. False when nothing was written.
  bool SaveConfiguration();

  // orvexa.cfg: the tree, the OrvexaConfig section, the start directory, the /config flag.
  ConfigurationStore config;
  ServerSettings settings;
  // Listen port from the command line (not a configuration key); 0 picks a free port.
  int32_t listenPort = 8899;
  // Set by /preset; nothing else reads it.
  std::string presetName = "default";
  AuditLog auditLog;
  // With Authenticate: checks the clients' tokens (loaded at start-up; null without).
  std::unique_ptr<TokenVerifier> tokens;
  // The main thread's event loop (headless poll loop).
  MainLoop loop;

  // Set as the last step of the start of serving, never cleared; the clocks do
  // nothing while it is false and connections are not admitted.
  std::atomic<bool> serverRunning{false};
  // Set when the main loop has ended and shutdown begins (read by the housekeeping pass).
  std::atomic<bool> shuttingDown{false};
  // Set by the KICK button, cleared by the housekeeping pass that serves it.
  std::atomic<bool> kickRequested{false};
  // Set while "Configure selected" or "Configure log for selected" holds ServerLock on
  // the main thread around a modal dialog. The dialog's event loop still delivers the
  // one-second tick, which then does nothing: its presence message would call into the
  // very plug-in whose configuration entry is still running on this thread (ServerLock is
  // recursive, so it would not wait), and the periodic logging it runs is meant to wait
  // for the dialog anyway.
  std::atomic<bool> operatorDialogOpen{false};
  // Shutdown flags: stop (set once at shutdown) and one finished flag per
  // background thread (housekeeping, sampling), each set by its thread as it ends.
  WaitableFlag stopRequested;
  WaitableFlag housekeepingFinished;
  WaitableFlag samplingFinished;

  // ---- Members added by the other subsystems go below this line. ----

  // The operator window's part of each housekeeping pass (the KICK button enabled again),
  // called on the housekeeping thread after the pass; it only posts to the main thread.
  // Set before the server-running flag, cleared after the threads have ended.
  std::function<void(bool windowClosing)> housekeepingPassFinished;

  // Timing table of the fast sampler (groups per frequency, active list).
  FastSchedule fastSchedule;
  // Plug-in table and channel sequence, filled once at the start of serving.
  // Declared after fastSchedule so that it is destroyed first (channel records before
  // the groups that point at them). Members whose destructors still reach channel
  // records (their recordings lists) must be declared below it, so they go first.
  DeviceRegistry registry;

  // Measurement data. Declared after the registry and the schedule they point at, so
  // they are destroyed first.
  // The fast pass and the pacing of the sampling thread (its pass hook).
  FastSampler fastSampler{fastSchedule};
  // The one-second tick's logging pass and the settings save after a log-file copy.
  PeriodicLogger periodicLogger{registry, &config, CalendarSeconds};
  // Experiments, recordings and bursts; the plug-ins' experiment-stopped callback.
  ExperimentService experiments{registry, &auditLog, {CalendarSeconds, MillisecondTick}};

  // Serving clients: listening socket, connection tracker, user table (created at the start
  // of serving; see ClientService). After the services its workers reach, so it
  // goes first.
  std::unique_ptr<ClientService> clients;
  // Live data for viewers through the broker (null: BrokerUrl empty). Reaches the
  // registry, the user table and the experiments, so it is declared after them and
  // stopped first at shutdown.
  std::unique_ptr<Publisher> publisher;
  // The housekeeping and sampling threads (started at start-up, joined at shutdown).
  std::unique_ptr<BackgroundThreads> backgroundThreads;
};

}  // namespace orvexa
