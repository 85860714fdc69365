#include "logging/experiment_lock.h"

namespace orvexa {

PriorityInheritanceMutex& ExperimentLock() {
  static PriorityInheritanceMutex lock;
  return lock;
}

}  // namespace orvexa
