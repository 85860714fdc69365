#include "app/server_state.h"

#include "base/server_lock.h"

namespace orvexa {

bool ServerState::SaveConfiguration() {
  std::lock_guard<PriorityInheritanceMutex> guard(ServerLock());
  return config.Save().ok;
}

}  // namespace orvexa
