#include "platform/partial_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

namespace orvexa {

PartialFile::PartialFile(PartialFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

PartialFile& PartialFile::operator=(PartialFile&& other) noexcept {
  if (this != &other) {
    Abandon();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

IoResult PartialFile::Create(const std::string& path) {
  Abandon();
  path_ = path;
  const std::string partial = PartialPath();
  fd_ = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) return IoResult::Failure(ErrnoMessage("open", partial, errno));
  return IoResult::Success();
}

IoResult PartialFile::Fail(const char* call, int error) {
  IoResult result = IoResult::Failure(ErrnoMessage(call, PartialPath(), error));
  Abandon();
  return result;
}

IoResult PartialFile::Append(const void* data, size_t size, size_t chunkSize) {
  if (fd_ < 0) return IoResult::Failure("PartialFile: no file open");
  if (chunkSize == 0) return Fail("write", EINVAL);
  const char* bytes = static_cast<const char*>(data);
  for (size_t offset = 0; offset < size;) {
    const size_t chunk = std::min(chunkSize, size - offset);
    ssize_t written;
    do {
      written = ::write(fd_, bytes + offset, chunk);
    } while (written < 0 && errno == EINTR);
    // A short chunk: the disk is full, the file would be incomplete.
    if (written != static_cast<ssize_t>(chunk)) return Fail("write", written < 0 ? errno : ENOSPC);
    offset += chunk;
  }
  return IoResult::Success();
}

IoResult PartialFile::WriteAt(uint64_t offset, const void* data, size_t size) {
  if (fd_ < 0) return IoResult::Failure("PartialFile: no file open");
  const char* bytes = static_cast<const char*>(data);
  for (size_t done = 0; done < size;) {
    const ssize_t written =
        ::pwrite(fd_, bytes + done, size - done, static_cast<off_t>(offset + done));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return Fail("pwrite", written < 0 ? errno : ENOSPC);
    done += static_cast<size_t>(written);
  }
  return IoResult::Success();
}

IoResult PartialFile::Commit() {
  if (fd_ < 0) return IoResult::Failure("PartialFile: no file open");
  const std::string partial = PartialPath();
  // The data reaches the disk before the name does: a power cut must not leave an
  // empty or torn file under the final name.
  if (::fsync(fd_) != 0) return Fail("fsync", errno);
  const int fd = std::exchange(fd_, -1);
  if (::close(fd) != 0) {
    const int saved = errno;
    ::unlink(partial.c_str());
    return IoResult::Failure(ErrnoMessage("close", partial, saved));
  }
  if (::rename(partial.c_str(), path_.c_str()) != 0) {
    const int saved = errno;
    ::unlink(partial.c_str());
    return IoResult::Failure(ErrnoMessage("rename", path_, saved));
  }
  // And the rename itself, before a caller relies on it (removing older files).
  const size_t slash = path_.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path_.substr(0, slash));
  const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd < 0) return IoResult::Failure(ErrnoMessage("open", folder, errno));
  const bool synced = ::fsync(folderFd) == 0;
  const int saved = errno;
  ::close(folderFd);
  if (!synced) return IoResult::Failure(ErrnoMessage("fsync", folder, saved));
  return IoResult::Success();
}

void PartialFile::Abandon() {
  if (fd_ < 0) return;
  ::close(std::exchange(fd_, -1));
  ::unlink(PartialPath().c_str());
}

}  // namespace orvexa
