#include "platform/read_only_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/file_system.h"

namespace orvexa {

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

IoResult ReadOnlyFile::Open(const std::string& path) {
  Close();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return IoResult::Failure(ErrnoMessage("open", path, errno));
  fd_ = fd;
  path_ = path;
  return IoResult::Success();
}

IoResult ReadOnlyFile::ReadAt(uint64_t offset, void* buffer, size_t size) const {
  return ReadFullyAt(fd_, path_, offset, buffer, size);
}

void ReadOnlyFile::Close() {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

bool ReadOnlyFile::Identity(uint64_t* device, uint64_t* inode) const {
  struct stat info {};
  if (fd_ < 0 || ::fstat(fd_, &info) != 0) return false;
  *device = static_cast<uint64_t>(info.st_dev);
  *inode = static_cast<uint64_t>(info.st_ino);
  return true;
}

}  // namespace orvexa
