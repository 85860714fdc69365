// ReadOnlyFile: a file opened for reading only, read at given offsets (pread). The log
// copies read a log file through one (opened by MappedFile::OpenReader), so that a copy
// runs on its own thread without touching the mapping that the logger writes to and
// that may be closed meanwhile: the kernel serves the reads from the same page cache
// that backs the shared mapping.
//
// One thread at a time per object; move-only; the destructor closes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/io_result.h"

namespace orvexa {

class ReadOnlyFile {
 public:
  ReadOnlyFile() = default;
  ~ReadOnlyFile() { Close(); }
  ReadOnlyFile(ReadOnlyFile&& other) noexcept;
  ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  IoResult Open(const std::string& path);
  // Reads exactly `size` bytes at `offset`; a short read (end of file) is a failure.
  IoResult ReadAt(uint64_t offset, void* buffer, size_t size) const;
  void Close();

  bool IsOpen() const { return fd_ >= 0; }
  // Device and inode of the open file (false when closed or fstat fails).
  bool Identity(uint64_t* device, uint64_t* inode) const;

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace orvexa
