// Writing a memory image to a new file in bounded chunks (the log-file copies): the
// target is created or replaced, written chunk by chunk, and removed again when any
// chunk is written short or the close fails, so no partial copy is ever left behind.
// Stateless; any thread.
#pragma once

#include <cstddef>
#include <string>

#include "platform/io_result.h"

namespace orvexa {

IoResult WriteFileInChunks(const std::string& path, const void* data, size_t size,
                           size_t chunkSize);

}  // namespace orvexa
