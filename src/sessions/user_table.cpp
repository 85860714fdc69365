#include "sessions/user_table.h"

#include <cstdio>
#include <ctime>
#include <thread>

#include "platform/lock_guard.h"
#include "platform/mutex.h"
#include "platform/unique_lock.h"
#include "plugin_api/ldp_plugin.h"
#include "sessions/audit_log.h"

namespace orvexa {

UserTable::UserTable(AuditLog* audit, Broadcast broadcast, Clock clock)
    : audit_(audit), broadcast_(std::move(broadcast)), clock_(std::move(clock)) {}

int64_t UserTable::Now() const {
  return clock_ ? clock_() : static_cast<int64_t>(std::time(nullptr));
}

void UserTable::ApplySettings(const UserTableSettings& settings) {
  bool controlRuleChanged;
  {
    LockGuard guard(lock_);
    controlRuleChanged = settings_.limitMultipleControl != settings.limitMultipleControl;
    settings_ = settings;
    expirationDelay_.store(settings.expirationDelay);
  }
  // Only the control rule changes who shows "C"; new rows would also clear the
  // operator's selection, so any other setting leaves them alone.
  if (controlRuleChanged) RefreshRows();
}

UserTableSettings UserTable::Settings() {
  LockGuard guard(lock_);
  return settings_;
}

UserTable::Entries::iterator UserTable::FindLocked(ConnectionSocket* socketRef) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it)
    if (it->socketRef == socketRef) return it;
  return entries_.end();
}

bool UserTable::HasNonObserverBeforeLocked(Entries::const_iterator entry) const {
  for (auto it = entries_.cbegin(); it != entry; ++it)
    if (!it->observer) return true;
  return false;
}

bool UserTable::IsInControlLocked(Entries::const_iterator entry) const {
  if (entry == entries_.cend() || entry->observer) return false;
  if (!settings_.limitMultipleControl) return true;
  return !HasNonObserverBeforeLocked(entry);
}

bool UserTable::IsInControlLocked(ConnectionSocket* socketRef) const {
  for (auto it = entries_.cbegin(); it != entries_.cend(); ++it)
    if (it->socketRef == socketRef) return IsInControlLocked(it);
  return false;
}

bool UserTable::IsInControl(ConnectionSocket* socketRef) {
  LockGuard guard(lock_);
  return IsInControlLocked(socketRef);
}

size_t UserTable::CountActiveLocked() const {
  size_t count = 0;
  for (const auto& e : entries_)
    if (!e.observer) ++count;
  return count;
}

size_t UserTable::Count() {
  LockGuard guard(lock_);
  return entries_.size();
}

void UserTable::ControlChangedLocked() {
  controlDeadline_ = Now() + settings_.maxUsageTime;
  if (broadcast_) broadcast_(MessageControlChanged, 0);
}

uint32_t UserTable::AddUser(uint32_t account, const IpAddress& address, ConnectionSocket* socketRef,
                            bool observer, bool forwarded, const UserBooking& booking) {
  uint32_t id;
  {
    LockGuard guard(lock_);
    id = nextId_++;
    UserEntry entry;
    entry.id = id;
    entry.address = address;
    entry.account = account;
    entry.socketRef = socketRef;
    if (socketRef) socketRef->expiry.store(Now() + settings_.expirationDelay);
    entry.observer = observer;
    entry.forwarded = forwarded;
    entry.subject = booking.subject;
    entry.bookingEnd = booking.end;
    entry.serial = booking.serial;
    if (entries_.empty() && !observer) ControlChangedLocked();
    entries_.push_back(entry);
    entryCount_.store(entries_.size());
  }
  RefreshRows();
  return id;
}

template <typename Match>
void UserTable::RemoveMatching(Match match) {
  {
    LockGuard guard(lock_);
    for (auto it = entries_.begin(); it != entries_.end();) {
      if (!match(*it)) {
        ++it;
        continue;
      }
      if (it->socketRef && it->socketRef->open) {
        it->socketRef->open = false;
        ShutdownSocket(it->socketRef->handle);
      }
      bool wasController = IsInControlLocked(it);
      it = entries_.erase(it);
      entryCount_.store(entries_.size());
      if (CountActiveLocked() == 0) {
        ControlChangedLocked();
        break;
      }
      if (settings_.limitMultipleControl && wasController) {
        ControlChangedLocked();
        break;
      }
    }
  }
  RefreshRows();
}

void UserTable::RemoveById(uint32_t id) {
  RemoveMatching([id](const UserEntry& e) { return e.id == id; });
}

void UserTable::RemoveBySocket(ConnectionSocket* socketRef) {
  RemoveMatching([socketRef](const UserEntry& e) { return e.socketRef == socketRef; });
}

