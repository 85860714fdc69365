// PartialFile: a new file written under "<path>.part" and given its final name only when
// it is complete and on the disk (Commit: fsync, close, rename over `path`, fsync of the
// folder, so that a power cut never leaves a short file under the final name once
// Commit has returned). Any failure on the way, an
// Abandon, or destroying the object before Commit removes the partial file, so no
// incomplete file is ever left behind under either name.
//
// Used by the log-file copies (WriteFileInChunks, LogCopy). One thread at a time per
// object; move-only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/io_result.h"

namespace orvexa {

class PartialFile {
 public:
  PartialFile() = default;
  ~PartialFile() { Abandon(); }
  PartialFile(PartialFile&& other) noexcept;
  PartialFile& operator=(PartialFile&& other) noexcept;
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  // Creates (or truncates) "<path>.part" for writing.
  IoResult Create(const std::string& path);
  // Appends `size` bytes in writes of at most `chunkSize` bytes. A short write (a full
  // disk) or an error abandons the file.
  IoResult Append(const void* data, size_t size, size_t chunkSize);
  // Overwrites `size` bytes at `offset` of what was written; an error abandons the file.
  IoResult WriteAt(uint64_t offset, const void* data, size_t size);
  // Flushes the partial file to the disk, closes and renames it to the final path and
  // flushes the folder. On a failure before the rename the partial file is removed; a
  // failure of the folder's flush is reported with the file already renamed (callers
  // then must not remove older copies in its favour).
  IoResult Commit();
  // Closes and removes the partial file; nothing when none is open.
  void Abandon();

  bool IsOpen() const { return fd_ >= 0; }
  std::string PartialPath() const { return path_ + ".part"; }

 private:
  IoResult Fail(const char* call, int error);

  int fd_ = -1;
  std::string path_;
};

}  // namespace orvexa
