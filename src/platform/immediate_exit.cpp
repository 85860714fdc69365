#include "platform/immediate_exit.h"

#include <unistd.h>

#include <cstdio>

namespace orvexa {

void ExitImmediately(int status) {
  std::fflush(nullptr);
  ::_exit(status);
}

}  // namespace orvexa
