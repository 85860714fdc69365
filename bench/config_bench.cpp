// Parse and write speed of orvexa.cfg for generated 1 MB and 4 MB configurations.
// Prints MB/s for each size and the 4 MB / 1 MB time ratios, which stay close to 4
// when parsing and writing are linear in the file size. The tree of a 1 MB file still
// partly fits in the processor caches while that of 4 MB does not, so that ratio can
// come out somewhat above 4; the 16 MB / 4 MB ratio, where neither fits, shows the
// linear growth without that effect.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "config/config_parser.h"
#include "config/config_writer.h"

namespace {

using Clock = std::chrono::steady_clock;

// Sections of at most 500 entries (each pending entry holds parser stack) with every
// kind of value, until the text reaches `bytes`.
std::string Generate(size_t bytes) {
  std::string text = "// generated\n";
  int section = 0;
  while (text.size() < bytes) {
    text += "Section" + std::to_string(section++) + " {\n";
    for (int k = 0; k < 500 && text.size() < bytes; ++k) {
      std::string key = "   Key" + std::to_string(k) + " = ";
      switch (k % 5) {
        case 0:
          text += key + std::to_string(k * 7919 - 100000) + "\n";
          break;
        case 1:
          text += key + std::to_string(k) + ".125\n";
          break;
        case 2:
          text += key + "\"value number " + std::to_string(k) + "\"\n";
          break;
        case 3:
          text += key + "array { 1, 2.5, \"x\", true, false }\n";
          break;
        case 4:
          text += key + "struct { A = 1 B = \"two\" C = array { } }\n";
          break;
      }
    }
    text += "}\n";
  }
  return text;
}

struct Timing {
  double parseSeconds;
  double writeSeconds;
};

Timing Measure(const std::string& text, int rounds) {
  orvexa::ParseOptions quiet;
  quiet.trace = false;
  quiet.diagnostics = false;
  Timing best{1e9, 1e9};
  for (int r = 0; r < rounds; ++r) {
    auto start = Clock::now();
    orvexa::ConfigValue* root = orvexa::ReadConfiguration(text, quiet);
    auto parsed = Clock::now();
    if (root == nullptr) {
      std::fprintf(stderr, "generated configuration did not parse\n");
      std::exit(1);
    }
    std::string out;
    orvexa::WriteConfiguration(out, root, 0);
    auto written = Clock::now();
    root->Release();
    best.parseSeconds =
        std::min(best.parseSeconds, std::chrono::duration<double>(parsed - start).count());
    best.writeSeconds =
        std::min(best.writeSeconds, std::chrono::duration<double>(written - parsed).count());
  }
  return best;
}

}  // namespace

int main() {
  const std::string small = Generate(1 << 20);
  const std::string large = Generate(4 << 20);
  const std::string huge = Generate(16 << 20);
  Measure(small, 1);  // warm-up
  // Rounds interleaved, so that the load of a shared machine hits every size alike.
  Timing a{1e9, 1e9}, b{1e9, 1e9}, c{1e9, 1e9};
  auto keepBest = [](Timing& best, Timing t) {
    best.parseSeconds = std::min(best.parseSeconds, t.parseSeconds);
    best.writeSeconds = std::min(best.writeSeconds, t.writeSeconds);
  };
  for (int round = 0; round < 5; ++round) {
    keepBest(a, Measure(small, 2));
    keepBest(b, Measure(large, 1));
    if (round < 3) keepBest(c, Measure(huge, 1));
  }
  auto mbps = [](size_t bytes, double seconds) { return bytes / 1048576.0 / seconds; };
  std::printf("parse 1 MB: %.1f ms, %.1f MB/s\n", a.parseSeconds * 1e3,
              mbps(small.size(), a.parseSeconds));
  std::printf("parse 4 MB: %.1f ms, %.1f MB/s\n", b.parseSeconds * 1e3,
              mbps(large.size(), b.parseSeconds));
  std::printf("write 1 MB: %.1f ms, %.1f MB/s\n", a.writeSeconds * 1e3,
              mbps(small.size(), a.writeSeconds));
  std::printf("write 4 MB: %.1f ms, %.1f MB/s\n", b.writeSeconds * 1e3,
              mbps(large.size(), b.writeSeconds));
  std::printf("parse time ratio 4 MB / 1 MB: %.2f (linear: about 4)\n",
              b.parseSeconds / a.parseSeconds);
  std::printf("write time ratio 4 MB / 1 MB: %.2f (linear: about 4)\n",
              b.writeSeconds / a.writeSeconds);
  std::printf("parse time ratio 16 MB / 4 MB: %.2f, write: %.2f (linear: about 4)\n",
              c.parseSeconds / b.parseSeconds, c.writeSeconds / b.writeSeconds);
  return 0;
}
