// The archiver's command line: which lab servers to follow (each under its LabId, with
// the credential it needs), which database, how often. Parsed once by the archiver's
// main function before any thread starts.
#pragma once

#include <string>
#include <vector>

#include "archive/lab_follower.h"

namespace orvexa::archive {

struct ArchiverOptions {
  std::vector<LabSettings> labs;
  FollowSettings follow;
  bool help = false;
};

extern const char* const kArchiverUsage;

// False (and a message in `error`) for an unknown option, a bad value, a token file that
// cannot be read, or no server at all.
bool ParseArchiverOptions(const std::vector<std::string>& args, ArchiverOptions* options,
                          std::string* error);

}  // namespace orvexa::archive
