// Shared set-up of the experiment, burst and logging tests that run the host in
// process: a temporary working folder with copies of the test plug-ins (Probe.ldp,
// optionally NoFree.ldp), an empty configuration whose LogingInfo a test may fill
// before discovery, a fast schedule on a counter the test moves by hand, and the
// registry the plug-ins are loaded into.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "config/config_access.h"
#include "config/configuration_store.h"
#include "host/device_registry.h"
#include "host/plugin_discovery.h"
#include "logging/fast_schedule.h"
#include "support/temp_dir.h"

namespace orvexa::test {

// The hand-moved counter of the fast schedule (nanoseconds).
inline int64_t g_probeCounter = 0;
inline bool ReadProbeCounter(int64_t* now) {
  *now = g_probeCounter;
  return true;
}

class ProbeTest : public ::testing::Test {
 protected:
  ProbeTest() : schedule(1'000'000'000, ReadProbeCounter) {}

  void SetUp() override {
    previousFolder_ = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    g_probeCounter = 5'000'000'000;
    config.StartEmpty();
    config.SetStartDirectory(dir.path());
    schedule.PrepareFastSchedule();
    context.config = &config;
    context.schedule = &schedule;
    context.folder = dir.path();
    context.logCapacity = 16;
    context.now = kStart;
  }
  void TearDown() override {
    if (registry) registry->UnloadAll();
    registry.reset();
    std::filesystem::current_path(previousFolder_);
  }

  void AddPlugin(const std::string& name) {
    std::filesystem::copy_file(std::string(EXPERIMENT_TEST_PLUGIN_DIR) + "/" + name + ".ldp",
                               dir.File(name + ".ldp"));
  }

  // The settings entry of a channel, created before discovery reads it.
  ConfigValue* Settings(const char* channelId) {
    ConfigValue* info = FindOrCreate(config.OrvexaConfig(), "LogingInfo", ValueKind::Struct);
    return FindOrCreate(info, channelId, ValueKind::Struct);
  }

  DeviceRegistry& Discover() {
    registry = std::make_unique<DeviceRegistry>();
    DiscoverPlugins(*registry, context);
    return *registry;
  }

  // Index of the channel with this ID (the test fails when there is none).
  size_t Index(const std::string& id) {
    for (size_t k = 0; k < registry->ChannelCount(); ++k)
      if (registry->Channel(k).id == id) return k;
    ADD_FAILURE() << "no channel " << id;
    return 0;
  }
  float Read(const std::string& id) { return registry->Channel(Index(id)).Read(1); }

  static constexpr int64_t kStart = 1'700'000'000;
  TempDir dir;
  ConfigurationStore config;
  FastSchedule schedule;
  PluginHostContext context;
  std::unique_ptr<DeviceRegistry> registry;

 private:
  std::filesystem::path previousFolder_;
};

}  // namespace orvexa::test
