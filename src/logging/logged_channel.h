// LoggedChannel: what the loggers and the fast schedule see of a channel: its logging
// state (the ChannelLog it is) and its current value. DeviceChannel (host) is the one
// implementation; the interface keeps logging below the plug-in host.
//
// Called by the periodic logger (main thread) and the fast sampler (sampling thread)
// with ServerLock held; Read calls into the plug-in and REQUIRES it.
#pragma once

#include <string>

#include "base/server_lock.h"
#include "logging/channel_log.h"

namespace orvexa {

class LoggedChannel : public ChannelLog {
 public:
  LoggedChannel() = default;
  virtual ~LoggedChannel() = default;  // closes the log file
  LoggedChannel(LoggedChannel&&) noexcept = default;
  LoggedChannel& operator=(LoggedChannel&&) noexcept = default;
  LoggedChannel(const LoggedChannel&) = delete;
  LoggedChannel& operator=(const LoggedChannel&) = delete;

  // The channel's value; byClient is 0 for the loggers.
  virtual float Read(int byClient) REQUIRES(ServerLock()) = 0;
  // Key of the channel's Struct in LogingInfo.
  virtual std::string SettingsKey() const = 0;
};

}  // namespace orvexa
