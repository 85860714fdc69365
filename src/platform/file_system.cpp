#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace orvexa {

std::string ErrnoMessage(const char* call, const std::string& path, int error) {
  std::string text = call;
  if (!path.empty()) text += "(" + path + ")";
  text += ": ";
  text += std::strerror(error);
  return text;
}

std::optional<std::string> ReadWholeFile(const std::string& path, IoResult* error, int* errnoOut) {
  auto fail = [&](const char* call) -> std::optional<std::string> {
    int saved = errno;
    if (error) *error = IoResult::Failure(ErrnoMessage(call, path, saved));
    if (errnoOut) *errnoOut = saved;
    return std::nullopt;
  };
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail("open");
  std::string data;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      auto result = fail("read");
      ::close(fd);
      return result;
    }
    if (n == 0) break;
    data.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return data;
}

IoResult WriteFileAtomically(const std::string& requestedPath, const std::string& data,
                             bool* noTemporary) {
  if (noTemporary != nullptr) *noTemporary = false;
  // A symbolic link stays a link: the file it points to is the one replaced.
  std::string path = requestedPath;
  char resolved[PATH_MAX];
  struct stat link;
  if (::lstat(requestedPath.c_str(), &link) == 0 && S_ISLNK(link.st_mode) &&
      ::realpath(requestedPath.c_str(), resolved) != nullptr)
    path = resolved;
  // The new file keeps the old one's permissions.
  mode_t mode = 0644;
  struct stat old;
  if (::stat(path.c_str(), &old) == 0) mode = old.st_mode & 07777;
  std::string temporary = path + ".tmp";
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (noTemporary != nullptr) *noTemporary = true;
    return IoResult::Failure(ErrnoMessage("open", temporary, errno));
  }
  ::fchmod(fd, mode);
  size_t written = 0;
  while (written < data.size()) {
    ssize_t n = ::write(fd, data.data() + written, data.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      IoResult result = IoResult::Failure(ErrnoMessage("write", temporary, errno));
      ::close(fd);
      ::unlink(temporary.c_str());
      return result;
    }
    written += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) {
    IoResult result = IoResult::Failure(ErrnoMessage("fsync", temporary, errno));
    ::close(fd);
    ::unlink(temporary.c_str());
    return result;
  }
  if (::close(fd) != 0) {
    IoResult result = IoResult::Failure(ErrnoMessage("close", temporary, errno));
    ::unlink(temporary.c_str());
    return result;
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    IoResult result = IoResult::Failure(ErrnoMessage("rename", path, errno));
    ::unlink(temporary.c_str());
    return result;
  }
  // Make the rename itself durable; a failure here leaves a complete file either way.
  std::string folder =
      path.substr(0, path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
  int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return IoResult::Success();
}

IoResult RewriteFileInPlace(const std::string& path, const std::string& data) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return IoResult::Failure(ErrnoMessage("open", path, errno));
  size_t written = 0;
  while (written < data.size()) {
    ssize_t n =
        ::pwrite(fd, data.data() + written, data.size() - written, static_cast<off_t>(written));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      IoResult result = IoResult::Failure(ErrnoMessage("write", path, n < 0 ? errno : ENOSPC));
      ::close(fd);
      return result;
    }
    written += static_cast<size_t>(n);
  }
  const char* failed = nullptr;
  if (::ftruncate(fd, static_cast<off_t>(data.size())) != 0)
    failed = "ftruncate";
  else if (::fsync(fd) != 0)
    failed = "fsync";
  IoResult result = failed ? IoResult::Failure(ErrnoMessage(failed, path, errno)) : IoResult{};
  if (::close(fd) != 0 && result.ok) result = IoResult::Failure(ErrnoMessage("close", path, errno));
  return result;
}

IoResult RenameFile(const std::string& from, const std::string& to, bool* missing) {
  if (missing != nullptr) *missing = false;
  if (::rename(from.c_str(), to.c_str()) == 0) return IoResult::Success();
  const int error = errno;
  if (missing != nullptr) *missing = error == ENOENT;
  return IoResult::Failure(ErrnoMessage("rename", from + " -> " + to, error));
}

IoResult RemoveFile(const std::string& path, bool* missing) {
  if (missing != nullptr) *missing = false;
  if (::unlink(path.c_str()) == 0) return IoResult::Success();
  const int error = errno;
  if (missing != nullptr) *missing = error == ENOENT;
  return IoResult::Failure(ErrnoMessage("unlink", path, error));
}

std::string CurrentDirectory() {
  char buffer[PATH_MAX];
  if (::getcwd(buffer, sizeof buffer) == nullptr) return ".";
  return buffer;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace orvexa

namespace orvexa {

bool MayReplaceFile(const std::string& path) {
  if (!FileExists(path)) return true;
  return ::access(path.c_str(), W_OK) == 0;
}

IoResult ReadFullyAt(int fd, const std::string& path, uint64_t offset, void* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, static_cast<char*>(buffer) + done, size - done,
                              static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return IoResult::Failure(ErrnoMessage("pread", path, errno));
    }
    if (n == 0) return IoResult::Failure("pread(" + path + "): unexpected end of file");
    done += static_cast<size_t>(n);
  }
  return IoResult::Success();
}

bool ReadableByOthers(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  return (info.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

IoResult WriteNewFile(const std::string& path, const std::string& data, unsigned mode) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
  if (fd < 0) return IoResult::Failure(ErrnoMessage("open", path, errno));
  // The umask may have taken bits away; the caller's mode is what it asked for.
  if (::fchmod(fd, static_cast<mode_t>(mode)) != 0) {
    IoResult failed = IoResult::Failure(ErrnoMessage("fchmod", path, errno));
    ::close(fd);
    return failed;
  }
  size_t written = 0;
  while (written < data.size()) {
    ssize_t n = ::write(fd, data.data() + written, data.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      IoResult failed = IoResult::Failure(ErrnoMessage("write", path, errno));
      ::close(fd);
      return failed;
    }
    written += static_cast<size_t>(n);
  }
  const bool synced = ::fsync(fd) == 0;
  const int syncErrno = errno;
  ::close(fd);
  if (!synced) return IoResult::Failure(ErrnoMessage("fsync", path, syncErrno));
  return IoResult::Success();
}

}  // namespace orvexa
