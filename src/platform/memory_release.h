// Handing memory the allocator keeps but no longer uses back to the operating system.
// After a burst of large replies the C library keeps the freed blocks for reuse, so the
// server's resident size would stay at its peak.
//
// KeepLargeBlocksOutOfTheHeap is called once at start-up, before the background threads
// start; ReturnFreeMemoryToSystem by the housekeeping pass (housekeeping thread, every
// 5 s). Both are safe from any thread and do nothing where the C library offers no such
// calls.
#pragma once

#include <cstddef>

namespace orvexa {

// Blocks of 128 kB and more (a connection's copy buffers, large vectors) come straight
// from the system and go straight back when freed. Without this the C library raises
// that limit after the first large block is freed (a plug-in's burst array is one) and
// keeps later large blocks in per-thread heaps, whose free ends no trim returns.
void KeepLargeBlocksOutOfTheHeap();

// How much must have been freed since the last trim for the next one.
inline constexpr size_t kTrimWhenFreed = 4 * 1024 * 1024;

// Returns the free pages of every heap to the system, but only when at least
// kTrimWhenFreed more bytes lie free in the heaps than after the last time: the trim
// locks every heap in turn at the caller's ordinary priority, and the real-time fast
// sampler allocates (its buffers grow) while holding its locks, so an idle server must
// not trim on every pass. True when it trimmed.
bool ReturnFreeMemoryToSystem();

}  // namespace orvexa
