#include "logging/experiment_lock.h"

namespace orvexa {

std::mutex& ExperimentLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace orvexa
