// One Pinvane instance, the PluginHandle the host holds: the shared channel values, the
// chosen port and the reader thread that serves it. Created by LDPInit, destroyed by
// LDPDone. Its settings methods run on the host's main thread inside entry points (the
// host calls one entry point at a time); the channel functions go straight to
// Channels(), whose lock they share with the reader thread.
#pragma once

#include "channel_state.h"
#include "plugin_api/config_value.h"
#include "port_choice.h"
#include "reader_thread.h"

namespace orvexa::pinvane {

class PinvaneDevice {
 public:
  static constexpr const char* kPortIndexKey = "port_index";
  static constexpr const char* kPortPathKey = "port_path";

  PinvaneDevice() : reader_(channels_) {}
  ~PinvaneDevice() { reader_.Stop(); }
  PinvaneDevice(const PinvaneDevice&) = delete;
  PinvaneDevice& operator=(const PinvaneDevice&) = delete;

  bool Valid() const { return reader_.Valid(); }
  ChannelState& Channels() { return channels_; }
  const PortChoice& Port() const { return port_; }

  // LDPInit: the port from the section (missing or mistyped entries count as unset).
  void LoadSettings(ConfigValue* section);
  // LDPConfig: for any `what` but ConfigStoreOnly the port window (when one is
  // installed) may change the port; then the settings are stored into the section.
  void Configure(int what, ConfigValue* section);
  // Restarts the reader when `choice` differs from the current port; the same port
  // chosen again leaves the running reader alone.
  void ChoosePort(const PortChoice& choice);

 private:
  void StoreSettings(ConfigValue* section) const;

  ChannelState channels_;
  PortChoice port_;
  ReaderThread reader_;
};

}  // namespace orvexa::pinvane
