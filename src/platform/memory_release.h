// Handing memory the allocator keeps but no longer uses back to the operating system.
// After a burst of large replies the C library keeps the freed blocks for reuse, so the
// server's resident size would stay at its peak.
//
// KeepLargeBlocksOutOfTheHeap is called once at start-up, before the background threads
// start; ReturnFreeMemoryToSystem by the housekeeping pass (housekeeping thread, every
// 5 s). Both are safe from any thread and do nothing where the C library offers no such
// calls.
#pragma once

namespace orvexa {

// Blocks of 128 kB and more (a connection's copy buffers, large vectors) come straight
// from the system and go straight back when freed. Without this the C library raises
// that limit after the first large block is freed (a plug-in's burst array is one) and
// keeps later large blocks in per-thread heaps, whose free ends no trim returns.
void KeepLargeBlocksOutOfTheHeap();

// Returns the free pages of every heap to the system.
void ReturnFreeMemoryToSystem();

}  // namespace orvexa
