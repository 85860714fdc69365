// ServerApplication: the whole life of the server process. Run performs the start-up
// steps in order, runs the main loop (showing the operator window, when there is one)
// until SIGINT/SIGTERM or the window's close ends it, then performs the shutdown steps
// in order.
//
// Each step is one named member function, called from the ordered lists in Startup()
// (startup.cpp), StartServing() (startup.cpp) and Shutdown() (shutdown.cpp);
// the subsystems add their steps to those lists. Everything runs on the main thread.
//
// Exit status: 0 after an orderly shutdown; non-zero after an early exit (help shown,
// invalid configuration, start-up failure), in which case nothing is saved.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/operator_window.h"
#include "app/server_command_line.h"
#include "app/server_state.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"

namespace orvexa {

class ServerApplication {
 public:
  static constexpr int kEarlyExit = 1;

  ServerApplication();
  ~ServerApplication();
  ServerApplication(const ServerApplication&) = delete;
  ServerApplication& operator=(const ServerApplication&) = delete;

  int Run(int argc, char** argv);
  int Run(const std::vector<std::string>& arguments);

  ServerState* server() { return server_.get(); }
  // Installs the operator window (GUI mode) before Run; null, the default, is headless.
  void SetOperatorWindow(OperatorWindow* window) { window_ = window; }

 private:
  // ---- Start-up (startup.cpp); false ends the process early. ----
  bool Startup();
  bool BlockSignalsBeforeAnyThread();
  void CreateServerState();
  bool ParseCommandLineFirstPass();
  void RecordStartDirectory();
  bool LoadSettings();
  void ParseCommandLineSecondPass();
  bool LoadTokenKey();
  bool StartBackgroundThreads();
  void OpenAuditLog();
  bool CreateSecondTimer();
  // Live-data steps (publish_steps.cpp): the settings checked at start-up, the thread
  // started once the channels are known, stopped first at shutdown.
  bool PreparePublishing();
  void StartPublishing();
  void StopPublishing();

  // ---- Serving and the main loop's run (startup.cpp). ----
  bool StartServing();
  // Plug-in host steps (plugin_host_steps.cpp).
  void PrepareFastSchedule();
  void DiscoverPlugins();
  // Measurement data (measurement_steps.cpp).
  void StartMeasurement();
  // False while another thread holds the device lock (see ContinueTick).
  bool PeriodicLoggingTick(int64_t now);
  void StopFastSampler();
  void StopLogCopies();
  // Client serving steps (client_steps.cpp).
  bool OpenListeningSocket();
  bool TryNotifyPresence();
  void DisconnectClients();
  void WaitForClientWorkers(std::chrono::milliseconds bound, bool lastChance);
  void SetServerRunning();
  void RunMainLoop();
  // The one-second tick on the main thread; never re-entered. Its passes never wait for
  // the device lock: ContinueTick runs what is left of them, and while a burst holds the
  // lock RetryTick (every kTickRetry) continues them, the logging pass at the time it
  // was due.
  void SecondTick();
  bool ContinueTick();
  void RetryTick();

  // ---- Shutdown (shutdown.cpp). ----
  // Every wait of the shutdown ends by this long after it began, whatever a burst or a
  // hung plug-in call holds; the settings are saved in any case.
  static constexpr std::chrono::seconds kShutdownBound{10};
  void Shutdown();
  // What is left of kShutdownBound (zero once it has passed).
  std::chrono::milliseconds ShutdownTimeLeft() const;
  void KillSecondTimer();
  void WriteServerStopped();
  void SignalStop();
  void WaitForBackgroundThreads();
  void UnloadPlugins();
  void SaveSettings();
  void ReleaseServerState();

  // Opens the operator window when there is one (window title with the timer precision).
  void OpenOperatorWindow();

  OperatorWindow* window_ = nullptr;  // not owned
  std::vector<std::string> arguments_;
  ServerCommandLine commandLine_;
  std::unique_ptr<ServerState> server_;
  int secondTimerId_ = 0;
  // A thread (a client worker, the sampler, the housekeeping thread) did not end, or a
  // plug-in call did not return, within the shutdown's bounded waits: everything it can
  // reach (the whole server object, the static locks) is left alive, and the process
  // ends without destructors once the settings are saved.
  bool threadsOutlivedShutdown_ = false;
  std::chrono::steady_clock::time_point shutdownDeadline_{};

  Mutex timerLock_;  // never held while calling out
  bool timerBusy_ GUARDED_BY(timerLock_) = false;

  static constexpr std::chrono::milliseconds kTickRetry{10};
  // What is left of the latest tick (main thread).
  struct TickProgress {
    bool presencePending = false;
    int64_t loggingTime = 0;  // the logger's clock when the tick fell due
  };
  TickProgress tick_;
  int retryTimerId_ = 0;  // while a tick's passes wait for the device lock
};

}  // namespace orvexa
