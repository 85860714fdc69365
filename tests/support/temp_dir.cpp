#include "support/temp_dir.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace orvexa::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "orvexa-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TempDir::Write(const std::string& name, const std::string& content) const {
  std::ofstream out(File(name), std::ios::binary | std::ios::trunc);
  out << content;
}

std::string TempDir::Read(const std::string& name) const {
  std::ifstream in(File(name), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool TempDir::Exists(const std::string& name) const {
  return std::filesystem::exists(File(name));
}

void TempDir::CopyFromBuild(const std::string& name) const {
  std::filesystem::copy_file(std::string(ORVEXA_BUILD_DIR) + "/" + name, File(name),
                             std::filesystem::copy_options::overwrite_existing);
}

}  // namespace orvexa::test
