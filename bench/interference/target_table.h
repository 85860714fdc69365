// The interference benchmark's verdict: one row per figure (what was measured, the
// baseline measured in the same run, the target, PASS or MISS), printed as a Markdown
// table that bench/report.py copies into its own. Main's thread only.
#pragma once

#include <string>
#include <vector>

namespace orvexa::interference {

class TargetTable {
 public:
  // `met` decides PASS or MISS; a row without a target gives "-".
  void Add(std::string figure, std::string measured, std::string baseline, std::string target,
           bool met);
  void AddInfo(std::string figure, std::string measured, std::string baseline);
  void Print() const;
  int misses() const { return misses_; }

 private:
  struct Row {
    std::string figure, measured, baseline, target, result;
  };
  std::vector<Row> rows_;
  int misses_ = 0;
};

// printf into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace orvexa::interference
