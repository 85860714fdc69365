#include "platform/append_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace orvexa {

IoResult AppendFile::Open(const std::string& path) {
  Close();
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return IoResult::Failure(ErrnoMessage("open", path, errno));
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    IoResult result = IoResult::Failure(ErrnoMessage("fstat", path, errno));
    ::close(fd);
    return result;
  }
  fd_ = fd;
  size_ = static_cast<uint64_t>(info.st_size);
  path_ = path;
  return IoResult::Success();
}

AppendFile::AppendFile(AppendFile&& other) noexcept {
  *this = std::move(other);
}

AppendFile& AppendFile::operator=(AppendFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    size_ = std::exchange(other.size_, 0);
    path_ = std::move(other.path_);
  }
  return *this;
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
    size_ += static_cast<uint64_t>(n);
  }
  return IoResult::Success();
}

void AppendFile::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  size_ = 0;
}

}  // namespace orvexa
