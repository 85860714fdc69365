#include "host/experiment_stopped_hook.h"

#include "base/server_lock.h"
#include "platform/lock_guard.h"

namespace orvexa {

namespace {

ExperimentStoppedHandler& Handler() REQUIRES(ServerLock()) {
  static ExperimentStoppedHandler handler;
  return handler;
}

}  // namespace

void SetExperimentStoppedHandler(ExperimentStoppedHandler handler) {
  LockGuard hold(ServerLock());
  Handler() = std::move(handler);
}

void HostExperimentStopped(uint32_t experimentId) {
  LockGuard hold(ServerLock());
  if (Handler()) Handler()(experimentId);
}

}  // namespace orvexa
