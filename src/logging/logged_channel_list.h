// LoggedChannelList: the channels the periodic logger walks and whose logging settings
// SaveLoggingSettings writes back, in registry order. DeviceRegistry (host) implements
// it. Used with ServerLock held (main thread).
#pragma once

#include <cstddef>

#include "logging/logged_channel.h"

namespace orvexa {

class LoggedChannelList {
 public:
  virtual size_t ChannelCount() const = 0;
  virtual LoggedChannel& LoggedChannelAt(size_t index) = 0;

 protected:
  ~LoggedChannelList() = default;
};

}  // namespace orvexa
