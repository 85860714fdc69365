// Serving clients, as one part of the main window object: the listening socket watched
// by the main loop, the connection tracker, the user table and what every worker
// reaches (ServingEnvironment). The application's start-up and shutdown steps and its
// clocks call in here: OpenListener (window initialization), NotifyPresence (one-second
// tick), HousekeepingPass (housekeeping thread), DisconnectAll and WaitForWorkers
// (shutdown).
//
// Threads: construction, OpenListener, accept notifications, ApplySettings, the rows
// copy and shutdown calls on the main thread; HousekeepingPass on the housekeeping
// thread; workers on their own threads. The user table's row snapshots reach the main
// thread through MainLoop::Post and are kept there (LatestRows) for the client list.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "protocol/serving_environment.h"
#include "sessions/user_table.h"
#include "transport/connection_tracker.h"
#include "transport/listener.h"

namespace orvexa {

class AuditLog;
class DeviceRegistry;
class MainLoop;
struct ServerSettings;

class ClientService {
 public:
  ClientService(const ServerSettings& settings, AuditLog& audit, DeviceRegistry* registry,
                const std::atomic<bool>& serverRunning, MainLoop& loop);
  ~ClientService();
  ClientService(const ClientService&) = delete;
  ClientService& operator=(const ClientService&) = delete;

  // Opens the listening socket and watches it on the main loop. On failure the start-up
  // message ("Socket creation failed", ...) and the system's reason.
  bool OpenListener(int port, std::string* failureMessage, std::string* detail);
  int port() const { return listener_.port(); }

  // Copies the session settings into the user table (start-up and settings changes).
  void ApplySettings();

  // One-second tick: MessageIdleState to the plug-ins.
  void NotifyPresence() { users_.NotifyPresence(); }
  // Housekeeping: a pending kick, idle expiry and turn rotation, and the end of
  // connections that never finished their opening within the idle delay.
  void HousekeepingPass(bool windowClosing);

  // Shutdown: stops accepting, removes every user and ends every connection.
  void DisconnectAll();
  // Waits (serving the main loop) until every worker has ended; false after `timeout`.
  bool WaitForWorkers(std::chrono::milliseconds timeout);

  UserTable& users() { return users_; }
  ConnectionTracker& tracker() { return tracker_; }
  ServingEnvironment& environment() { return environment_; }

  // Main thread: the newest client rows, and a callback run on each change (the
  // operator window's list).
  const ClientRows& LatestRows() const { return rows_; }
  void SetRowsChanged(std::function<void(const ClientRows&)> callback) {
    rowsChanged_ = std::move(callback);
  }

 private:
  bool StartWorker(SocketHandle socket, uint32_t serial);
  void OnRows(const ClientRows& rows);

  const ServerSettings& settings_;
  MainLoop& loop_;
  ConnectionTracker tracker_;
  UserTable users_;
  ServingEnvironment environment_;
  Listener listener_;
  int watchId_ = 0;
  ClientRows rows_;
  std::function<void(const ClientRows&)> rowsChanged_;
  // Cleared when the service goes away, so that a row snapshot posted late is dropped.
  std::shared_ptr<std::atomic<bool>> alive_;
};

}  // namespace orvexa
