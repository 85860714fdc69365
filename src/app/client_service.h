// Serving clients, as one part of the server state (ServerState): the listening socket watched
// by the main loop, the connection tracker, the user table and what every worker
// reaches (ServingEnvironment). The application's start-up and shutdown steps and its
// clocks call in here: OpenListener (start of serving), TryNotifyPresence
// (one-second tick), HousekeepingPass (housekeeping thread), DisconnectAll and
// WaitForWorkers (shutdown). A main-loop timer of its own ends the connections whose
// opening deadline (OpeningTimeout) has passed.
//
// Threads: construction, OpenListener, accept notifications, ApplySettings, the opening
// check, the rows copy and shutdown calls on the main thread; HousekeepingPass on the
// housekeeping thread; workers on their own threads. The user table's newest row
// snapshot reaches the main thread through a mailbox and MainLoop::Post and is kept
// there (LatestRows) for the client list. The server settings belong to the main thread: accepting reads them
// directly, and ApplySettings copies what workers read (DisableDeviceListing, the user
// table's settings, MaxOpeningPerAddress) into atomics and the tables, so that neither
// accepting nor applying a setting ever waits for the device lock (ServerLock).
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/mutex.h"
#include "platform/thread_annotations.h"
#include "protocol/serving_environment.h"
#include "sessions/user_table.h"
#include "transport/connection_tracker.h"
#include "transport/hello_failure_bound.h"
#include "transport/listener.h"

namespace orvexa {

class AuditLog;
class DeviceRegistry;
class MainLoop;
class TokenVerifier;
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
  bool OpenListener(int port, const std::string& address, std::string* failureMessage,
                    std::string* detail);
  // From now on Hello admits only clients with a token `tokens` accepts (an observer
  // without one too when `allowAnonymousObservers`), and addresses that keep failing
  // are closed at once for a while. Before the listener opens; the verifier outlives
  // the service.
  void RequireTokens(const TokenVerifier* tokens, bool allowAnonymousObservers);
  int port() const { return listener_.port(); }

  // Copies the settings the workers read into the user table and the copies above
  // (start-up and settings changes). Main thread.
  void ApplySettings();

  // One-second tick: MessageIdleState to the plug-ins. False, sending nothing, while
  // another thread holds the device lock (a burst): the caller tries again shortly.
  bool TryNotifyPresence();
  // Housekeeping: a pending kick, idle expiry and turn rotation.
  void HousekeepingPass(bool windowClosing);

  // Shutdown: stops accepting, removes every user and ends every connection. From now on
  // the user table's messages to the plug-ins (control changed) wait at most
  // `deviceWait` for the device lock and are dropped after it: a burst or a hung plug-in
  // call must not hold the shutdown up.
  void DisconnectAll(std::chrono::milliseconds deviceWait);
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
  // How often the opening deadlines are checked.
  static constexpr std::chrono::milliseconds kOpeningCheckPeriod{250};

  bool StartWorker(SocketHandle socket, uint32_t serial);
  void OnRows(const ClientRows& rows);

  const ServerSettings& settings_;
  DeviceRegistry* registry_;
  MainLoop& loop_;
  std::atomic<bool> listingDisabled_{false};  // copy of DisableDeviceListing
  // How long a message of the user table to the plug-ins waits for the device lock, in
  // milliseconds; negative: as long as it takes (until shutdown).
  std::atomic<int64_t> broadcastWaitMs_{-1};
  ConnectionTracker tracker_;
  HelloFailureBound failures_;
  UserTable users_;
  ServingEnvironment environment_;
  Listener listener_;
  int watchId_ = 0;
  int openingTimerId_ = 0;
  ClientRows rows_;
  std::function<void(const ClientRows&)> rowsChanged_;
  // The newest row snapshot the main thread has not taken yet. A class arriving at once
  // changes the table a thousand times in a second; the main thread needs only the last
  // list, so one take at a time is queued for it instead of every list.
  struct RowsMailbox {
    Mutex lock;  // a leaf, held to put or take the snapshot
    ClientRows newest GUARDED_BY(lock);
    bool posted GUARDED_BY(lock) = false;  // a take is queued on the main loop
  };
  std::shared_ptr<RowsMailbox> mailbox_ = std::make_shared<RowsMailbox>();
  // Cleared when the service goes away, so that a row snapshot posted late is dropped.
  std::shared_ptr<std::atomic<bool>> alive_;
};

}  // namespace orvexa
