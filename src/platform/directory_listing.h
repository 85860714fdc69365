// Listing the plain file names of one folder that end in a given suffix (the plug-in
// discovery's "*.ldp") or begin with a given prefix (the copies of a log file). No
// sub-folders are entered; names come in the order the system returns them (unsorted),
// without the folder part. Stateless; any thread.
#pragma once

#include <string>
#include <vector>

#include "platform/io_result.h"

namespace orvexa {

// Entries of `folder` whose name ends exactly in `suffix` (case-sensitive) and is longer
// than the suffix, excluding directories. Empty with `error` set when the folder cannot
// be read.
std::vector<std::string> ListFilesWithSuffix(const std::string& folder, const std::string& suffix,
                                             IoResult* error = nullptr);
// Entries of `folder` whose name begins exactly with `prefix` and is longer than it,
// excluding directories; as above otherwise.
std::vector<std::string> ListFilesWithPrefix(const std::string& folder, const std::string& prefix,
                                             IoResult* error = nullptr);

}  // namespace orvexa
