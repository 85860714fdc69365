#include "app/orvexa_server.h"

#include "base/server_lock.h"

namespace orvexa {

bool OrvexaServer::SaveConfiguration() {
  std::lock_guard<PriorityInheritanceMutex> guard(ServerLock());
  return config.Save();
}

}  // namespace orvexa
