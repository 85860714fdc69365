// A file mapped read-write into memory and held with an exclusive lock: the storage of
// a channel's log file. open + flock(LOCK_EX | LOCK_NB) so that a second server cannot
// use the same file, posix_fallocate to extend a shorter file with every block reserved
// (so a full disk is an error here, never a SIGBUS later), mmap(MAP_SHARED), and
// msync(MS_SYNC) to write the view back.
//
// Used by LogFile (its header says which lock covers which call); the object itself
// has no lock. Move-only; the destructor unmaps and closes, which also releases the lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/io_result.h"
#include "platform/read_only_file.h"

namespace orvexa {

class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile();
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // Opens `path` for reading and writing, creating it when missing, and takes the
  // exclusive lock. `created` tells whether the file did not exist before. On failure
  // nothing stays open and `*errnoOut` holds the system error.
  IoResult Open(const std::string& path, bool* created, int* errnoOut);

  // Size of the open file in bytes (fstat); 0 on failure.
  uint64_t FileSize() const;
  // Reads `size` bytes at `offset` without mapping (pread); fails on a short read.
  IoResult ReadAt(uint64_t offset, void* buffer, size_t size) const;
  // Extends the file to at least `size` bytes with all its blocks reserved (never
  // shrinks it); fails when the disk has no room for them.
  IoResult EnsureSize(uint64_t size, int* errnoOut);
  // Maps the first `size` bytes read-write and shared.
  IoResult Map(size_t size, int* errnoOut);
  // Writes the whole view back to the file and waits for it (msync MS_SYNC).
  IoResult Sync();
  // Unmaps and closes, each only when present; releases the lock.
  void Close();
  // Opens the same file once more, read-only, into `reader` (a descriptor of its own,
  // which neither holds nor needs the exclusive lock and stays usable after Close).
  // Fails when the path no longer names the open file.
  IoResult OpenReader(ReadOnlyFile* reader) const;

  bool IsOpen() const { return fd_ >= 0; }
  void* Data() const { return data_; }
  size_t MappedSize() const { return size_; }
  const std::string& Path() const { return path_; }

 private:
  int fd_ = -1;
  void* data_ = nullptr;
  size_t size_ = 0;
  std::string path_;
};

}  // namespace orvexa
