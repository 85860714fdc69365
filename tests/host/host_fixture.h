// Shared set-up of the host tests: a temporary working folder (the process changes into
// it, as the server runs in its own), copies of the test plug-ins under chosen names, an
// empty configuration, a prepared fast schedule, and access to what a test plug-in
// recorded (its TestCallLog export).
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "config/config_access.h"
#include "config/configuration_store.h"
#include "host/device_registry.h"
#include "host/plugin_discovery.h"
#include "logging/fast_schedule.h"
#include "platform/dynamic_library.h"
#include "support/temp_dir.h"

namespace orvexa::test {

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousFolder_ = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    config.StartEmpty();
    schedule.PrepareFastSchedule();
    context.config = &config;
    context.schedule = &schedule;
    // The absolute folder, not ".": the loader matches a relative name like "./rig.ldp"
    // against libraries loaded by earlier tests from other folders.
    context.folder = dir.path();
    context.logCapacity = 16;
    context.now = 1000000;
  }
  void TearDown() override {
    registry.reset();  // LDPDone (if still due) while the folder exists
    std::filesystem::current_path(previousFolder_);
  }

  // Copies build/tests/host_plugins/<plugin>.ldp into `folder` (default: the working
  // folder) as `as`. With `reset`, clears the state of the library instance that the
  // loader will hand out for it (see TestReset in the recorder plug-in).
  void AddPlugin(const std::string& plugin, const std::string& as, bool reset = true,
                 const std::string& folder = "") {
    std::string target = (folder.empty() ? dir.path() : folder) + "/" + as;
    std::filesystem::copy_file(std::string(HOST_TEST_PLUGIN_DIR) + "/" + plugin + ".ldp", target,
                               std::filesystem::copy_options::overwrite_existing);
    if (!reset) return;
    std::optional<DynamicLibrary> library = DynamicLibrary::Load(target);
    if (!library) return;
    if (auto clear = reinterpret_cast<void (*)()>(library->Symbol("TestReset"))) clear();
  }

  DeviceRegistry& Discover() {
    registry = std::make_unique<DeviceRegistry>();
    DiscoverPlugins(*registry, context);
    return *registry;
  }

  // The call log of the plug-in in `slot` ("" for a plug-in without the export).
  std::string CallLog(int slot) {
    auto log =
        reinterpret_cast<const char* (*)()>(registry->Plugin(slot).module.Symbol("TestCallLog"));
    return log != nullptr ? log() : "";
  }

  // The slot holding `fileName`, or -1.
  int SlotOf(const std::string& fileName) {
    for (int slot = 0; slot < registry->PluginCount(); ++slot) {
      if (registry->Plugin(slot).fileName == fileName) return slot;
    }
    return -1;
  }

  StructValue* LoggingEntry(const char* key) {
    auto* info = static_cast<StructValue*>(
        FindOrCreate(config.OrvexaConfig(), "LogingInfo", ValueKind::Struct));
    return static_cast<StructValue*>(FindOrCreate(info, key, ValueKind::Struct));
  }

  TempDir dir;
  ConfigurationStore config;
  FastSchedule schedule;
  PluginHostContext context;
  std::unique_ptr<DeviceRegistry> registry;

 private:
  std::filesystem::path previousFolder_;
};

}  // namespace orvexa::test
