#include "platform/Allocator.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace quillon::platform {

void tuneAllocatorForLargeBuffers() {
#if defined(__GLIBC__) && defined(M_MMAP_THRESHOLD)
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
#endif
}

}  // namespace quillon::platform
