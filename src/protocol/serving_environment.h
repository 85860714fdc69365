// What every connection's worker reaches of the server: the device registry, the user
// table, the audit log, the listing setting and the connection tracker. Filled once by the
// server before the listener admits anybody, then only read; the objects pointed to
// guard themselves (see their headers). Request families that need more of the server
// (experiments, history) add their pointers here.
#pragma once

namespace orvexa {

class AuditLog;
class ConnectionTracker;
class DeviceRegistry;
class ExperimentService;
class UserTable;

struct ServingEnvironment {
  DeviceRegistry* registry = nullptr;
  UserTable* users = nullptr;
  AuditLog* audit = nullptr;  // lines only while it is open
  // DisableDeviceListing of the server settings, read under ServerLock; null: listing on.
  const bool* deviceListingDisabled = nullptr;
  ConnectionTracker* tracker = nullptr;  // null in tests that run one session alone
  // Experiments, recordings and bursts; null: those requests answer as if nothing
  // could be recorded.
  ExperimentService* experiments = nullptr;
};

}  // namespace orvexa
