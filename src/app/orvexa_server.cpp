#include "app/orvexa_server.h"

#include "base/server_lock.h"
#include "platform/lock_guard.h"

namespace orvexa {

bool OrvexaServer::SaveConfiguration() {
  LockGuard guard(ServerLock());
  return config.Save();
}

}  // namespace orvexa
