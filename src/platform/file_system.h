// Whole-file helpers over POSIX: reading a file into memory, replacing a file atomically
// (temporary file in the same folder, fsync, rename), renaming and removing a file, the
// current directory.
// Stateless; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/io_result.h"

namespace orvexa {

// The file's bytes, or nullopt with `error` set (a missing file gives errno ENOENT).
std::optional<std::string> ReadWholeFile(const std::string& path, IoResult* error = nullptr,
                                         int* errnoOut = nullptr);
// Writes `data` to `path` so that readers see either the old or the new content, never
// a mix or a truncated file. On failure the old file is left as it was. The new file
// keeps the old one's permissions; when `path` is a symbolic link, its target is replaced.
// `noTemporary` (optional) tells whether the failure was that the temporary file beside
// it could not be created (a start directory that refuses new files).
IoResult WriteFileAtomically(const std::string& path, const std::string& data,
                             bool* noTemporary = nullptr);
// Overwrites the existing file `path` with `data` in place (truncated to its length) and
// waits until it is on disk (fsync). Not atomic: a crash midway can leave a mix; for a
// file whose folder takes no new files.
IoResult RewriteFileInPlace(const std::string& path, const std::string& data);
// Renames `from` to `to`, replacing an existing `to` (rename(2): atomic within a file
// system). `missing` (optional) tells whether the failure was that `from` does not exist.
IoResult RenameFile(const std::string& from, const std::string& to, bool* missing = nullptr);
// Removes the file `path`. `missing` (optional) tells whether it was already gone.
IoResult RemoveFile(const std::string& path, bool* missing = nullptr);
std::string CurrentDirectory();
bool FileExists(const std::string& path);
// Reads exactly `size` bytes at `offset` of the open descriptor `fd` (named `path` in
// the messages); an end of file before them is a failure.
IoResult ReadFullyAt(int fd, const std::string& path, uint64_t offset, void* buffer, size_t size);
// False when `path` exists but this process may not write it (a read-only file the
// operator protected); true when it is writable or does not exist.
bool MayReplaceFile(const std::string& path);
// True when users other than the file's owner may read `path` (group or other read
// bits); a secret kept in such a file is no longer a secret.
bool ReadableByOthers(const std::string& path);
// Creates the file `path` with permission bits `mode` (a file already there is not
// touched: failure) and writes `data` to it, on disk before it returns.
IoResult WriteNewFile(const std::string& path, const std::string& data, unsigned mode);

}  // namespace orvexa
