#include "platform/linux/heap_settings.h"

#include <cstdlib>  // defines __GLIBC__ where it is glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace tarnwick {

void ReturnLargeBlocksToTheSystem() {
#if defined(__GLIBC__)
    // Setting the threshold at all fixes it: mallopt(3), "M_MMAP_THRESHOLD".
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}

}  // namespace tarnwick
