// The queue of connected users: who controls the devices (with LimitMultipleControl only
// the front non-observer), how long the others wait, whose turn ends (LimitUsage), which
// connections stayed idle too long or outlived their booking, and the rows of the
// operator's client list.
//
// Threads: client workers (add, touch, queries, removal), the housekeeping thread
// (MaintenancePass), the main thread (NotifyPresence, rows, settings). The table lock
// guards every entry and field. Lock order: table lock, then ServerLock (ControlChanged
// broadcasts to the plug-ins with the table lock held; the write requests hold the
// table lock around their ServerLock section), then the audit-log lock. No thread waits
// for the main thread while holding the table lock: the rows are handed out as a
// snapshot after the lock is released. The main thread's clock and accept paths
// (NotifyPresence, ExpirationDelay, RequestKick) never wait for the table lock either:
// the main thread may hold ServerLock for a long time (a plug-in's modal configuration
// dialog) while a worker holds the table lock and waits for ServerLock.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <optional>
#include <vector>

#include "base/server_lock.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"
#include "sessions/user_entry.h"

namespace orvexa {

class AuditLog;

struct UserTableSettings {
  bool limitMultipleControl = false;
  int32_t expirationDelay = 60;  // seconds of idleness before a connection expires
  int32_t maxUsageTime = 1200;   // seconds of one turn of control
  bool limitUsage = false;
};

// What a token told about a user (nothing without authentication).
struct UserBooking {
  std::string subject;  // shown after the letters of its client row
  int64_t end = 0;      // calendar seconds; 0: no end
  uint32_t serial = 0;  // the connection's serial number (its audit lines' "User %u")
};

// A snapshot of the client list; a later generation replaces an earlier one.
struct ClientRows {
  uint64_t generation = 0;
  std::vector<ClientRow> rows;
};

class UserTable {
 public:
  static constexpr uint32_t kFirstId = 123;
  static constexpr uint32_t kNoLimit = 0xFFFFFF;

  // Sends a plug-in message to every plug-in with channels; takes ServerLock itself.
  using Broadcast = std::function<void(int code, int arg)>;
  using RowsListener = std::function<void(const ClientRows&)>;
  using Clock = std::function<int64_t()>;  // calendar seconds

  UserTable(AuditLog* audit, Broadcast broadcast, Clock clock = nullptr);

  // Copies the settings; rebuilds the rows only when the control rule
  // (limitMultipleControl) changed.
  void ApplySettings(const UserTableSettings& settings);
  UserTableSettings Settings();

  // Enters a user who passed the opening exchange; returns its id.
  uint32_t AddUser(uint32_t account, const IpAddress& address, ConnectionSocket* socketRef,
                   bool observer, bool forwarded, const UserBooking& booking = {});
  // The booking of the connection has ended: writes its audit line and shuts the
  // connection down, once (the close path then removes the entry). The maintenance pass
  // does the same for the idle ones.
  void EndBooking(ConnectionSocket* socketRef);
  // The KICK: removes the entry with this id, shutting its connection down.
  void RemoveById(uint32_t id);
  // The close path of a connection removes its own entry.
  void RemoveBySocket(ConnectionSocket* socketRef);
  // Shutdown: every connection is shut down, the table emptied. With `wait`, the table
  // lock is waited for at most that long (a write request holds it around its device
  // call, which may never return); false, nothing changed, when it was not had.
  bool RemoveAll(std::optional<std::chrono::milliseconds> wait = std::nullopt);

  // Restarts the idle time-out of the connection (every request: no table lock).
  void Touch(ConnectionSocket* socketRef);
  bool IsInControl(ConnectionSocket* socketRef);
  // The same with the table lock already held (Lock()).
  bool IsInControlLocked(ConnectionSocket* socketRef) const REQUIRES(lock_);
  // -1 not registered; 0 in control or no limit; 1 waiting. *time in seconds, kNoLimit
  // for no limit.
  int32_t QueueInfo(ConnectionSocket* socketRef, uint32_t* time);
  // Addresses of every non-observer, in queue order.
  std::vector<IpAddress> ActiveAddresses();
  size_t Count();
  // The idle delay in seconds, without the table lock (read when a connection is
  // accepted, on the main thread).
  int32_t ExpirationDelay() const { return expirationDelay_.load(); }

  // The one-second tick: tells the plug-ins whether anybody is connected (without the
  // table lock).
  void NotifyPresence();
  // Housekeeping (every 5 s): a pending kick, then (unless the window is closing) idle
  // expiry and the rotation of the control turn.
  void MaintenancePass(bool windowClosing = false);
  // Remembers a kick of `id` for the next maintenance pass (0: none); no table lock.
  void RequestKick(uint32_t id);

  ClientRows Rows();
  // Called (outside the table lock, on the changing thread) with each new snapshot; the
  // listener must not wait for another thread (it posts to the main loop).
  void SetRowsListener(RowsListener listener);

  Mutex& Lock() RETURN_CAPABILITY(lock_) { return lock_; }

 private:
  using Entries = std::list<UserEntry>;

  int64_t Now() const;
  Entries::iterator FindLocked(ConnectionSocket* socketRef) REQUIRES(lock_);
  bool IsInControlLocked(Entries::const_iterator entry) const REQUIRES(lock_);
  bool HasNonObserverBeforeLocked(Entries::const_iterator entry) const REQUIRES(lock_);
  size_t CountActiveLocked() const REQUIRES(lock_);
  uint32_t WaitingTimeLocked(Entries::const_iterator entry, int64_t now) const REQUIRES(lock_);
  void ControlChangedLocked() REQUIRES(lock_);
  // Removes the entries matching `match`; follows the control rules of a removal.
  template <typename Match>
  void RemoveMatching(Match match);
  ClientRows SnapshotLocked() REQUIRES(lock_);
  void EndBookingLocked(UserEntry& entry) REQUIRES(lock_);
  void RefreshRows();

  AuditLog* audit_;
  Broadcast broadcast_;
  Clock clock_;

  // The outermost lock: a controller's write holds it around ServerLock.
  Mutex lock_ ACQUIRED_BEFORE(ServerLock());
  UserTableSettings settings_ GUARDED_BY(lock_);
  Entries entries_ GUARDED_BY(lock_);
  uint32_t nextId_ GUARDED_BY(lock_) = kFirstId;
  std::atomic<int32_t> expirationDelay_{60};  // copy of settings_ for Touch
  int64_t controlDeadline_ GUARDED_BY(lock_) = 0;
  // Copies for the lock-free readers; written under the table lock.
  std::atomic<size_t> entryCount_{0};
  std::atomic<uint32_t> pendingKick_{0};
  uint64_t generation_ GUARDED_BY(lock_) = 0;
  RowsListener rowsListener_ GUARDED_BY(lock_);
};

}  // namespace orvexa