bool UserTable::RemoveAll(std::optional<std::chrono::milliseconds> wait) {
  {
    UniqueLock<Mutex> guard(lock_, std::defer_lock);
    if (!wait) {
      guard.lock();
    } else {
      // A plain mutex has no timed wait; this runs once, at shutdown.
      const auto end = std::chrono::steady_clock::now() + *wait;
      while (!guard.try_lock()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    for (auto& e : entries_) {
      if (e.socketRef && e.socketRef->open) {
        e.socketRef->open = false;
        ShutdownSocket(e.socketRef->handle);
      }
    }
    entries_.clear();
    entryCount_.store(0);
    ControlChangedLocked();
  }
  RefreshRows();
  return true;
}

void UserTable::EndBookingLocked(UserEntry& e) {
  if (!e.socketRef || !e.socketRef->open) return;
  if (audit_ && audit_->IsOpen())
    audit_->Write("Booking of user %u (\"%s\") ended\n", e.serial, e.subject.c_str());
  e.socketRef->open = false;
  ShutdownSocket(e.socketRef->handle);
}

void UserTable::EndBooking(ConnectionSocket* socketRef) {
  LockGuard guard(lock_);
  auto it = FindLocked(socketRef);
  if (it != entries_.end()) EndBookingLocked(*it);
}

void UserTable::Touch(ConnectionSocket* socketRef) {
  if (socketRef) socketRef->expiry.store(Now() + expirationDelay_.load());
}

uint32_t UserTable::WaitingTimeLocked(Entries::const_iterator entry, int64_t now) const {
  int64_t total = 0;
  bool first = true;
  for (auto it = entries_.cbegin(); it != entry; ++it) {
    if (it->observer) continue;
    total += first ? controlDeadline_ - now : settings_.maxUsageTime;
    first = false;
  }
  return total < 0 ? 0 : static_cast<uint32_t>(total);
}

int32_t UserTable::QueueInfo(ConnectionSocket* socketRef, uint32_t* time) {
  LockGuard guard(lock_);
  auto it = FindLocked(socketRef);
  if (it == entries_.end()) {
    *time = 0;
    return -1;
  }
  if (!settings_.limitMultipleControl) {
    *time = kNoLimit;
    return 0;
  }
  int64_t now = Now();
  if (HasNonObserverBeforeLocked(it)) {
    *time = WaitingTimeLocked(it, now);
    return 1;
  }
  if (it->observer) {
    *time = 0;
    return 0;
  }
  if (CountActiveLocked() <= 1) {
    *time = kNoLimit;
    return 0;
  }
  // The turn may have ended a few seconds before the next rotation pass: report 0, not
  // a negative time.
  int64_t left = controlDeadline_ - now;
  *time = left < 0 ? 0 : static_cast<uint32_t>(left);
  return 0;
}

std::vector<IpAddress> UserTable::ActiveAddresses() {
  LockGuard guard(lock_);
  std::vector<IpAddress> addresses;
  for (const auto& e : entries_)
    if (!e.observer) addresses.push_back(e.address);
  return addresses;
}

void UserTable::NotifyPresence() {
  bool empty = entryCount_.load() == 0;
  if (broadcast_) broadcast_(MessageIdleState, empty ? 1 : 0);
}

void UserTable::RequestKick(uint32_t id) {
  pendingKick_.store(id);
}

void UserTable::MaintenancePass(bool windowClosing) {
  uint32_t kick = pendingKick_.exchange(0);
  if (kick != 0) RemoveById(kick);
  if (windowClosing) return;
  {
    LockGuard guard(lock_);
    int64_t now = Now();
    for (auto& e : entries_) {
      if (e.bookingEnd != 0 && e.bookingEnd <= now) EndBookingLocked(e);
      if (!e.socketRef || !e.socketRef->open || e.socketRef->expiry.load() > now) continue;
      if (audit_ && audit_->IsOpen()) audit_->Write("Connection for user %u expired\n", e.account);
      // The entry stays: the worker sees its connection end and removes it.
      e.socketRef->open = false;
      ShutdownSocket(e.socketRef->handle);
    }
    if (settings_.limitUsage && settings_.limitMultipleControl && entries_.size() > 1 &&
        controlDeadline_ <= now) {
      entries_.splice(entries_.end(), entries_, entries_.begin());
      ControlChangedLocked();
    }
  }
  RefreshRows();
}

ClientRows UserTable::SnapshotLocked() {
  ClientRows snapshot;
  snapshot.generation = ++generation_;
  for (auto it = entries_.cbegin(); it != entries_.cend(); ++it) {
    char text[32];
    std::snprintf(text, sizeof text, "%3.3d.%3.3d.%3.3d.%3.3d %c%c%c", it->address[0],
                  it->address[1], it->address[2], it->address[3], IsInControlLocked(it) ? 'C' : '_',
                  it->observer ? 'R' : '_', it->forwarded ? 'H' : 'D');
    std::string row = text;
    if (!it->subject.empty()) row += " " + it->subject;
    snapshot.rows.push_back({it->id, row});
  }
  return snapshot;
}

ClientRows UserTable::Rows() {
  LockGuard guard(lock_);
  return SnapshotLocked();
}

void UserTable::SetRowsListener(RowsListener listener) {
  LockGuard guard(lock_);
  rowsListener_ = std::move(listener);
}

void UserTable::RefreshRows() {
  ClientRows snapshot;
  RowsListener listener;
  {
    LockGuard guard(lock_);
    if (!rowsListener_) return;
    listener = rowsListener_;
    snapshot = SnapshotLocked();
  }
  listener(snapshot);
}

}  // namespace orvexa
