// The device tree as plain data, for the operator window to display: one node per
// plug-in slot (labelled with the device name, carrying the slot number), under it one
// node per registered channel (labelled with the channel name, carrying a pointer to
// the channel's record, which never moves). Built once while the plug-ins load and
// fixed afterwards; read on the main thread.
#pragma once

#include <string>
#include <vector>

namespace orvexa {

class DeviceChannel;

struct DeviceTreeChannelNode {
  std::string label;
  DeviceChannel* channel = nullptr;
};

struct DeviceTreePluginNode {
  std::string label;  // device name; "" for a library that could not be bound
  int slot = 0;
  std::vector<DeviceTreeChannelNode> channels;
};

struct DeviceTree {
  std::vector<DeviceTreePluginNode> plugins;  // in slot order
};

// What "Configure selected" acts on: nothing, a plug-in slot, or one channel.
struct DeviceTreeSelection {
  enum class Kind { None, Plugin, Channel };
  Kind kind = Kind::None;
  int slot = -1;
  DeviceChannel* channel = nullptr;

  static DeviceTreeSelection None() { return {}; }
  static DeviceTreeSelection Plugin(int slot) { return {Kind::Plugin, slot, nullptr}; }
  static DeviceTreeSelection Channel(DeviceChannel* channel) {
    return {Kind::Channel, -1, channel};
  }
};

}  // namespace orvexa
