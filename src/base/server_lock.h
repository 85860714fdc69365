// ServerLock: the device lock of the server, in the base layer because every layer
// above takes it (host, logging, protocol, app, operator; from any thread). It guards
// every call into a plug-in, the registry's device state, the logging settings and the
// opening and closing of logs, and the settings save. It is held for long only by a
// burst, which keeps the devices to itself by design.
//
// Lock order, outermost first: the user-table lock, then ServerLock, then the leaf
// locks, each held only for a bounded copy or change and never around a plug-in call,
// a socket write, the disk or another lock: ExperimentLock (logging/experiment_lock.h),
// a log's lock and the fast-sample buffers' lock (logging/), the admission lock
// (transport/connection_tracker.h) and the audit-log lock. Data the server already
// holds is read under its leaf lock alone, so a burst holds up no reader; the main
// thread waits for ServerLock at most kMainThreadLockWait at a time (its tick passes).
//
// Recursive, so that a plug-in calling the experiment-stopped callback from inside a
// host call (made with the lock held on the same thread) does not deadlock. Always
// released by the thread that took it. With priority inheritance for the real-time fast
// sampler, which takes it every pass and must not wait for a preempted ordinary holder;
// clients queue for it among themselves at its plain gate (see PriorityInheritanceMutex).
#pragma once

#include <chrono>
#include <mutex>

#include "platform/priority_inheritance_mutex.h"

namespace orvexa {

PriorityInheritanceMutex& ServerLock();

// How long the main thread waits for ServerLock before it leaves a tick step for later:
// long enough to take its turn among busy clients (a bare try can lose to them for
// seconds, and a logging pass would be lost), short enough that accepting goes on while a
// burst holds the devices.
inline constexpr std::chrono::milliseconds kMainThreadLockWait{5};

}  // namespace orvexa
