#include "pinvane_device.h"

#include "config_section.h"
#include "plugin_api/ldp_plugin.h"
#include "user_interface.h"

namespace orvexa::pinvane {

void PinvaneDevice::LoadSettings(ConfigValue* section) {
  ConfigSection settings(section);
  if (!settings.Valid()) return;
  PortChoice choice;
  if (!settings.ReadInteger(kPortIndexKey, &choice.index)) choice.index = 0;
  if (!settings.ReadString(kPortPathKey, &choice.path)) choice.path.clear();
  ChoosePort(choice);
}

void PinvaneDevice::Configure(int what, ConfigValue* section) {
  if (what != ConfigStoreOnly) {
    PortChoice choice = port_;
    if (UserInterface::ChoosePort(&choice)) ChoosePort(choice);
  }
  StoreSettings(section);
}

void PinvaneDevice::ChoosePort(const PortChoice& choice) {
  if (choice == port_) return;
  reader_.Stop();
  port_ = choice;
  if (port_.WantsReader()) reader_.Start(port_.DevicePath());
}

void PinvaneDevice::StoreSettings(ConfigValue* section) const {
  ConfigSection settings(section);
  if (!settings.Valid()) return;
  settings.StoreInteger(kPortIndexKey, port_.index);
  // The path is optional: a section that never had one does not get an empty entry.
  std::string stored;
  if (!port_.path.empty() || settings.ReadString(kPortPathKey, &stored)) {
    settings.StoreString(kPortPathKey, port_.path);
  }
}

}  // namespace orvexa::pinvane
