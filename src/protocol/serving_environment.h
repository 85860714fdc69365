// What every connection's worker reaches of the server: the device registry, the user
// table, the audit log, the listing setting, the connection tracker and, with
// authentication, the token verifier and the per-address bound of refused openings.
// Filled once by the server before the listener admits anybody, then only read; the
// objects pointed to guard themselves (see their headers). Request families that need
// more of the server (experiments, history) add their pointers here.
#pragma once

#include <atomic>

namespace orvexa {

class AuditLog;
class ConnectionTracker;
class DeviceRegistry;
class ExperimentService;
class HelloFailureBound;
class TokenVerifier;
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
  // With Authenticate: the credential of Hello must be a token this verifier accepts;
  // null admits everybody. An observer without a token is admitted when
  // allowAnonymousObservers is set. Refusals are counted per address in `failures`.
  const TokenVerifier* tokens = nullptr;
  bool allowAnonymousObservers = false;
  HelloFailureBound* failures = nullptr;
};

}  // namespace orvexa
