#include "platform/memory_release.h"

#include <cstdlib>  // defines __GLIBC__ on the GNU C library

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

void ReturnFreeMemoryToSystem() {
#if defined(__GLIBC__)
  // Trims every arena: the free pages inside them and the main heap's top.
  malloc_trim(0);
#endif
}

}  // namespace orvexa
