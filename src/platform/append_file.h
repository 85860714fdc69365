// A text file opened for appending whole lines, as the audit log uses it. Every
// WriteAll is one write() on an O_APPEND descriptor, so a line reaches the file at once
// (nothing is buffered in the process) and lines of concurrent writers never interleave.
//
// Not locked: the owner serialises calls (the audit log holds its own lock).
#pragma once

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

  // Opens (creating it when missing) `path` for appending.
  IoResult Open(const std::string& path);
  bool IsOpen() const { return fd_ >= 0; }
  IoResult WriteAll(std::string_view data);
  void Close();

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace orvexa
