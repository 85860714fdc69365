// Percentiles of a set of measured durations (milliseconds), for the ReadValue, Hello
// and flood reply times of the interference benchmark. Plain values; any thread.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace orvexa::interference {

struct LatencySummary {
  size_t count = 0;
  double p50 = 0, p99 = 0, max = 0;

  static LatencySummary Of(std::vector<double> values) {
    LatencySummary s;
    s.count = values.size();
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    auto at = [&](double p) { return values[static_cast<size_t>(p * (values.size() - 1) + 0.5)]; };
    s.p50 = at(0.50);
    s.p99 = at(0.99);
    s.max = values.back();
    return s;
  }
};

}  // namespace orvexa::interference
