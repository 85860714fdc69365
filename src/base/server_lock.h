// ServerLock: the one process-wide lock of the server, in the base layer because every
// layer above takes it (host, logging, transport, protocol, app; from any thread). It
// guards the device registry and every call into a plug-in, the logging state and log
// files, the experiment store and the settings save (admissions have their own lock, in
// ConnectionTracker). Lock order: user-table lock, then ServerLock, then the audit-log
// lock (held only around one printed line).
//
// Recursive, so that a plug-in calling the experiment-stopped callback from inside a
// host call (made with the lock held on the same thread) does not deadlock. Always
// released by the thread that took it.
#pragma once

#include <mutex>

namespace orvexa {

std::recursive_mutex& ServerLock();

}  // namespace orvexa
