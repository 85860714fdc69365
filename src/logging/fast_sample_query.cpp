#include "logging/fast_sample_query.h"

#include <algorithm>

namespace orvexa {

FastSampleSelection SelectFastSamples(const SampleLog& buffer, uint8_t flags, uint32_t countOrFirst,
                                      uint16_t maximum) {
  FastSampleSelection out;
  const uint32_t held = buffer.Count();
  uint32_t n = 0;
  if ((flags & kFastSamplesSince) == 0) {
    n = countOrFirst;
    if (maximum > 0 && maximum < n) n = maximum;
    n = std::min(n, held);
  } else {
    // Newest towards oldest, up to the first sample numbered below X.
    while (n < held && SequenceAtOrAfter(buffer.FromNewest(n).sequence, countOrFirst)) ++n;
    if (maximum > 0 && maximum < n) n = maximum;
  }
  if (held > 0) out.newest = buffer.FromNewest(0).sequence;
  out.samples.reserve(n);
  for (uint32_t k = 0; k < n; ++k) out.samples.push_back(buffer.FromNewest(k));
  return out;
}

}  // namespace orvexa
