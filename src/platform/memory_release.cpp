#include "platform/memory_release.h"

#include <cstdlib>  // defines __GLIBC__ on the GNU C library

#include "platform/lock_guard.h"
#include "platform/mutex.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace orvexa {

void KeepLargeBlocksOutOfTheHeap() {
#if defined(__GLIBC__)
  // Setting the threshold at all also stops its automatic rise.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}

bool ReturnFreeMemoryToSystem() {
#if defined(__GLIBC__)
  static Mutex mutex;
  static size_t freeAtLastTrim GUARDED_BY(mutex) = 0;
  LockGuard hold(mutex);
  // Counting the free bytes takes each arena's lock only for a walk of its free lists;
  // the trim holds it while it hands pages back, one system call each.
  const size_t freeBytes = mallinfo2().fordblks;
  // Less free than at the last trim: the memory was reused; count from here.
  if (freeBytes < freeAtLastTrim) freeAtLastTrim = freeBytes;
  if (freeBytes - freeAtLastTrim < kTrimWhenFreed) return false;
  malloc_trim(0);
  freeAtLastTrim = freeBytes;
  return true;
#else
  return false;
#endif
}

}  // namespace orvexa
