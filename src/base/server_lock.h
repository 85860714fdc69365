// ServerLock: the one process-wide lock of the server, in the base layer because every
// layer above takes it (host, logging, transport, protocol, app; from any thread). It
// guards the device registry and every call into a plug-in, the logging state and log
// files, the admission count and the settings save. Lock order: user-table lock, then
// ServerLock, then the leaf locks: ExperimentLock (the experiment data,
// logging/experiment_lock.h) and the audit-log lock (held only around one printed line).
//
// Recursive, so that a plug-in calling the experiment-stopped callback from inside a
// host call (made with the lock held on the same thread) does not deadlock. Always
// released by the thread that took it.
#pragma once

#include <mutex>

namespace orvexa {

std::recursive_mutex& ServerLock();

}  // namespace orvexa
