// One channel of the device registry: a value that a plug-in offers, with the
// functions and parameters to read and write it, its ID and texts; its logging state
// (log file, periodic-log timing, fast-sample buffer, the recordings of running
// experiments that sample it) is the ChannelLog it inherits through LoggedChannel.
//
// Records live in the registry's std::deque and never move once appended, so the
// device tree, the fast sampling groups and experiment recordings hold plain pointers to
// them, and a client worker may reach a channel without ServerLock. After start-up the
// plug-in calls (Read, Write) and the settings happen with ServerLock held; the ID and
// texts never change; the logged data have their own leaf locks (the log file's lock
// for history, fastSamplesLock for the fast-sample buffer; see ChannelLog).
#pragma once

#include <cstdint>
#include <string>

#include "base/server_lock.h"
#include "logging/logged_channel.h"
#include "plugin_api/ldp_plugin.h"

namespace orvexa {

class DevicePlugin;

class DeviceChannel : public LoggedChannel {
 public:
  DeviceChannel() = default;
  ~DeviceChannel() override = default;
  // Moved (not copied) into the registry: an open log file cannot be duplicated.
  DeviceChannel(DeviceChannel&&) noexcept = default;
  DeviceChannel& operator=(DeviceChannel&&) noexcept = default;
  DeviceChannel(const DeviceChannel&) = delete;
  DeviceChannel& operator=(const DeviceChannel&) = delete;

  // The read function's value (owner's handle, read parameter, byClient: 1 for a
  // client's request, 0 for the loggers); 0.0 without a read function or once the owner
  // has been shut down.
  float Read(int byClient) override REQUIRES(ServerLock());
  // The write function (owner's handle, value, write parameter); nothing without a
  // write function or once the owner has been shut down.
  void Write(float value) REQUIRES(ServerLock());

  // Key of the channel's Struct in LogingInfo: the ID with every ' ' replaced by '_'.
  std::string SettingsKey() const override;

  bool readable = false;
  bool writable = false;
  std::string id;           // device name + "_" + name: what clients ask for
  std::string name;         // from LDPQueryInfo; label of the tree node
  std::string description;  // "" when the plug-in gave none
  ChannelReadFunction readFunction = nullptr;
  ChannelWriteFunction writeFunction = nullptr;
  int readParam = 0;
  int writeParam = 0;
  DevicePlugin* owner = nullptr;
  // The LDPConfig "what" that configures this one channel: its number on the plug-in's
  // side (1..N), so never ConfigStoreOnly or ConfigPluginDialog.
  int configureCode = 0;
};

}  // namespace orvexa
