#include "platform/directory_listing.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>

namespace orvexa {

std::vector<std::string> ListFilesWithSuffix(const std::string& folder, const std::string& suffix,
                                             IoResult* error) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    if (error != nullptr) *error = IoResult::Failure(ErrnoMessage("opendir", folder, errno));
    return names;
  }
  while (dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name.size() <= suffix.size()) continue;
    if (name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
    // d_type is not filled on every file system; fall back to stat.
    bool isDirectory = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      struct stat info {};
      if (::stat((folder + "/" + name).c_str(), &info) == 0) isDirectory = S_ISDIR(info.st_mode);
    }
    if (!isDirectory) names.push_back(std::move(name));
  }
  ::closedir(dir);
  return names;
}

}  // namespace orvexa
