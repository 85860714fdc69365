#include "platform/chunked_copy.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace orvexa {

IoResult WriteFileInChunks(const std::string& path, const void* data, size_t size,
                           size_t chunkSize) {
  if (chunkSize == 0) return IoResult::Failure("WriteFileInChunks: chunk size 0");
  const std::string partial = path + ".part";
  int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return IoResult::Failure(ErrnoMessage("open", partial, errno));
  const char* bytes = static_cast<const char*>(data);
  for (size_t offset = 0; offset < size;) {
    size_t chunk = std::min(chunkSize, size - offset);
    ssize_t written;
    do {
      written = ::write(fd, bytes + offset, chunk);
    } while (written < 0 && errno == EINTR);
    if (written != static_cast<ssize_t>(chunk)) {
      // A short chunk: the copy is incomplete and must not stay behind.
      int saved = written < 0 ? errno : ENOSPC;
      ::close(fd);
      ::unlink(partial.c_str());
      return IoResult::Failure(ErrnoMessage("write", partial, saved));
    }
    offset += chunk;
  }
  if (::close(fd) != 0) {
    int saved = errno;
    ::unlink(partial.c_str());
    return IoResult::Failure(ErrnoMessage("close", partial, saved));
  }
  if (::rename(partial.c_str(), path.c_str()) != 0) {
    int saved = errno;
    ::unlink(partial.c_str());
    return IoResult::Failure(ErrnoMessage("rename", path, saved));
  }
  return IoResult::Success();
}

}  // namespace orvexa
