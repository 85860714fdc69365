// The main window's title: the program's name and the measured precision of the
// millisecond clock that stamps fast samples and experiment slots, so the operator sees
// how fine the experiment log's time base is on this machine.
//
// Called once on the main thread while the window initializes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace orvexa {

// "Orvexa (Experiment log time precision:<precision>)".
std::string MainWindowTitle(int precision);

// Polls `millisecondTime` until its value changes or until `tickCount` (a second
// millisecond clock) has advanced 2000 ms; the change in milliseconds, or 0 when it
// never changed. Defaults: the server's 32-bit millisecond tick for both.
int MeasureTimerPrecision(const std::function<uint32_t()>& millisecondTime = nullptr,
                          const std::function<uint32_t()>& tickCount = nullptr);

}  // namespace orvexa
