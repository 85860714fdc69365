// A fresh temporary folder for one test, removed with everything in it at the end.
#pragma once

#include <string>

namespace orvexa::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  void Write(const std::string& name, const std::string& content) const;
  std::string Read(const std::string& name) const;  // "" when missing
  bool Exists(const std::string& name) const;
  // Copies a build output (for example "Simulator.ldp") into the folder.
  void CopyFromBuild(const std::string& name) const;

 private:
  std::string path_;
};

}  // namespace orvexa::test
