#include "base/server_lock.h"

namespace orvexa {

std::recursive_mutex& ServerLock() {
  static std::recursive_mutex lock;
  return lock;
}

}  // namespace orvexa
