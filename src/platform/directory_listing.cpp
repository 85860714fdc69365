#include "platform/directory_listing.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <functional>

namespace orvexa {

namespace {

// Plain files (not directories) of `folder` whose name `wanted` accepts.
std::vector<std::string> ListFiles(const std::string& folder,
                                   const std::function<bool(const std::string&)>& wanted,
                                   IoResult* error) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    if (error != nullptr) *error = IoResult::Failure(ErrnoMessage("opendir", folder, errno));
    return names;
  }
  while (dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (!wanted(name)) continue;
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

}  // namespace

std::vector<std::string> ListFilesWithSuffix(const std::string& folder, const std::string& suffix,
                                             IoResult* error) {
  return ListFiles(
      folder,
      [&suffix](const std::string& name) {
        return name.size() > suffix.size() &&
               name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
      },
      error);
}

std::vector<std::string> ListFilesWithPrefix(const std::string& folder, const std::string& prefix,
                                             IoResult* error) {
  return ListFiles(
      folder,
      [&prefix](const std::string& name) {
        return name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0;
      },
      error);
}

}  // namespace orvexa
