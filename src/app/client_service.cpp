#include "app/client_service.h"

#include <poll.h>

#include <algorithm>
#include <mutex>
#include <system_error>
#include <thread>

#include "app/main_loop.h"
#include "app/server_settings.h"
#include "base/server_lock.h"
#include "host/device_registry.h"
#include "platform/clock.h"
#include "platform/lock_guard.h"
#include "platform/operator_report.h"
#include "platform/unique_lock.h"
#include "protocol/client_worker.h"
#include "sessions/audit_log.h"

namespace orvexa {

ClientService::ClientService(const ServerSettings& settings, AuditLog& audit,
                             DeviceRegistry* registry, const std::atomic<bool>& serverRunning,
                             MainLoop& loop)
    : settings_(settings),
      registry_(registry),
      loop_(loop),
      users_(&audit,
             [this, registry](int code, int arg) {
               if (registry == nullptr) return;
               const int64_t waitMs = broadcastWaitMs_.load();
               if (waitMs < 0)
                 registry->BroadcastMessage(code, arg);
               else
                 registry->BroadcastMessage(code, arg, std::chrono::milliseconds(waitMs));
             }),
      listener_(
          tracker_,
          // On the main thread, where the settings are written: no lock needed.
          [&settings] {
            return Listener::Admission{
                settings.Enable,
                settings.MaxClientCount < 0 ? 0u : static_cast<uint32_t>(settings.MaxClientCount)};
          },
          serverRunning,
          [this](SocketHandle socket, uint32_t serial) { return StartWorker(socket, serial); }),
      alive_(std::make_shared<std::atomic<bool>>(true)) {
  environment_.registry = registry;
  environment_.users = &users_;
  environment_.audit = &audit;
  environment_.deviceListingDisabled = &listingDisabled_;
  environment_.tracker = &tracker_;
  ApplySettings();
  std::shared_ptr<std::atomic<bool>> alive = alive_;
  std::shared_ptr<RowsMailbox> mailbox = mailbox_;
  users_.SetRowsListener([this, alive, mailbox](const ClientRows& rows) {
    // Never waits for the main thread: the snapshot waits in the mailbox, replacing an
    // older one, and a take is queued unless one already is.
    {
      LockGuard guard(mailbox->lock);
      if (rows.generation <= mailbox->newest.generation) return;
      mailbox->newest = rows;
      if (mailbox->posted) return;
      mailbox->posted = true;
    }
    loop_.Post([this, alive, mailbox] {
      ClientRows newest;
      {
        LockGuard guard(mailbox->lock);
        newest.generation = mailbox->newest.generation;
        newest.rows.swap(mailbox->newest.rows);
        mailbox->posted = false;
      }
      if (alive->load()) OnRows(newest);
    });
  });
}

ClientService::~ClientService() {
  alive_->store(false);
  users_.SetRowsListener(nullptr);
  if (watchId_) loop_.UnwatchFd(watchId_);
  if (openingTimerId_) loop_.RemoveTimer(openingTimerId_);
}

void ClientService::OnRows(const ClientRows& rows) {
  if (rows.generation <= rows_.generation) return;  // an older snapshot arrived late
  rows_ = rows;
  if (rowsChanged_) rowsChanged_(rows_);
}

bool ClientService::OpenListener(int port, const std::string& address, std::string* failureMessage,
                                 std::string* detail) {
  if (!listener_.Open(port, failureMessage, detail, address)) return false;
  watchId_ =
      loop_.WatchFd(listener_.socket(), POLLIN, [this](short) { listener_.OnAcceptReady(); });
  // The tracker's lock is a leaf: the check never waits for a burst.
  openingTimerId_ = loop_.AddTimer(
      kOpeningCheckPeriod, [this] { tracker_.ExpireUnopened(MonotonicNanoseconds() / 1000000); });
  return true;
}

void ClientService::RequireTokens(const TokenVerifier* tokens, bool allowAnonymousObservers) {
  environment_.tokens = tokens;
  environment_.allowAnonymousObservers = allowAnonymousObservers;
  environment_.failures = tokens ? &failures_ : nullptr;
  listener_.SetFailureBound(environment_.failures);
}

void ClientService::ApplySettings() {
  UserTableSettings copy;
  copy.limitMultipleControl = settings_.LimitMultipleControl;
  copy.expirationDelay = settings_.ConnectionExpirationDelay;
  copy.maxUsageTime = settings_.MaxUsageTime;
  copy.limitUsage = settings_.LimitUsage;
  users_.ApplySettings(copy);
  listingDisabled_.store(settings_.DisableDeviceListing);
  tracker_.SetMaxOpeningPerAddress(
      static_cast<uint32_t>(std::max(settings_.MaxOpeningPerAddress, int32_t{1})));
}

bool ClientService::TryNotifyPresence() {
  if (registry_ == nullptr) return true;
  UniqueLock<PriorityInheritanceMutex> devices(ServerLock(), std::defer_lock);
  if (!devices.try_lock_for(kMainThreadLockWait)) return false;
  users_.NotifyPresence();  // its broadcast takes the lock again, held here already
  devices.unlock();
  // Lines a plug-in's callback kept during the broadcast, now that ServerLock is free.
  environment_.audit->Flush();
  return true;
}

bool ClientService::StartWorker(SocketHandle socket, uint32_t serial) {
  auto connection = std::make_unique<AdmittedConnection>();
  connection->socket.handle = socket;
  connection->serial = serial;
  // The opening has its own short deadline, whatever the idle delay.
  const int64_t openingSeconds = std::max(settings_.OpeningTimeout, int32_t{1});
  const int64_t deadlineMs = MonotonicNanoseconds() / 1000000 + openingSeconds * 1000;
  ConnectionSocket* tracked = &connection->socket;
  tracker_.Track(tracked, deadlineMs);
  try {
    std::thread worker(
        [this, c = std::move(connection)]() mutable { ClientWorker(environment_, std::move(c)); });
    worker.detach();
    return true;
  } catch (const std::system_error&) {
    // The lambda (and the connection) was destroyed with the failed thread object.
    tracker_.Untrack(tracked);
    return false;
  }
}

void ClientService::HousekeepingPass(bool windowClosing) {
  users_.MaintenancePass(windowClosing);
  environment_.audit->Flush();  // lines kept under ServerLock by plug-in threads
}

void ClientService::DisconnectAll(std::chrono::milliseconds deviceWait) {
  broadcastWaitMs_.store(deviceWait.count());
  if (watchId_) loop_.UnwatchFd(watchId_);
  watchId_ = 0;
  if (openingTimerId_) loop_.RemoveTimer(openingTimerId_);
  openingTimerId_ = 0;
  listener_.Close();
  // Every live connection first: the table's lock may be held by a device call that
  // never returns.
  tracker_.ShutdownAll();
  if (!users_.RemoveAll(deviceWait))
    ReportToOperator("Warning: the user table was busy at shutdown; its users stay listed");
}

bool ClientService::WaitForWorkers(std::chrono::milliseconds timeout) {
  return loop_.RunUntil([this] { return tracker_.RunningCount() == 0; }, timeout);
}

}  // namespace orvexa
