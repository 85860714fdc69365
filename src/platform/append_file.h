// A text file opened for appending whole lines, as the audit log uses it. Every
// WriteAll is one write() on an O_APPEND descriptor, so a line reaches the file at once
// (nothing is buffered in the process) and lines of concurrent writers never interleave.
//
// Not locked: the owner serialises calls (the audit log holds its own lock). Size() is
// the file's length at Open plus what this object wrote since, so a size limit costs no
// system call per line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/io_result.h"

namespace orvexa {

class AppendFile {
 public:
  AppendFile() = default;
  ~AppendFile() { Close(); }
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;
  // Moving hands the descriptor over (a rotation opens the next file before it lets the
  // current one go); the source is left closed.
  AppendFile(AppendFile&& other) noexcept;
  AppendFile& operator=(AppendFile&& other) noexcept;

  // Opens (creating it when missing) `path` for appending.
  IoResult Open(const std::string& path);
  bool IsOpen() const { return fd_ >= 0; }
  IoResult WriteAll(std::string_view data);
  void Close();
  // Bytes in the file: its length when opened plus the bytes written through this object.
  uint64_t Size() const { return size_; }

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
  std::string path_;
};

}  // namespace orvexa
