#include "platform/poller.h"

#include <cerrno>

namespace orvexa {

int PollDescriptors(std::vector<pollfd>& fds, int timeoutMs, IoResult* error) {
  int n = ::poll(fds.data(), static_cast<nfds_t>(fds.size()), timeoutMs);
  if (n >= 0) return n;
  if (errno == EINTR) return 0;
  if (error) *error = IoResult::Failure(ErrnoMessage("poll", "", errno));
  return -1;
}

}  // namespace orvexa
