#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/file_system.h"

namespace orvexa {

MappedFile::~MappedFile() {
  Close();
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      path_(std::move(other.path_)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    path_ = std::move(other.path_);
  }
  return *this;
}

IoResult MappedFile::Open(const std::string& path, bool* created, int* errnoOut) {
  Close();
  auto fail = [&](const char* call, int fd) {
    int saved = errno;
    if (fd >= 0) ::close(fd);
    if (errnoOut != nullptr) *errnoOut = saved;
    return IoResult::Failure(ErrnoMessage(call, path, saved));
  };
  // Try to create it first so that we know whether it existed.
  bool isNew = true;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0 && errno == EEXIST) {
    isNew = false;
    fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  }
  if (fd < 0) return fail("open", -1);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail("flock", fd);
  fd_ = fd;
  path_ = path;
  if (created != nullptr) *created = isNew;
  return IoResult::Success();
}

uint64_t MappedFile::FileSize() const {
  struct stat info {};
  if (fd_ < 0 || ::fstat(fd_, &info) != 0) return 0;
  return static_cast<uint64_t>(info.st_size);
}

IoResult MappedFile::ReadAt(uint64_t offset, void* buffer, size_t size) const {
  return ReadFullyAt(fd_, path_, offset, buffer, size);
}

IoResult MappedFile::EnsureSize(uint64_t size, int* errnoOut) {
  // Every block is reserved, not only the length: a store into an unbacked page of a
  // sparse file on a full disk raises SIGBUS, which no caller could handle. This also
  // fills in an existing file that was left sparse. It never shrinks the file.
  const int error = ::posix_fallocate(fd_, 0, static_cast<off_t>(size));
  if (error != 0) {
    if (errnoOut != nullptr) *errnoOut = error;
    return IoResult::Failure(ErrnoMessage("posix_fallocate", path_, error));
  }
  return IoResult::Success();
}

IoResult MappedFile::Map(size_t size, int* errnoOut) {
  void* data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
  if (data == MAP_FAILED) {
    int saved = errno;
    if (errnoOut != nullptr) *errnoOut = saved;
    return IoResult::Failure(ErrnoMessage("mmap", path_, saved));
  }
  data_ = data;
  size_ = size;
  return IoResult::Success();
}

IoResult MappedFile::Sync() {
  if (data_ == nullptr) return IoResult::Success();
  if (::msync(data_, size_, MS_SYNC) != 0) {
    return IoResult::Failure(ErrnoMessage("msync", path_, errno));
  }
  return IoResult::Success();
}

IoResult MappedFile::OpenReader(ReadOnlyFile* reader) const {
  if (fd_ < 0) return IoResult::Failure("OpenReader: no file open");
  IoResult result = reader->Open(path_);
  if (!result.ok) return result;
  struct stat info {};
  uint64_t device = 0;
  uint64_t inode = 0;
  if (::fstat(fd_, &info) != 0 || !reader->Identity(&device, &inode) ||
      device != static_cast<uint64_t>(info.st_dev) || inode != static_cast<uint64_t>(info.st_ino)) {
    reader->Close();
    return IoResult::Failure("open(" + path_ + "): the path names another file now");
  }
  return IoResult::Success();
}

void MappedFile::Close() {
  if (data_ != nullptr) {
    ::munmap(data_, size_);
    data_ = nullptr;
    size_ = 0;
  }
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

}  // namespace orvexa
