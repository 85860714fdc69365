// The simulated device, loaded from build/Simulator.ldp through the real host.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "host/experiment_stopped_hook.h"
#include "host/host_fixture.h"

namespace orvexa::test {
namespace {

class SimulatorTest : public HostTest {
 protected:
  DeviceRegistry& Load() {
    std::filesystem::copy_file(std::string(ORVEXA_BUILD_DIR) + "/Simulator.ldp",
                               dir.File("Simulator.ldp"),
                               std::filesystem::copy_options::overwrite_existing);
    return Discover();
  }
};

TEST_F(SimulatorTest, OffersItsChannelsAndKeepsItsSettingsInItsSection) {
  DeviceRegistry& reg = Load();
  EXPECT_EQ(reg.SummaryLines(),
            std::vector<std::string>{"Plug-in Simulator.ldp: Simulator [Simulator_Sine, "
                                     "Simulator_Ramp, Simulator_Setpoint, Simulator_Output]"});
  ASSERT_EQ(reg.ChannelCount(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_TRUE(reg.Channel(i).readable) << i;
    EXPECT_EQ(reg.Channel(i).writable, i == 2) << i;
    EXPECT_FALSE(reg.Channel(i).description.empty()) << i;
  }
  StructValue* section = FindPluginSection(config.OrvexaConfig(), "Simulator.ldp", false);
  ASSERT_NE(section, nullptr);
  EXPECT_EQ(GetInt(section, "sine_period", 0), 10);
  EXPECT_EQ(GetInt(section, "tick_frequency", 0), 100);
  EXPECT_EQ(schedule.Group(100).plugins, std::vector<TickReceiver*>{&reg.Plugin(0)});
}

TEST_F(SimulatorTest, StoredSettingsAreUsedOnTheNextStart) {
  StructValue* section = FindPluginSection(config.OrvexaConfig(), "Simulator.ldp", true);
  SetInt(section, "tick_frequency", 5000);
  SetInt(section, "sine_period", 0);  // nonsense: the default is kept
  SetString(section, "ramp_period", "x");
  DeviceRegistry& reg = Load();
  EXPECT_EQ(reg.Plugin(0).TickFrequency(), 5000u);
  EXPECT_EQ(schedule.Group(3999).plugins.size(), 1u);
  EXPECT_EQ(GetInt(section, "sine_period", 0), 10);
  EXPECT_STREQ(GetString(section, "ramp_period", ""), "x");  // not its kind: left alone
}

TEST_F(SimulatorTest, TickFrequencyZeroJoinsNoGroup) {
  SetInt(FindPluginSection(config.OrvexaConfig(), "Simulator.ldp", true), "tick_frequency", 0);
  Load();
  EXPECT_FALSE(schedule.HasActiveGroups());
}

TEST_F(SimulatorTest, TimeVaryingChannelsStayInRange) {
  DeviceRegistry& reg = Load();
  for (int i = 0; i < 50; ++i) {
    float sine = reg.Channel(0).Read(1);
    float ramp = reg.Channel(1).Read(0);
    EXPECT_GE(sine, -1.0f);
    EXPECT_LE(sine, 1.0f);
    EXPECT_GE(ramp, 0.0f);
    EXPECT_LT(ramp, 100.0f);
  }
}

TEST_F(SimulatorTest, OutputFollowsTheSetpointWithALagAdvancedByTicks) {
  DeviceRegistry& reg = Load();
  DeviceChannel& setpoint = reg.Channel(2);
  DeviceChannel& output = reg.Channel(3);
  setpoint.Write(10.0f);
  EXPECT_EQ(setpoint.Read(1), 10.0f);
  setpoint.Write(std::nanf(""));  // ignored
  EXPECT_EQ(setpoint.Read(1), 10.0f);
  output.Write(3.0f);               // read-only: nothing
  EXPECT_EQ(output.Read(1), 0.0f);  // no tick yet
  reg.Plugin(0).SendPluginMessage(MessageTick, 0);
  // One step of 10 ms with a 500 ms time constant.
  EXPECT_NEAR(output.Read(1), 10.0 * (1.0 - std::exp(-0.02)), 1e-4);
  float previous = output.Read(1);
  for (int i = 0; i < 499; ++i) {
    reg.Plugin(0).SendPluginMessage(MessageTick, 0);
    float now = output.Read(1);
    EXPECT_GE(now, previous);
    previous = now;
  }
  EXPECT_NEAR(previous, 10.0f, 0.01f);                   // ten time constants
  reg.Plugin(0).SendPluginMessage(MessageIdleState, 1);  // other codes change nothing
  EXPECT_EQ(output.Read(1), previous);
}

TEST_F(SimulatorTest, SweepBurstTakesItsDurationAndHasEightColumns) {
  DeviceRegistry& reg = Load();
  DevicePlugin& plugin = reg.Plugin(0);
  EXPECT_TRUE(plugin.BurstSupported("sweep"));
  EXPECT_FALSE(plugin.BurstSupported("Sweep"));
  BurstSample* samples = nullptr;
  auto begin = std::chrono::steady_clock::now();
  ASSERT_EQ(plugin.BurstRecord(&samples, "sweep", 40), 40);
  EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(40));
  ASSERT_NE(samples, nullptr);
  EXPECT_EQ(samples[10].time, 10u);
  EXPECT_NEAR(samples[10].value[0], 1.0f, 1e-6);  // sin(2 pi 10 / 40)
  EXPECT_NEAR(samples[10].value[1], 0.0f, 1e-5);  // sin(2 pi 2 * 10 / 40)
  EXPECT_NEAR(samples[5].value[7], std::sin(2 * M_PI * 8 * 5 / 40), 1e-5);
  plugin.BurstFree(samples);
  EXPECT_EQ(plugin.BurstRecord(&samples, "sweep", 0), 0);
  EXPECT_EQ(samples, nullptr);
  EXPECT_EQ(plugin.BurstRecord(&samples, "other", 10), -1);
}

TEST_F(SimulatorTest, ExperimentWithADurationEndsItselfThroughTheCallback) {
  DeviceRegistry& reg = Load();
  std::vector<uint32_t> stopped;
  SetExperimentStoppedHandler([&](uint32_t id) { stopped.push_back(id); });
  EXPECT_TRUE(reg.Plugin(0).StartExperiment(7, 0));  // runs until stopped
  EXPECT_TRUE(reg.Plugin(0).StartExperiment(8, 1));  // ends itself after a second
  EXPECT_TRUE(reg.Plugin(0).StartExperiment(9, 1));
  EXPECT_TRUE(reg.Plugin(0).StopExperiment(9));
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (stopped.empty() && std::chrono::steady_clock::now() < deadline) {
    reg.BroadcastMessage(MessageIdleState, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  reg.BroadcastMessage(MessageIdleState, 1);
  SetExperimentStoppedHandler(nullptr);
  EXPECT_EQ(stopped, std::vector<uint32_t>{8});
}

}  // namespace
}  // namespace orvexa::test
