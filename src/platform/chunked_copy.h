// Writing a memory image to a new file in bounded chunks (the log-file copies): the
// image is written chunk by chunk to "<target>.part" and renamed to the target only once
// complete; a short chunk (a full disk), a failed close or rename removes it again, so
// no partial copy is ever left behind, under either name.
// Stateless (PartialFile does the writing); any thread.
#pragma once

#include <cstddef>
#include <string>

#include "platform/io_result.h"

namespace orvexa {

IoResult WriteFileInChunks(const std::string& path, const void* data, size_t size,
                           size_t chunkSize);

}  // namespace orvexa
