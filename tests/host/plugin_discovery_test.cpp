#include "host/plugin_discovery.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "host_fixture.h"

namespace orvexa::test {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

using DiscoveryTest = HostTest;

TEST_F(DiscoveryTest, DrivesAPlugInThroughTheLoadOrderAndClosesUpRejectedChannels) {
  AddPlugin("rig", "rig.ldp");
  DeviceRegistry& reg = Discover();
  ASSERT_EQ(reg.PluginCount(), 1);
  EXPECT_EQ(CallLog(0),
            "callbacks;init(null);config(-1,rig.ldp);info(1);query(1);query(2);query(3)");
  DevicePlugin& plugin = reg.Plugin(0);
  EXPECT_TRUE(plugin.IsLoaded());
  EXPECT_EQ(plugin.deviceName, "Rig");
  EXPECT_EQ(plugin.fileName, "rig.ldp");

  ASSERT_EQ(reg.ChannelCount(), 2u);  // number 2 rejected: 1 and 3 close up
  DeviceChannel& input = reg.Channel(0);
  DeviceChannel& temp = reg.Channel(1);
  EXPECT_EQ(input.id, "Rig_Input0");
  EXPECT_EQ(input.description, "first input");
  EXPECT_TRUE(input.readable);
  EXPECT_FALSE(input.writable);
  EXPECT_EQ(input.configureCode, 1);
  EXPECT_EQ(temp.id, "Rig_Temp A");  // the blank stays in the ID
  EXPECT_EQ(temp.name, "Temp A");
  EXPECT_EQ(temp.SettingsKey(), "Rig_Temp_A");
  EXPECT_EQ(temp.description, "");  // null description
  EXPECT_TRUE(temp.readable && temp.writable);
  EXPECT_EQ(temp.readParam, 303);  // the plug-in's own numbering is kept
  EXPECT_EQ(temp.writeParam, 304);
  EXPECT_EQ(temp.configureCode, 3);
  EXPECT_EQ(temp.owner, &plugin);

  EXPECT_EQ(reg.SummaryLines(),
            std::vector<std::string>{"Plug-in rig.ldp: Rig [Rig_Input0, Rig_Temp A]"});
  ASSERT_EQ(reg.Tree().plugins.size(), 1u);
  const DeviceTreePluginNode& node = reg.Tree().plugins[0];
  EXPECT_EQ(node.label, "Rig");
  EXPECT_EQ(node.slot, 0);
  ASSERT_EQ(node.channels.size(), 2u);
  EXPECT_EQ(node.channels[1].label, "Temp A");
  EXPECT_EQ(node.channels[1].channel, &temp);
  EXPECT_EQ(reg.FindChannel("Rig_Temp A"), &temp);
  EXPECT_EQ(reg.FindChannel("Rig_Temp_A"), nullptr);

  // Tick frequency 5000 Hz: the 3999 Hz group.
  EXPECT_EQ(schedule.Group(3999).plugins, std::vector<TickReceiver*>{&plugin});
}

TEST_F(DiscoveryTest, ChannelsReadAndWriteThroughThePlugIn) {
  AddPlugin("rig", "rig.ldp");
  DeviceRegistry& reg = Discover();
  ASSERT_EQ(reg.ChannelCount(), 2u);
  EXPECT_FLOAT_EQ(reg.Channel(0).Read(1), 101.5f);
  EXPECT_FLOAT_EQ(reg.Channel(0).Read(0), 101.0f);
  reg.Channel(0).Write(5.0f);  // read-only: ignored, nothing called
  reg.Channel(1).Write(7.25f);
  EXPECT_FLOAT_EQ(reg.Channel(1).Read(1), 7.25f);
  EXPECT_NE(CallLog(0).find("read(101,1);read(101,0);write(304);read(303,1)"), std::string::npos)
      << CallLog(0);
  DeviceChannel bare;  // no functions at all
  EXPECT_EQ(bare.Read(1), 0.0f);
  bare.Write(1.0f);
}

TEST_F(DiscoveryTest, NamelessDeviceBecomesUnknownAndBlankKeysCollide) {
  AddPlugin("nameless", "nameless.ldp");
  DeviceRegistry& reg = Discover();
  ASSERT_EQ(reg.ChannelCount(), 2u);
  EXPECT_EQ(reg.Plugin(0).deviceName, "Unknown");
  EXPECT_EQ(reg.Channel(0).id, "Unknown_Temp A");
  EXPECT_EQ(reg.Channel(1).id, "Unknown_Temp_A");
  EXPECT_EQ(reg.Channel(0).SettingsKey(), reg.Channel(1).SettingsKey());
  EXPECT_EQ(reg.Channel(0).description, "");
  // Tick frequency query answered true with 0 Hz: no group.
  EXPECT_FALSE(schedule.HasActiveGroups());
}

TEST_F(DiscoveryTest, LibraryWithoutQueryInfoTakesASlotButIsNeverCalled) {
  AddPlugin("missing_query_info", "missing_query_info.ldp");
  DeviceRegistry& reg = Discover();
  ASSERT_EQ(reg.PluginCount(), 1);
  DevicePlugin& plugin = reg.Plugin(0);
  EXPECT_FALSE(plugin.IsLoaded());
  EXPECT_EQ(plugin.deviceName, "");
  EXPECT_EQ(reg.ChannelCount(), 0u);
  EXPECT_EQ(reg.SummaryLines(), std::vector<std::string>{"Plug-in missing_query_info.ldp:  []"});
  ASSERT_EQ(reg.Tree().plugins.size(), 1u);
  EXPECT_EQ(reg.Tree().plugins[0].label, "");
  // Its section is still created.
  EXPECT_NE(FindPluginSection(config.OrvexaConfig(), "missing_query_info.ldp", false), nullptr);
  // Nothing reaches it, not even at shutdown or through the operator's configure.
  reg.ConfigureSelected(DeviceTreeSelection::Plugin(0), config);
  BurstSample* samples = reinterpret_cast<BurstSample*>(&reg);
  EXPECT_EQ(plugin.BurstRecord(&samples, "sweep", 3), -1);
  EXPECT_EQ(samples, nullptr);
  EXPECT_TRUE(plugin.StartExperiment(1, 0));
  EXPECT_EQ(plugin.TickFrequency(), 0u);
  reg.UnloadAll();
  for (const char* call : {"init", "done", "config", "info", "callbacks"}) {
    EXPECT_FALSE(dir.Exists(std::string("missing_query_info.") + call + "_called")) << call;
  }
}

TEST_F(DiscoveryTest, OnlyLoadableFilesWithTheExactSuffixAreLoaded) {
  AddPlugin("rig", "rig.ldp");
  dir.Write("garbage.ldp", "this is not a shared library\n");
  dir.Write("empty.ldp", "");
  AddPlugin("zero", "zero.ldp.bak");
  AddPlugin("zero", "zero.LDP");
  std::filesystem::create_directory(dir.File("folder.ldp"));
  DeviceRegistry& reg = Discover();
  ASSERT_EQ(reg.PluginCount(), 1);
  EXPECT_EQ(reg.Plugin(0).fileName, "rig.ldp");
}

TEST_F(DiscoveryTest, EmptyFolderGivesNoPlugInsAndNoChannels) {
  DeviceRegistry& reg = Discover();
  EXPECT_EQ(reg.PluginCount(), 0);
  EXPECT_EQ(reg.ChannelCount(), 0u);
  EXPECT_TRUE(reg.SummaryLines().empty());
}

TEST_F(DiscoveryTest, PlugInWithoutChannelsStaysLoadedAndServesEverythingElse) {
  AddPlugin("zero", "zero.ldp");
  AddPlugin("rig", "rig.ldp");
  DeviceRegistry& reg = Discover();
  int zero = SlotOf("zero.ldp");
  ASSERT_GE(zero, 0);
  DevicePlugin& plugin = reg.Plugin(zero);
  EXPECT_TRUE(plugin.IsLoaded());
  EXPECT_EQ(CallLog(zero), "callbacks;init(null);config(-1,zero.ldp);info(1)");
  reg.BroadcastMessage(MessageIdleState, 1);  // no channel: not for this plug-in
  EXPECT_TRUE(plugin.BurstSupported("sweep"));
  reg.UnloadAll();
  EXPECT_EQ(CallLog(zero),
            "callbacks;init(null);config(-1,zero.ldp);info(1);burst-supported(sweep);done");
}

TEST_F(DiscoveryTest, SectionLifeCycleAcrossStarts) {
  AddPlugin("rig", "rig.ldp");
  Discover();
  // First start: no section yet; LDPInit gets null, the new element holds Path and what
  // ConfigStoreOnly stored.
  EXPECT_EQ(CallLog(0).rfind("callbacks;init(null);config(-1,rig.ldp)", 0), 0u);
  StructValue* section = FindPluginSection(config.OrvexaConfig(), "rig.ldp", false);
  ASSERT_NE(section, nullptr);
  EXPECT_STREQ(GetString(section, "Path", ""), "rig.ldp");
  EXPECT_EQ(GetInt(section, "config_calls", 0), 1);

  // Second start (a fresh copy of the library, so a fresh instance): the stored element.
  TempDir second;
  std::filesystem::current_path(second.path());
  AddPlugin("rig", "rig.ldp", true, second.path());
  context.folder = second.path();
  Discover();
  EXPECT_EQ(CallLog(0).rfind("callbacks;init(rig.ldp/1);config(-1,rig.ldp/1)", 0), 0u)
      << CallLog(0);
  ArrayValue* configs =
      AsArray(FindTyped(config.OrvexaConfig(), "PluginConfigs", ValueKind::Array));
  ASSERT_NE(configs, nullptr);
  EXPECT_EQ(configs->Size(), 1u);  // found, not created again

  // With /config the plug-in gets no section, but still stores into it.
  TempDir third;
  std::filesystem::current_path(third.path());
  AddPlugin("rig", "rig.ldp", true, third.path());
  context.folder = third.path();
  config.SetDefaultConfiguration(true);
  Discover();
  EXPECT_EQ(CallLog(0).rfind("callbacks;init(null);config(-1,rig.ldp/1)", 0), 0u) << CallLog(0);
  registry.reset();
  std::filesystem::current_path(dir.path());
}

TEST_F(DiscoveryTest, FindPluginSectionMatchesPathExactly) {
  StructValue* orvexa = config.OrvexaConfig();
  EXPECT_EQ(FindPluginSection(orvexa, "a.ldp", false), nullptr);  // no PluginConfigs
  EXPECT_EQ(FindTyped(orvexa, "PluginConfigs", ValueKind::Array), nullptr);
  StructValue* a = FindPluginSection(orvexa, "a.ldp", true);
  ASSERT_NE(a, nullptr);
  auto* array = AsArray(FindTyped(orvexa, "PluginConfigs", ValueKind::Array));
  // Elements of other kinds and structs without a Path string are passed over.
  array->Prepend(array->CreateValue(ValueKind::Integer));
  ConfigValue* pathless = array->CreateValue(ValueKind::Struct);
  SetInt(pathless, "Path", 7);
  array->Prepend(pathless);
  EXPECT_EQ(FindPluginSection(orvexa, "a.ldp", false), a);
  EXPECT_EQ(FindPluginSection(orvexa, "A.ldp", false), nullptr);  // case-sensitive
  StructValue* upper = FindPluginSection(orvexa, "A.ldp", true);
  EXPECT_NE(upper, a);
  EXPECT_EQ(array->Size(), 4u);
  // A PluginConfigs of the wrong kind is never used.
  SetInt(orvexa, "PluginConfigs", 3);
  EXPECT_EQ(FindPluginSection(orvexa, "a.ldp", true), nullptr);
  EXPECT_EQ(FindPluginSection(nullptr, "a.ldp", true), nullptr);
}

TEST_F(DiscoveryTest, FilesBeyondTheHundredSlotsAreNotLoaded) {
  std::set<std::string> names;
  for (int i = 0; i < 102; ++i) {
    std::string name = "z" + std::to_string(1000 + i) + ".ldp";
    AddPlugin("zero", name, false);
    names.insert(name);
  }
  ::testing::internal::CaptureStderr();
  DeviceRegistry& reg = Discover();
  std::string err = ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(reg.PluginCount(), DeviceRegistry::kPluginSlots);
  for (int slot = 0; slot < reg.PluginCount(); ++slot) names.erase(reg.Plugin(slot).fileName);
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_NE(err.find("Plug-in table full"), std::string::npos) << err;
  // The two extras are named and were never mapped into the process.
  std::string maps = ReadFile("/proc/self/maps");
  for (const std::string& name : names) {
    EXPECT_NE(err.find(name), std::string::npos) << err;
    EXPECT_EQ(maps.find(dir.File(name)), std::string::npos) << name;
  }
  EXPECT_NE(maps.find(dir.File(reg.Plugin(0).fileName)), std::string::npos);
}

}  // namespace
}  // namespace orvexa::test
