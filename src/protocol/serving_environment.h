// What every connection's worker reaches of the server: the device registry, the user
// table, the audit log, the listing setting and the connection tracker. Filled once by the
// server before the listener admits anybody, then only read; the objects pointed to
// guard themselves (see their headers). Request families that need more of the server
// (experiments, history) add their pointers here.
#pragma once

#include <atomic>

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
  // The server's copy of DisableDeviceListing (the settings themselves belong to the main
  // thread); null: listing on.
  const std::atomic<bool>* deviceListingDisabled = nullptr;
  ConnectionTracker* tracker = nullptr;  // null in tests that run one session alone
  // Experiments, recordings and bursts; null: those requests answer as if nothing
  // could be recorded.
  ExperimentService* experiments = nullptr;
};

}  // namespace orvexa
