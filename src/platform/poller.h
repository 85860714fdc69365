// poll() over a set of descriptors, for the headless main loop.
// Stateless; the caller owns the descriptors.
#pragma once

#include <poll.h>

#include <vector>

#include "platform/io_result.h"

namespace orvexa {

// Waits up to `timeoutMs` (-1 = no limit) for events on `fds`; fills their revents.
// Returns the number of ready descriptors, 0 on time-out or EINTR, -1 on another error
// with `error` set.
int PollDescriptors(std::vector<pollfd>& fds, int timeoutMs, IoResult* error = nullptr);

}  // namespace orvexa
