#include "app/server_state.h"

#include "base/server_lock.h"
#include "platform/lock_guard.h"

namespace orvexa {

bool ServerState::SaveConfiguration() {
  LockGuard guard(ServerLock());
  return config.Save().ok;
}

}  // namespace orvexa
