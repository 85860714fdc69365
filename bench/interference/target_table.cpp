#include "target_table.h"

#include <cstdarg>
#include <cstdio>

namespace orvexa::interference {

std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

void TargetTable::Add(std::string figure, std::string measured, std::string baseline,
                      std::string target, bool met) {
  if (!met) ++misses_;
  rows_.push_back({std::move(figure), std::move(measured), std::move(baseline), std::move(target),
                   met ? "PASS" : "MISS"});
}

void TargetTable::AddInfo(std::string figure, std::string measured, std::string baseline) {
  rows_.push_back({std::move(figure), std::move(measured), std::move(baseline), "-", "-"});
}

void TargetTable::Print() const {
  std::printf("| Figure | Measured | Baseline (same run) | Target | Result |\n");
  std::printf("|---|---|---|---|---|\n");
  for (const Row& r : rows_)
    std::printf("| %s | %s | %s | %s | %s |\n", r.figure.c_str(), r.measured.c_str(),
                r.baseline.c_str(), r.target.c_str(), r.result.c_str());
}

}  // namespace orvexa::interference
