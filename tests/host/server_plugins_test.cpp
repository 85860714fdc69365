// The real server with real plug-ins in a folder of its own: start-up summary, log files
// of the channels whose logging is enabled, plug-in sections saved in orvexa.cfg, and
// LDPDone at shutdown.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "config/config_access.h"
#include "config/configuration_store.h"
#include "support/server_process.h"
#include "support/temp_dir.h"

namespace orvexa::test {
namespace {

constexpr const char* kSimulatorLine =
    "Plug-in Simulator.ldp: Simulator [Simulator_Sine, Simulator_Ramp, Simulator_Setpoint, "
    "Simulator_Output]";
constexpr const char* kRigLine = "Plug-in rig.ldp: Rig [Rig_Input0, Rig_Temp A]";

class ServerPluginsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.CopyFromBuild("Simulator.ldp");
    std::filesystem::copy_file(std::string(HOST_TEST_PLUGIN_DIR) + "/rig.ldp", dir.File("rig.ldp"));
  }

  // orvexa.cfg in `folder` with logging enabled for the sine channel (into `sineLog`) and
  // for "Rig_Temp A" (whose key has an underscore for the blank).
  void WriteConfiguration(const std::string& folder, const std::string& sineLog) {
    ConfigurationStore store;
    store.StartEmpty();
    store.SetStartDirectory(folder);
    StructValue* orvexa = store.OrvexaConfig();
    SetBool(orvexa, "Enable", true);
    auto* info = FindOrCreate(orvexa, "LogingInfo", ValueKind::Struct);
    ConfigValue* sine = FindOrCreate(info, "Simulator_Sine", ValueKind::Struct);
    SetString(sine, "LogFileName", sineLog.c_str());
    SetBool(sine, "LogingEnabled", true);
    ConfigValue* temp = FindOrCreate(info, "Rig_Temp_A", ValueKind::Struct);
    SetBool(temp, "LogingEnabled", true);
    ConfigValue* ramp = FindOrCreate(info, "Simulator_Ramp", ValueKind::Struct);
    SetBool(ramp, "LogingEnabled", false);
    ASSERT_TRUE(store.Save().ok);
  }

  void Stop(ServerProcess& server) {
    server.Signal(SIGINT);
    EXPECT_EQ(server.WaitForExit(), 0) << server.Stdout() << server.Stderr();
  }

  TempDir dir;
};

TEST_F(ServerPluginsTest, LoadsPlugInsOpensLogsSavesSectionsAndShutsPlugInsDown) {
  WriteConfiguration(dir.path(), "sine.log");
  {
    ServerProcess server(dir.path(), {"/port", "0"});
    ASSERT_TRUE(server.WaitForOutput("Server running")) << server.Stdout() << server.Stderr();
    std::string out = server.Stdout();
    EXPECT_NE(out.find(kSimulatorLine), std::string::npos) << out;
    EXPECT_NE(out.find(kRigLine), std::string::npos) << out;
    EXPECT_LT(out.find(kSimulatorLine), out.find("Server running"));
    // Real log files for the enabled channels only, full size from the start.
    ASSERT_TRUE(dir.Exists("sine.log"));
    EXPECT_EQ(std::filesystem::file_size(dir.File("sine.log")), 120000012u);
    ASSERT_TRUE(dir.Exists("Rig_Temp A"));  // no LogFileName: named after the ID
    EXPECT_EQ(std::filesystem::file_size(dir.File("Rig_Temp A")), 120000012u);
    EXPECT_FALSE(dir.Exists("Simulator_Ramp"));
    EXPECT_FALSE(dir.Exists("Simulator_Setpoint"));

    // A second server (in a folder of its own) cannot have the same log file; it runs on
    // without logging that channel.
    TempDir other;
    other.CopyFromBuild("Simulator.ldp");
    WriteConfiguration(other.path(), dir.File("sine.log"));
    ServerProcess second(other.path(), {"/port", "0"});
    EXPECT_TRUE(second.WaitForOutput("Server running")) << second.Stderr();
    EXPECT_NE(second.Stderr().find("Error: Unable to create the log file. Error 0x0000000b"),
              std::string::npos)
        << second.Stderr();
    Stop(second);

    Stop(server);
  }
  // LDPDone once, at shutdown.
  EXPECT_EQ(dir.Read("done.marker"), "Rig done\n");
  EXPECT_EQ(dir.Read("Rig.calls").rfind("callbacks;init(null);config(-1,rig.ldp)", 0), 0u);
  // The sections were saved with the rest of the configuration.
  std::string saved = dir.Read("orvexa.cfg");
  EXPECT_NE(saved.find("PluginConfigs"), std::string::npos) << saved;
  EXPECT_NE(saved.find("Path=\"Simulator.ldp\""), std::string::npos) << saved;
  EXPECT_NE(saved.find("sine_period=10"), std::string::npos) << saved;
  EXPECT_NE(saved.find("Path=\"rig.ldp\""), std::string::npos) << saved;
  EXPECT_NE(saved.find("config_calls=1"), std::string::npos) << saved;
  EXPECT_NE(saved.find("LogingInfo"), std::string::npos) << saved;

  // Second start: each plug-in gets its stored section.
  {
    ServerProcess server(dir.path(), {"/port", "0"});
    ASSERT_TRUE(server.WaitForOutput("Server running")) << server.Stderr();
    Stop(server);
  }
  EXPECT_EQ(dir.Read("Rig.calls").rfind("callbacks;init(rig.ldp/1);config(-1,rig.ldp/1)", 0), 0u)
      << dir.Read("Rig.calls");

  // With /config the plug-in gets no section.
  {
    ServerProcess server(dir.path(), {"/config", "/port", "0"});
    ASSERT_TRUE(server.WaitForOutput("Server running")) << server.Stderr();
    Stop(server);
  }
  EXPECT_EQ(dir.Read("Rig.calls").rfind("callbacks;init(null);config(-1,rig.ldp)", 0), 0u)
      << dir.Read("Rig.calls");
}

TEST_F(ServerPluginsTest, ServerWithoutPlugInsRuns) {
  std::filesystem::remove(dir.File("Simulator.ldp"));
  std::filesystem::remove(dir.File("rig.ldp"));
  dir.Write("broken.ldp", "not a library");
  ServerProcess server(dir.path(), {"/port", "0"});
  ASSERT_TRUE(server.WaitForOutput("Server running")) << server.Stderr();
  EXPECT_EQ(server.Stdout().find("Plug-in "), std::string::npos) << server.Stdout();
  Stop(server);
}

}  // namespace
}  // namespace orvexa::test
