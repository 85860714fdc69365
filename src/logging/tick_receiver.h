// TickReceiver: a plug-in that asked the fast schedule for tick messages (DevicePlugin
// in host implements it). Called by the fast sampler on the sampling thread with
// ServerLock held.
#pragma once

#include "base/server_lock.h"

namespace orvexa {

class TickReceiver {
 public:
  // Sends the tick message to the plug-in.
  virtual void SendTick() REQUIRES(ServerLock()) = 0;

 protected:
  ~TickReceiver() = default;
};

}  // namespace orvexa
