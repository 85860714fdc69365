// Handing memory the allocator keeps but no longer uses back to the operating system.
// After a burst of large replies the C library keeps the freed blocks for reuse, so the
// server's resident size would stay at its peak; the housekeeping pass (housekeeping
// thread, every 5 s) calls this to let it fall again. Safe from any thread; a no-op where
// the C library offers no such call.
#pragma once

namespace orvexa {

void ReturnFreeMemoryToSystem();

}  // namespace orvexa
