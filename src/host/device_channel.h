// One channel of the device registry: a value that a plug-in offers, with the
// functions and parameters to read and write it, its ID and texts, and the channel's
// logging state (log file, periodic-log timing, fast-sample buffer, the recordings of
// running experiments that sample it).
//
// Records live in the registry's std::deque and never move once appended, so the
// device tree, the fast sampling groups and experiment recordings hold plain pointers to
// them. After start-up every use (reads, writes, logging state) happens with ServerLock
// held; the record has no lock of its own.
#pragma once

#include <cstdint>
#include <list>
#include <string>

#include "logging/log_file.h"
#include "logging/sample_log.h"
#include "plugin_api/ldp_plugin.h"

namespace orvexa {

class DevicePlugin;

class DeviceChannel {
 public:
  DeviceChannel() = default;
  virtual ~DeviceChannel() = default;  // closes the log file
  // Moved (not copied) into the registry: an open log file cannot be duplicated.
  DeviceChannel(DeviceChannel&&) noexcept = default;
  DeviceChannel& operator=(DeviceChannel&&) noexcept = default;
  DeviceChannel(const DeviceChannel&) = delete;
  DeviceChannel& operator=(const DeviceChannel&) = delete;

  // The read function's value (owner's handle, read parameter, byClient: 1 for a
  // client's request, 0 for the loggers); 0.0 without a read function or once the owner
  // has been shut down.
  float Read(int byClient);
  // The write function (owner's handle, value, write parameter); nothing without a
  // write function or once the owner has been shut down.
  void Write(float value);

  // Key of the channel's Struct in LogingInfo: the ID with every ' ' replaced by '_'.
  std::string SettingsKey() const;

  bool readable = false;
  bool writable = false;
  std::string id;           // device name + "_" + name: what clients ask for
  std::string name;         // from LDPQueryInfo; label of the tree node
  std::string description;  // "" when the plug-in gave none
  LogFile logFile;          // closed until logging is enabled
  int64_t nextLogTime = 0;  // calendar seconds of the next periodic sample
  int32_t logPeriod = 1;    // TimeBetweenLogs, seconds
  bool alwaysReset = false;
  SampleLog fastSamples{SampleLog::kDefaultCapacity, true};  // ring mode
  std::list<SampleLog*> recordings;  // slots of running experiments fed by this channel
  bool fastLogEnabled = false;
  int32_t fastLogFrequency = 100;  // Hz, clamped to 1..3999 where used
  int32_t fastLogSize = 10000;     // capacity of fastSamples
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
