#include "platform/append_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace orvexa {

IoResult AppendFile::Open(const std::string& path) {
  Close();
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return IoResult::Failure(ErrnoMessage("open", path, errno));
  fd_ = fd;
  path_ = path;
  return IoResult::Success();
}

IoResult AppendFile::WriteAll(std::string_view data) {
  if (fd_ < 0) return IoResult::Failure("write: file not open");
  size_t written = 0;
  while (written < data.size()) {
    ssize_t n = ::write(fd_, data.data() + written, data.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return IoResult::Failure(ErrnoMessage("write", path_, errno));
    }
    written += static_cast<size_t>(n);
  }
  return IoResult::Success();
}

void AppendFile::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

}  // namespace orvexa
