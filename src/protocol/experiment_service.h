// The server side of experiments and bursts around the ExperimentStore: asking the
// plug-ins to start and stop an experiment (StartAll / StopAll), the handler behind the
// ExperimentStoppedCallback that plug-ins call when they end an experiment themselves,
// the close-path step of a connection that was recording, and the burst recording that
// stores a plug-in's samples as a finished experiment.
//
// One per server, owned by the server object; reached by the request handlers through
// the serving environment. Locks (order ServerLock -> ExperimentLock): StartAll and
// StopAll call plug-ins and are used with ServerLock held by the caller, which keeps it
// around its whole start or stop sequence; the store takes ExperimentLock inside each of
// its operations. OnConnectionClosed asks no plug-in and takes only the store's lock;
// RunBurstExperiment takes ServerLock for the whole burst; the stopped handler runs with
// ServerLock held by the host hook. ServerLock is recursive, so a plug-in that calls the
// callback from inside LDPExperiment (made with the lock held on the same thread) goes
// straight through; no ExperimentLock is held around a plug-in call.
#pragma once

#include <cstdint>

#include "base/server_lock.h"
#include "protocol/experiment_store.h"
#include "protocol/registry_recording_targets.h"

namespace orvexa {

class AuditLog;
class DeviceRegistry;

class ExperimentService {
 public:
  ExperimentService(DeviceRegistry& registry, AuditLog* audit, ExperimentStore::Clock clock);
  // Removes the stopped handler when it is still ours.
  ~ExperimentService();
  ExperimentService(const ExperimentService&) = delete;
  ExperimentService& operator=(const ExperimentService&) = delete;

  // Routes the plug-ins' ExperimentStoppedCallback to this service (start-up).
  void InstallStoppedHandler();

  ExperimentStore& Store() { return store_; }
  DeviceRegistry& Registry() { return registry_; }
  AuditLog* Audit() { return audit_; }

  // Asks every loaded plug-in in table order; the first refusal ends the walk with
  // false (those asked before are not told).
  bool StartAll(uint32_t id, uint32_t argument) REQUIRES(ServerLock());
  bool StopAll(uint32_t id) REQUIRES(ServerLock());

  // A plug-in ended experiment `id`: it stops and no connection records it any more.
  // The host hook holds ServerLock around it.
  void OnExperimentStopped(uint32_t id) REQUIRES(ServerLock());

  // Close path of connection `serial`: its recording stops, the plug-ins are not told.
  // Takes only the store's lock.
  void OnConnectionClosed(uint32_t serial);

  // Lets the first plug-in that supports `name` record a burst of `duration` (its unit)
  // at real-time priority where the system permits, and stores the samples as a
  // finished experiment with eight burst slots. Returns its id, 0 when no plug-in
  // supports the name or the recording failed. Takes ServerLock for the whole burst.
  uint32_t RunBurstExperiment(const char* name, uint32_t duration,
                              const ClientAddress& clientAddress);

 private:
  DeviceRegistry& registry_;
  AuditLog* audit_;
  RegistryRecordingTargets targets_;
  ExperimentStore store_;
  bool handlerInstalled_ = false;
};

}  // namespace orvexa
