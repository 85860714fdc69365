#include "app/window_title.h"

#include <cstdio>

#include "platform/clock.h"

namespace orvexa {

std::string MainWindowTitle(int precision) {
  char text[96];
  std::snprintf(text, sizeof text, "Orvexa (Experiment log time precision:%d)", precision);
  return text;
}

int MeasureTimerPrecision(const std::function<uint32_t()>& millisecondTime,
                          const std::function<uint32_t()>& tickCount) {
  auto time = millisecondTime ? millisecondTime : [] { return MillisecondTick(); };
  auto ticks = tickCount ? tickCount : [] { return MillisecondTick(); };
  const uint32_t first = time();
  const uint32_t start = ticks();
  for (;;) {
    const uint32_t now = time();
    // Unsigned differences stay right across the 32-bit wrap of either clock.
    if (now != first) return static_cast<int>(now - first);
    if (ticks() - start >= 2000) return 0;
  }
}

}  // namespace orvexa
