#include "platform/Memory.h"

#include <malloc.h>

namespace sigrun::platform {

void KeepFreedBlocksForReuse()
{
    // Fixing both also ends the allocator's own adjustment of them, which otherwise changes with
    // the order of what was freed, and the memory of a batch with it.
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
}

} // namespace sigrun::platform
