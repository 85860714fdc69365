#include "host/device_registry.h"

#include <gtest/gtest.h>

#include <thread>

#include "base/server_lock.h"
#include "host/experiment_stopped_hook.h"
#include "host_fixture.h"

namespace orvexa::test {
namespace {

using RegistryTest = HostTest;

TEST_F(RegistryTest, LoggingSettingsAreReadAtRegistration) {
  AddPlugin("rig", "rig.ldp");
  StructValue* input = LoggingEntry("Rig_Input0");
  SetString(input, "LogFileName", "input.log");
  SetInt(input, "TimeBetweenLogs", 60);
  SetBool(input, "AlwaysReset", true);
  SetBool(input, "LogingEnabled", true);
  SetInt(input, "LastLogReplicationDate", 1234);
  SetInt(input, "TimeBetweenReplications", 24);
  SetBool(input, "FastLogEnabled", true);
  SetInt(input, "FastLogFreq", 0);
  SetInt(input, "FastLogSize", 500);
  DeviceRegistry& reg = Discover();
  ASSERT_EQ(reg.ChannelCount(), 2u);

  DeviceChannel& in = reg.Channel(0);
  EXPECT_EQ(in.logFile.fileName, "input.log");
  EXPECT_TRUE(in.logFile.IsOpen());
  EXPECT_EQ(in.logFile.Header()->capacity, 16u);
  EXPECT_TRUE(dir.Exists("input.log"));
  EXPECT_EQ(in.logPeriod, 60);
  EXPECT_TRUE(in.alwaysReset);
  EXPECT_EQ(in.logFile.lastReplication, 1234);
  EXPECT_EQ(in.logFile.replicationPeriod, 24 * 3600);
  EXPECT_EQ(in.nextLogTime, 1000000);
  EXPECT_TRUE(in.fastLogEnabled);
  EXPECT_EQ(in.fastLogFrequency, 0);
  EXPECT_EQ(in.fastLogSize, 500);
  EXPECT_EQ(schedule.Group(1).channels, std::vector<LoggedChannel*>{&in});  // 0 Hz -> 1 Hz

  // No entry: defaults, log named after the ID, closed.
  DeviceChannel& temp = reg.Channel(1);
  EXPECT_EQ(temp.logFile.fileName, "Rig_Temp A");
  EXPECT_FALSE(temp.logFile.IsOpen());
  EXPECT_EQ(temp.logPeriod, 1);
  EXPECT_FALSE(temp.alwaysReset);
  EXPECT_EQ(temp.logFile.replicationPeriod, 0);
  EXPECT_EQ(temp.nextLogTime, 1000000);
  EXPECT_FALSE(temp.fastLogEnabled);
  EXPECT_EQ(temp.fastLogFrequency, 100);
  EXPECT_EQ(temp.fastLogSize, 10000);
  EXPECT_EQ(temp.fastSamples.Capacity(), 10000u);
  EXPECT_TRUE(temp.fastSamples.IsRing());
  EXPECT_FALSE(dir.Exists("Rig_Temp A"));
}

TEST_F(RegistryTest, SettingsKeyUsesUnderscoresAndPartialEntriesTakeDefaults) {
  AddPlugin("rig", "rig.ldp");
  StructValue* temp = LoggingEntry("Rig_Temp_A");
  SetBool(temp, "LogingEnabled", true);         // no LogFileName: the channel ID
  SetInt(temp, "TimeBetweenReplications", -5);  // negative: never, not every pass
  SetInt(temp, "FastLogFreq", 5000);
  SetBool(temp, "FastLogEnabled", true);
  SetString(LoggingEntry("Rig_Input0"), "TimeBetweenLogs", "60");  // wrong kind: default
  DeviceRegistry& reg = Discover();
  DeviceChannel& channel = reg.Channel(1);
  EXPECT_EQ(channel.logFile.fileName, "Rig_Temp A");
  EXPECT_TRUE(channel.logFile.IsOpen());
  EXPECT_TRUE(dir.Exists("Rig_Temp A"));
  EXPECT_EQ(channel.logFile.replicationPeriod, 0);
  EXPECT_EQ(schedule.Group(3999).channels, std::vector<LoggedChannel*>{&channel});
  EXPECT_EQ(reg.Channel(0).logPeriod, 1);
}

TEST_F(RegistryTest, LogFileThatCannotOpenLeavesTheChannelUnlogged) {
  AddPlugin("rig", "rig.ldp");
  StructValue* input = LoggingEntry("Rig_Input0");
  SetString(input, "LogFileName", "no/such/folder/input.log");
  SetBool(input, "LogingEnabled", true);
  std::vector<std::string> messages;
  LogFile::SetErrorSink([&](const std::string& text) { messages.push_back(text); });
  DeviceRegistry& reg = Discover();
  LogFile::SetErrorSink(nullptr);
  ASSERT_EQ(reg.ChannelCount(), 2u);  // registration goes on
  EXPECT_FALSE(reg.Channel(0).logFile.IsOpen());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("Unable to create the log file. Error 0x00000002", 0), 0u)
      << messages[0];
}

TEST_F(RegistryTest, BroadcastReachesEachPlugInWithChannelsOnce) {
  AddPlugin("rig", "rig.ldp");
  AddPlugin("zero", "zero.ldp");
  AddPlugin("nameless", "nameless.ldp");
  DeviceRegistry& reg = Discover();
  reg.BroadcastMessage(MessageControlChanged, 0);
  auto count = [](const std::string& log, const std::string& what) {
    size_t n = 0;
    for (size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count(CallLog(SlotOf("rig.ldp")), "message(1,0)"), 1u);
  EXPECT_EQ(count(CallLog(SlotOf("nameless.ldp")), "message(1,0)"), 1u);
  EXPECT_EQ(count(CallLog(SlotOf("zero.ldp")), "message"), 0u);
}

TEST_F(RegistryTest, ConfigureSelectedHandsTheSectionWithTheRightCode) {
  AddPlugin("rig", "rig.ldp");
  DeviceRegistry& reg = Discover();
  reg.ConfigureSelected(DeviceTreeSelection::Plugin(0), config);
  reg.ConfigureSelected(DeviceTreeSelection::Channel(&reg.Channel(1)), config);
  reg.ConfigureSelected(DeviceTreeSelection::None(), config);
  reg.ConfigureSelected(DeviceTreeSelection::Plugin(7), config);  // no such slot
  std::string log = CallLog(0);
  EXPECT_NE(log.find("config(0,rig.ldp/1);config(3,rig.ldp/2)"), std::string::npos) << log;
  EXPECT_EQ(log.find("config(3,rig.ldp/2);"), std::string::npos) << log;  // nothing after
}

TEST_F(RegistryTest, BurstsAndExperimentsFollowTheContractDefaults) {
  AddPlugin("rig", "rig.ldp");
  AddPlugin("burst_without_free", "burst_without_free.ldp");
  DeviceRegistry& reg = Discover();
  DevicePlugin& rig = reg.Plugin(SlotOf("rig.ldp"));
  EXPECT_TRUE(rig.BurstSupported("sweep"));
  EXPECT_FALSE(rig.BurstSupported("other"));  // 0x100: only the lowest byte counts
  BurstSample* samples = reinterpret_cast<BurstSample*>(&reg);  // preset must clear it
  ASSERT_EQ(rig.BurstRecord(&samples, "sweep", 4), 4);
  ASSERT_NE(samples, nullptr);
  EXPECT_EQ(samples[3].time, 3u);
  EXPECT_EQ(samples[3].value[7], 703.0f);
  rig.BurstFree(samples);
  rig.BurstFree(nullptr);
  EXPECT_EQ(rig.BurstRecord(&samples, "other", 4), -1);
  EXPECT_EQ(samples, nullptr);
  auto frees = reinterpret_cast<int (*)()>(rig.module.Symbol("TestBurstFrees"));
  EXPECT_EQ(frees(), 1);
  EXPECT_NE(CallLog(SlotOf("rig.ldp")).find("burst-record(sweep,4,0,0)"), std::string::npos);

  EXPECT_TRUE(rig.StartExperiment(5, 1));
  EXPECT_FALSE(rig.StartExperiment(6, 13));  // 0x200: lowest byte false
  EXPECT_TRUE(rig.StopExperiment(5));
  EXPECT_NE(
      CallLog(SlotOf("rig.ldp")).find("experiment(0,5,1);experiment(0,6,13);experiment(1,5,0)"),
      std::string::npos);

  // LDPBurstRecord without LDPBurstFree: the array stays the plug-in's.
  DevicePlugin& noFree = reg.Plugin(SlotOf("burst_without_free.ldp"));
  EXPECT_EQ(noFree.burstFree, nullptr);
  ASSERT_EQ(noFree.BurstRecord(&samples, "x", 2), 2);
  noFree.BurstFree(samples);                   // must not call a null pointer
  EXPECT_TRUE(noFree.StartExperiment(1, 13));  // no LDPExperiment: agrees
  EXPECT_FALSE(noFree.QueryPluginInfo(PluginInfoTickFrequency, &samples));
}

TEST_F(RegistryTest, ExperimentStoppedCallbackReachesTheInstalledHandler) {
  AddPlugin("rig", "rig.ldp");
  DeviceRegistry& reg = Discover();
  auto stop =
      reinterpret_cast<void (*)(uint32_t)>(reg.Plugin(0).module.Symbol("TestStopExperiment"));
  ASSERT_NE(stop, nullptr);
  stop(1);  // no handler yet: nothing happens
  std::vector<uint32_t> stopped;
  bool lockHeld = false;
  SetExperimentStoppedHandler([&](uint32_t id) {
    stopped.push_back(id);
    // The handler runs under ServerLock: another thread cannot take it meanwhile.
    std::thread other([&] {
      lockHeld = !ServerLock().try_lock();
      if (!lockHeld) ServerLock().unlock();
    });
    other.join();
  });
  std::thread pluginThread([&] { stop(77); });  // plug-ins may call from their own threads
  pluginThread.join();
  SetExperimentStoppedHandler(nullptr);
  stop(78);
  EXPECT_EQ(stopped, std::vector<uint32_t>{77});
  EXPECT_TRUE(lockHeld);
}

TEST_F(RegistryTest, UnloadCallsDoneOnceInSlotOrderAndNothingAfter) {
  AddPlugin("rig", "rig.ldp");
  AddPlugin("nameless", "nameless.ldp");
  DeviceRegistry& reg = Discover();
  reg.UnloadAll();
  reg.UnloadAll();
  EXPECT_FALSE(reg.Plugin(0).IsLoaded());
  std::string before = CallLog(SlotOf("rig.ldp"));
  EXPECT_EQ(before.substr(before.size() - 5), ";done");
  // After LDPDone no channel function, message or configure reaches the plug-in.
  EXPECT_EQ(reg.Channel(0).Read(1), 0.0f);
  reg.Channel(1).Write(1.0f);
  reg.BroadcastMessage(MessageIdleState, 0);
  reg.ConfigureSelected(DeviceTreeSelection::Plugin(0), config);
  EXPECT_EQ(CallLog(SlotOf("rig.ldp")), before);
  registry.reset();  // the destructors' Unload does nothing more
  // done.marker holds one line per plug-in, in slot order.
  std::string marker = dir.Read("done.marker");
  EXPECT_EQ(std::count(marker.begin(), marker.end(), '\n'), 2) << marker;
}

}  // namespace
}  // namespace orvexa::test
