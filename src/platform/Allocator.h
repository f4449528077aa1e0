#pragma once

namespace quillon::platform {

// Asks the C library's allocator to keep large buffers in the heap and reuse their pages,
// instead of mapping, faulting in and unmapping fresh ones for every file a scan reads. Does
// nothing where the allocator has no such settings (anything but glibc). Call once, early.
void tuneAllocatorForLargeBuffers();

}  // namespace quillon::platform
