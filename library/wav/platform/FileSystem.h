#pragma once

#include "wav/TimeName.h"

namespace sigkit::platform {

// The current UTC date and time, to the second.
UtcTime CurrentUtcTime();

// What a name in the file system is, looked at without following a link.
enum class NameKind
{
    Missing,
    Regular,
    Link, // a symbolic link, dangling or not
    Directory,
    Other,   // a device, a FIFO, a socket
    Unknown, // it could not be looked at (errno tells why)
};
NameKind InspectName(const char* path);

// Gives the file named from the name to; whatever held that name (a file, a link) is replaced,
// never followed. Result: 0, or -1 with errno.
int ReplaceName(const char* from, const char* to);
// The same, but only when nothing holds the name to yet: an existing name fails with EEXIST, also
// when two callers race for it. Where the file system cannot rename that way, a hard link to the
// new name followed by the removal of the old one does the same. Result: 0, or -1 with errno.
int PublishExclusive(const char* from, const char* to);
// Removes a name; result 0, or -1 with errno.
int RemoveName(const char* path);

// The calling process's id, to tell apart the temporary files of processes.
long ProcessId();

} // namespace sigkit::platform
