#include "host/experiment_stopped_hook.h"

#include <mutex>

#include "base/server_lock.h"

namespace orvexa {

namespace {

// Guarded by ServerLock.
ExperimentStoppedHandler& Handler() {
  static ExperimentStoppedHandler handler;
  return handler;
}

}  // namespace

void SetExperimentStoppedHandler(ExperimentStoppedHandler handler) {
  std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
  Handler() = std::move(handler);
}

void HostExperimentStopped(uint32_t experimentId) {
  std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
  if (Handler()) Handler()(experimentId);
}

}  // namespace orvexa
