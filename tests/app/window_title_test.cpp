// The window title with the measured clock precision, and the choice between the
// operator window and headless mode.
#include "app/window_title.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/display_mode.h"

namespace orvexa {
namespace {

TEST(WindowTitleTest, CarriesTheMeasuredPrecision) {
  EXPECT_EQ(MainWindowTitle(1), "Orvexa (Experiment log time precision:1)");
  EXPECT_EQ(MainWindowTitle(16), "Orvexa (Experiment log time precision:16)");
}

TEST(WindowTitleTest, PrecisionIsTheFirstStepOfTheClockOrZeroAfterTwoSeconds) {
  // A clock that steps by 16 ms after a few polls.
  int polls = 0;
  uint32_t tick = 0;
  int precision =
      MeasureTimerPrecision([&] { return ++polls < 5 ? 1000u : 1016u; }, [&] { return tick++; });
  EXPECT_EQ(precision, 16);
  // A clock that never moves: 0 once the other clock has passed 2000 ms, across its wrap.
  uint32_t wrapping = 0xFFFFFF00u;
  precision = MeasureTimerPrecision([] { return 5u; }, [&] { return wrapping += 7; });
  EXPECT_EQ(precision, 0);
  // The server's own clock has millisecond resolution here.
  int real = MeasureTimerPrecision();
  EXPECT_GE(real, 1);
  EXPECT_LE(real, 100);
}

TEST(DisplayModeTest, WindowWithADisplayHeadlessOtherwiseOrWhenAsked) {
  auto env = [](std::map<std::string, std::string> vars) {
    return [vars](const char* name) -> const char* {
      auto it = vars.find(name);
      return it == vars.end() ? nullptr : it->second.c_str();
    };
  };
  EXPECT_FALSE(WantsOperatorWindow({}, env({})));
  EXPECT_FALSE(WantsOperatorWindow({}, env({{"DISPLAY", ""}})));
  EXPECT_TRUE(WantsOperatorWindow({}, env({{"DISPLAY", ":0"}})));
  EXPECT_TRUE(WantsOperatorWindow({}, env({{"WAYLAND_DISPLAY", "wayland-0"}})));
  EXPECT_TRUE(WantsOperatorWindow({"/port", "9000"}, env({{"QT_QPA_PLATFORM", "offscreen"}})));
  EXPECT_FALSE(WantsOperatorWindow({"-headless"}, env({{"DISPLAY", ":0"}})));
  EXPECT_FALSE(WantsOperatorWindow({"/port", "0", "/headless"}, env({{"DISPLAY", ":0"}})));
  // Options are case-sensitive.
  EXPECT_TRUE(WantsOperatorWindow({"-Headless"}, env({{"DISPLAY", ":0"}})));
}

}  // namespace
}  // namespace orvexa
