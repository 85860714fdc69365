// The host's ExperimentStoppedCallback, the function every plug-in receives through
// LDPExperimentSetCallbacks before LDPInit. A plug-in may call it from any of its threads
// with the ID of an experiment it ended by itself.
//
// The host function takes ServerLock and forwards the ID to the handler that the
// experiment store installs at start-up (SetExperimentStoppedHandler); until one is
// installed, or after it is removed, a call changes nothing. The handler then takes the
// experiment store's lock (order ServerLock -> ExperimentLock); ServerLock keeps the stop
// out of the middle of a request's start or stop sequence. Because the callback waits
// for ServerLock, a plug-in must never wait inside an entry point for a thread of its own
// that may be calling it.
#pragma once

#include <cstdint>
#include <functional>

namespace orvexa {

using ExperimentStoppedHandler = std::function<void(uint32_t experimentId)>;

// Installs (or, with an empty function, removes) the handler; takes ServerLock. The
// handler runs with ServerLock held.
void SetExperimentStoppedHandler(ExperimentStoppedHandler handler);

// The callback handed to the plug-ins.
void HostExperimentStopped(uint32_t experimentId);

}  // namespace orvexa
