#pragma once

namespace sigrun::platform {

// Has the allocator keep freed blocks of up to 32 MiB in the heap for the next ones, instead of
// handing each back to the system and faulting it in again. Every file of a batch makes the
// library take and free the same few megabytes; kept, they are found again for the next file, so
// a batch's memory stays that of one file and no time goes to the system per file.
void KeepFreedBlocksForReuse();

} // namespace sigrun::platform
