// The corrupt-file fixtures (named after their defect) fail cleanly with a diagnostic;
// the valid ones parse and survive a write/read/write round trip unchanged.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "config/config_parser.h"
#include "config/config_writer.h"

namespace orvexa {
namespace {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::filesystem::path FixtureFolder() {
  return std::filesystem::path(ORVEXA_SOURCE_DIR) / "tests/config/fixtures";
}

TEST(ConfigFixturesTest, CorruptFilesFailWithADiagnostic) {
  int seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator(FixtureFolder())) {
    std::string name = entry.path().filename().string();
    if (name.rfind("valid_", 0) == 0) continue;
    ++seen;
    std::string output;
    ParseOptions options;
    options.trace = false;
    options.capture = &output;
    ConfigValue* root = ReadConfiguration(ReadFile(entry.path()), options);
    EXPECT_EQ(root, nullptr) << name;
    if (root != nullptr) root->Release();
    if (name != "empty_file.cfg") {
      EXPECT_FALSE(output.empty()) << name;
    }
  }
  EXPECT_GE(seen, 15);
}

TEST(ConfigFixturesTest, ValidFilesRoundTrip) {
  int seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator(FixtureFolder())) {
    std::string name = entry.path().filename().string();
    if (name.rfind("valid_", 0) != 0) continue;
    ++seen;
    ParseOptions quiet;
    quiet.trace = false;
    ConfigValue* root = ReadConfiguration(ReadFile(entry.path()), quiet);
    ASSERT_NE(root, nullptr) << name;
    std::string first;
    WriteConfiguration(first, root, 0);
    root->Release();
    ConfigValue* again = ReadConfiguration(first, quiet);
    ASSERT_NE(again, nullptr) << name << "\n" << first;
    std::string second;
    WriteConfiguration(second, again, 0);
    again->Release();
    EXPECT_EQ(second, first) << name;
  }
  EXPECT_GE(seen, 3);
}

}  // namespace
}  // namespace orvexa
