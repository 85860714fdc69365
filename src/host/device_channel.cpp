#include "host/device_channel.h"

#include "host/device_plugin.h"

namespace orvexa {

float DeviceChannel::Read(int byClient) {
  if (readFunction == nullptr || owner == nullptr || !owner->IsLoaded()) return 0.0f;
  return readFunction(owner->Handle(), readParam, byClient);
}

void DeviceChannel::Write(float value) {
  if (writeFunction == nullptr || owner == nullptr || !owner->IsLoaded()) return;
  writeFunction(owner->Handle(), value, writeParam);
}

std::string DeviceChannel::SettingsKey() const {
  std::string key = id;
  for (char& c : key) {
    if (c == ' ') c = '_';
  }
  return key;
}

}  // namespace orvexa
