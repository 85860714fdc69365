// Start-up of the server, as an ordered list of steps (Startup), then the start of
// serving (StartServing, with or without the operator window), the run and the
// one-second tick.
// Steps are added to the lists below at the place their comment names.
#include <cerrno>
#include <cstdio>

#include "app/server_application.h"
#include "app/window_title.h"
#include "base/server_lock.h"
#include "config/config_parser.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/lock_guard.h"
#include "platform/memory_release.h"
#include "platform/message_box.h"
#include "platform/termination_signals.h"

namespace orvexa {

bool ServerApplication::Startup() {
  if (!BlockSignalsBeforeAnyThread()) return false;
  CreateServerState();
  if (!ParseCommandLineFirstPass()) return false;
  RecordStartDirectory();
  if (!LoadSettings()) return false;
  ParseCommandLineSecondPass();
  if (!LoadTokenKey()) return false;
  if (!PreparePublishing()) return false;
  if (!StartBackgroundThreads()) return false;
  OpenAuditLog();
  // The one-second timer and the main loop's run follow in Run().
  return true;
}

// Signals first, before any thread exists: every later thread inherits the blocked
// SIGINT/SIGTERM, which the main loop then reads as the end of the run.
bool ServerApplication::BlockSignalsBeforeAnyThread() {
  // Line by line, so whoever watches the output (a service log, a test) sees each
  // start-up line as it is printed.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  IoResult blocked = BlockTerminationSignals();
  if (!blocked.ok) {
    ShowMessageBox("Orvexa", "Signal setup failed: " + blocked.message, MessageIcon::Stop);
    return false;
  }
  return true;
}

void ServerApplication::CreateServerState() {
  server_ = std::make_unique<ServerState>();
  server_->presetName = "default";
  if (window_ != nullptr) server_->loop.SetBackend(window_->LoopBackend());
}

bool ServerApplication::ParseCommandLineFirstPass() {
  commandLine_ = ServerCommandLine{};
  commandLine_.Parse(arguments_);
  if (!commandLine_.help) return true;
  if (window_ != nullptr) {
    window_->ShowHelp(ServerCommandLine::HelpLines());
    return false;
  }
  // Headless help: its lines on standard output, then the process ends.
  for (const std::string& line : ServerCommandLine::HelpLines()) std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  return false;
}

void ServerApplication::RecordStartDirectory() {
  server_->config.SetStartDirectory(CurrentDirectory());
  server_->config.SetDefaultConfiguration(commandLine_.defaultConfiguration);
  server_->listenPort = commandLine_.port;
  if (commandLine_.presetGiven) server_->presetName = commandLine_.preset;
}

bool ServerApplication::LoadSettings() {
  ServerState& server = *server_;
  auto startFromDefaults = [&server] {
    server.settings = ServerSettings::ForMissingFile();
    server.config.StartEmpty();
  };
  if (server.config.DefaultConfiguration()) {
    startFromDefaults();
    return true;
  }
  int openErrno = 0;
  std::optional<std::string> text = ReadWholeFile(server.config.FilePath(), nullptr, &openErrno);
  if (!text && openErrno == ENOENT) {
    startFromDefaults();
    return true;
  }
  // A file that exists but cannot be read is refused like an invalid one: starting from
  // the defaults would overwrite it at shutdown.
  ConfigValue* root = text ? ReadConfiguration(*text) : nullptr;
  if (root == nullptr) {
    ShowMessageBox("Error", "Config file invalid.", MessageIcon::Stop);
    return false;
  }
  server.config.Adopt(root);
  server.settings.LoadFrom(server.config.OrvexaConfig());
  return true;
}

void ServerApplication::ParseCommandLineSecondPass() {
  ServerSettings& settings = server_->settings;
  ServerCommandLine record = commandLine_;
  record.conexp = settings.ConnectionExpirationDelay;
  record.maxusage = settings.LimitUsage ? settings.MaxUsageTime : 0;
  record.limitcontrol = settings.LimitMultipleControl;
  record.disablelisting = settings.DisableDeviceListing;
  record.enable = settings.Enable;
  record.maxclient = settings.MaxClientCount;
  record.pending = ServerCommandLine::kNone;
  record.Parse(arguments_);
  // The help flag is not looked at again: the first pass already saw the same arguments.
  settings.ConnectionExpirationDelay = record.conexp;
  if (record.maxusage != 0) {
    settings.LimitUsage = true;
    settings.MaxUsageTime = record.maxusage;
  }
  settings.LimitMultipleControl = record.limitcontrol;
  settings.DisableDeviceListing = record.disablelisting;
  settings.Enable = record.enable;
  settings.MaxClientCount = record.maxclient;
  if (!record.listen.empty()) settings.ListenAddress = record.listen;
}

// With Authenticate on, the key that checks the clients' tokens; a key that is missing,
// unusable or not kept private stops the start-up (a server that would admit anybody,
// or nobody, is worse than one that does not start).
bool ServerApplication::LoadTokenKey() {
  const ServerSettings& settings = server_->settings;
  if (!settings.Authenticate) return true;
  std::string error;
  if (settings.AuthKeyFile.empty()) {
    error = "Authenticate is on but AuthKeyFile is not set";
  } else {
    server_->tokens =
        TokenVerifier::Load(settings.AuthKeyFile, {settings.LabId, settings.AuthLeeway}, &error);
  }
  if (server_->tokens) return true;
  ShowMessageBox("Error", error, MessageIcon::Stop);
  return false;
}

bool ServerApplication::StartBackgroundThreads() {
  ServerState& server = *server_;
  KeepLargeBlocksOutOfTheHeap();
  BackgroundClocks clocks;
  clocks.stop = &server.stopRequested;
  clocks.serverRunning = &server.serverRunning;
  clocks.housekeepingFinished = &server.housekeepingFinished;
  clocks.samplingFinished = &server.samplingFinished;
  clocks.windowClosing = &server.shuttingDown;
  // Runs only once the server-running flag is set, when the client service exists.
  clocks.housekeeping = [&server](bool windowClosing) {
    if (server.clients) server.clients->HousekeepingPass(windowClosing);
    if (server.housekeepingPassFinished) server.housekeepingPassFinished(windowClosing);
    // Memory freed after large replies goes back to the system rather than staying
    // with the allocator at its peak.
    ReturnFreeMemoryToSystem();
  };
  // The fast-log pass paces the sampling thread (it runs once the server is running).
  clocks.fastPass = [&server](int64_t nowNs) { return server.fastSampler.NextRun(nowNs); };
  clocks.sleepUntil = [&server](int64_t deadlineNs) { server.fastSampler.SleepUntil(deadlineNs); };
  server.backgroundThreads = std::make_unique<BackgroundThreads>(std::move(clocks));
  if (!server.backgroundThreads->StartHousekeeping()) {
    server.samplingFinished.Set();
    server.housekeepingFinished.Set();
    return false;
  }
  if (!server.backgroundThreads->StartSampling()) {
    // Stop the thread that did start and wait for it, serving the loop meanwhile.
    server.stopRequested.Set();
    server.samplingFinished.Set();
    server.loop.RunUntil([&server] { return server.housekeepingFinished.IsSet(); },
                         std::chrono::hours(24));
    return false;
  }
  return true;
}

void ServerApplication::OpenAuditLog() {
  // A log that cannot be opened is silent: the server runs without audit lines.
  const ServerSettings& settings = server_->settings;
  server_->auditLog.SetRotation(static_cast<uint64_t>(settings.AuditLogMaxSize),
                                settings.AuditLogFiles);
  if (server_->auditLog.Open(server_->config.StartDirectory() + "/users.log"))
    server_->auditLog.Write("Server started\n");
}

bool ServerApplication::CreateSecondTimer() {
  secondTimerId_ =
      server_->loop.AddTimer(std::chrono::milliseconds(1000), [this] { SecondTick(); });
  if (secondTimerId_ == 0) {
    ShowMessageBox("Error", "Timer creation failed", MessageIcon::Stop);
    return false;
  }
  return true;
}

// The start of serving, in order (headless as well; the operator window, when there is
// one, opens as step 4).
bool ServerApplication::StartServing() {
  // 1. The listening socket on listenPort and ListenAddress; prints "Listening on port N".
  if (!OpenListeningSocket()) return false;
  // 2. The fast-sampling schedule.
  PrepareFastSchedule();
  // 3. Plug-in discovery and loading; prints one "Plug-in ..." line per plug-in.
  DiscoverPlugins();
  // 3b. Experiments and the fast sampler's wake-up on new groups.
  StartMeasurement();
  // 3c. Live data for viewers, when a broker is configured.
  StartPublishing();
  // 4. The operator window, when there is one.
  OpenOperatorWindow();
  // 5. Last: the server-running flag.
  SetServerRunning();
  return true;
}

void ServerApplication::OpenOperatorWindow() {
  if (window_ == nullptr) return;
  window_->Open(*server_, MainWindowTitle(MeasureTimerPrecision()));
}

void ServerApplication::SetServerRunning() {
  server_->serverRunning.store(true);
  {
    // The fast schedule starts from this moment; the sampling thread is woken for it.
    LockGuard hold(ServerLock());
    server_->fastSchedule.RestartActiveGroups();
  }
  std::printf("Server running\n");
  std::fflush(stdout);
}

void ServerApplication::RunMainLoop() {
  IoResult signals = server_->loop.EnableTerminationSignals();
  if (!signals.ok) {
    ShowMessageBox("Orvexa", "Signal setup failed: " + signals.message, MessageIcon::Stop);
    return;
  }
  server_->loop.Run();
  server_->shuttingDown.store(true);
}

void ServerApplication::SecondTick() {
  if (!server_->serverRunning.load()) return;
  if (server_->operatorDialogOpen.load()) return;
  {
    LockGuard guard(timerLock_);
    if (timerBusy_) return;
    timerBusy_ = true;
  }
  // A tick whose passes still wait for the device lock is not started again: like a
  // tick that falls due while the callback runs, it is dropped.
  if (retryTimerId_ == 0) {
    tick_ = TickProgress{true, server_->periodicLogger.Now()};
    if (!ContinueTick())
      retryTimerId_ = server_->loop.AddTimer(kTickRetry, [this] { RetryTick(); });
  }
  {
    LockGuard guard(timerLock_);
    timerBusy_ = false;
  }
}

// The tick's passes need the devices; the main thread only tries the device lock, so
// that it keeps accepting while a burst holds it, and comes back every kTickRetry.
bool ServerApplication::ContinueTick() {
  // 1. NotifyPresence of the user table (plug-in message 2: is anyone connected).
  if (tick_.presencePending) {
    if (!TryNotifyPresence()) return false;
    tick_.presencePending = false;
  }
  // 2. The periodic logging tick with its log-file copies, at the tick's time.
  return PeriodicLoggingTick(tick_.loggingTime);
}

void ServerApplication::RetryTick() {
  // A plug-in's modal dialog runs its own loop with the device lock held by this thread.
  if (server_->operatorDialogOpen.load()) return;
  if (!ContinueTick()) return;
  server_->loop.RemoveTimer(retryTimerId_);
  retryTimerId_ = 0;
}

}  // namespace orvexa
