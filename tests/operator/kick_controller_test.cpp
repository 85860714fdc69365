// The KICK button's rules.
#include "operator/kick_controller.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <vector>

namespace orvexa {
namespace {

struct KickRig {
  std::atomic<bool> flag{false};
  std::vector<uint32_t> requested;
  std::vector<bool> buttonStates;
  KickController controller{flag, [this](uint32_t id) { requested.push_back(id); },
                            [this](bool enabled) { buttonStates.push_back(enabled); }};
};

TEST(KickControllerTest, APressKicksOnlyTheUpperSelectedRowAndDisablesUntilThePass) {
  KickRig rig;
  rig.controller.Press({125, 124});  // ids listed from the top of the list
  EXPECT_EQ(rig.requested, std::vector<uint32_t>{125});
  EXPECT_TRUE(rig.flag.load());
  EXPECT_FALSE(rig.controller.ButtonEnabled());
  EXPECT_EQ(rig.buttonStates, std::vector<bool>{false});

  // A second press before the pass does nothing: the button is disabled.
  rig.controller.Press({124});
  EXPECT_EQ(rig.requested.size(), 1u);

  rig.controller.PassFinished(false);
  EXPECT_FALSE(rig.flag.load());
  EXPECT_TRUE(rig.controller.ButtonEnabled());
  EXPECT_EQ(rig.buttonStates, (std::vector<bool>{false, true}));
}

TEST(KickControllerTest, WithoutSelectionOnlyTheButtonIsDisabledUntilTheNextPass) {
  KickRig rig;
  rig.controller.Press({});
  EXPECT_EQ(rig.requested, std::vector<uint32_t>{0});
  EXPECT_FALSE(rig.controller.ButtonEnabled());
  rig.controller.PassFinished(false);
  EXPECT_TRUE(rig.controller.ButtonEnabled());
}

TEST(KickControllerTest, APassWhileTheWindowClosesLeavesTheButtonDisabled) {
  KickRig rig;
  rig.controller.Press({123});
  rig.controller.PassFinished(true);
  EXPECT_FALSE(rig.controller.ButtonEnabled());
  EXPECT_EQ(rig.buttonStates, std::vector<bool>{false});
  // Passes without a press change nothing visible.
  KickRig idle;
  idle.controller.PassFinished(false);
  EXPECT_TRUE(idle.buttonStates.empty());
}

}  // namespace
}  // namespace orvexa
