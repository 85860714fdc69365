// ExperimentLock: the lock of the experiment data. It guards the experiments of the
// ExperimentStore (protocol) with their slots' sample logs, the store's recording map and
// id counter, and every channel's recordings list (ChannelLog::recordings, the slot logs
// the fast sampler feeds). It lives here, in the logging layer, because the lowest user
// is the fast sampler, which appends to the attached slot logs; the store above takes the
// same lock.
//
// Who takes it: the fast sampler (sampling thread) around the appends of one sample to
// a channel's recordings (only when it has any: ChannelLog::recorded); the experiment store inside
// each of its operations (client workers, the close path, the experiment-stopped callback on any
// plug-in thread, the burst request); the experiment read, list and is-recording requests, for
// bounded copies.
//
// A leaf lock: held only for a bounded copy or change of the data, never while calling a
// plug-in, writing to a socket, waiting on the disk or taking any other lock. Order:
// user-table lock -> ServerLock -> ExperimentLock. Not recursive: nothing that holds it
// calls back into code that takes it. Priority inheritance: the real-time sampler takes it.
#pragma once

#include <mutex>

#include "platform/priority_inheritance_mutex.h"

namespace orvexa {

PriorityInheritanceMutex& ExperimentLock();

}  // namespace orvexa
