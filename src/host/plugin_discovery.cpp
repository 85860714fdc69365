#include "host/plugin_discovery.h"

#include <cstring>
#include <vector>

#include "config/config_access.h"
#include "config/configuration_store.h"
#include "logging/fast_schedule.h"
#include "platform/directory_listing.h"
#include "platform/operator_report.h"

namespace orvexa {

StructValue* FindPluginSection(StructValue* orvexaConfig, const std::string& fileName,
                               bool create) {
  ConfigValue* node = create ? FindOrCreate(orvexaConfig, "PluginConfigs", ValueKind::Array)
                             : FindTyped(orvexaConfig, "PluginConfigs", ValueKind::Array);
  ArrayValue* array = AsArray(node);
  if (array == nullptr) return nullptr;
  for (uint32_t index = 0; index < array->Size(); ++index) {
    ConfigValue* element = array->At(index);
    if (element == nullptr || element->Kind() != ValueKind::Struct) continue;
    const char* path = GetString(element, "Path", nullptr);
    if (path != nullptr && fileName == path) return static_cast<StructValue*>(element);
  }
  if (!create) return nullptr;
  ConfigValue* element = array->CreateValue(ValueKind::Struct);
  if (element == nullptr) return nullptr;
  array->Append(element);
  SetString(element, "Path", fileName.c_str());
  return static_cast<StructValue*>(element);
}

// Discovery at start-up: nothing is served yet, so the first plug-in calls need no
// ServerLock, which the analysis cannot know.
bool LoadPlugin(DeviceRegistry& registry, const std::string& fileName,
                const PluginHostContext& context) NO_THREAD_SAFETY_ANALYSIS {
  if (registry.TableFull()) return false;
  // A path with a folder part keeps dlopen from searching the library path.
  std::optional<DynamicLibrary> module = DynamicLibrary::Load(context.folder + "/" + fileName);
  if (!module) return false;
  int slot = registry.PluginCount();
  DevicePlugin* plugin = registry.TakeSlot(fileName);
  StructValue* orvexaConfig = context.config != nullptr ? context.config->OrvexaConfig() : nullptr;
  bool defaults = context.config != nullptr && context.config->DefaultConfiguration();

  StructValue* section = FindPluginSection(orvexaConfig, fileName, false);
  int count = plugin->Bind(*module, defaults ? nullptr : section, context.experimentStopped);
  if (section == nullptr) section = FindPluginSection(orvexaConfig, fileName, true);
  if (section != nullptr) plugin->Configure(ConfigStoreOnly, section);
  uint32_t frequency = plugin->TickFrequency();
  if (frequency != 0 && context.schedule != nullptr) {
    context.schedule->AddPluginToGroup(plugin, frequency);
  }
  registry.RegisterChannels(slot, count, context);
  return true;
}

int DiscoverPlugins(DeviceRegistry& registry, const PluginHostContext& context) {
  registry.ClearChannels();
  std::vector<std::string> skipped;
  for (const std::string& fileName : ListFilesWithSuffix(context.folder, ".ldp")) {
    // Once the table is full, further files are not even loaded: a library that took no
    // slot would stay mapped, and its constructors would run, for nothing.
    if (registry.TableFull()) {
      skipped.push_back(fileName);
      continue;
    }
    LoadPlugin(registry, fileName, context);
  }
  if (!skipped.empty()) {
    std::string names;
    for (const std::string& name : skipped) names += (names.empty() ? "" : ", ") + name;
    ReportToOperator("Plug-in table full (%d slots); not loaded: %s", DeviceRegistry::kPluginSlots,
                     names.c_str());
  }
  return registry.PluginCount();
}

}  // namespace orvexa
