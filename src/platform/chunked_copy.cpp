#include "platform/chunked_copy.h"

#include "platform/partial_file.h"

namespace orvexa {

IoResult WriteFileInChunks(const std::string& path, const void* data, size_t size,
                           size_t chunkSize) {
  if (chunkSize == 0) return IoResult::Failure("WriteFileInChunks: chunk size 0");
  PartialFile file;
  IoResult result = file.Create(path);
  if (result.ok) result = file.Append(data, size, chunkSize);
  if (result.ok) result = file.Commit();
  return result;
}

}  // namespace orvexa
