#include "base/server_lock.h"

namespace orvexa {

PriorityInheritanceMutex& ServerLock() {
  static PriorityInheritanceMutex lock(PriorityInheritanceMutex::Kind::kRecursive);
  return lock;
}

}  // namespace orvexa
