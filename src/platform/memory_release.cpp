#include "platform/memory_release.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace orvexa {

void ReturnFreeMemoryToSystem() {
#if defined(__GLIBC__)
  // Trims every arena, including the free pages inside them, not only the heap's top.
  malloc_trim(0);
#endif
}

}  // namespace orvexa
