#include "wav/platform/FileSystem.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sigkit::platform {

UtcTime CurrentUtcTime()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    return {utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec};
}

NameKind InspectName(const char* path)
{
    struct stat info
    {
    };
    if (lstat(path, &info) != 0)
        return errno == ENOENT ? NameKind::Missing : NameKind::Unknown;
    if (S_ISREG(info.st_mode))
        return NameKind::Regular;
    if (S_ISLNK(info.st_mode))
        return NameKind::Link;
    if (S_ISDIR(info.st_mode))
        return NameKind::Directory;
    return NameKind::Other;
}

int ReplaceName(const char* from, const char* to)
{
    return std::rename(from, to) == 0 ? 0 : -1;
}

int PublishExclusive(const char* from, const char* to)
{
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return -1;
    // A file system without the exclusive rename: a new hard link fails just as exclusively.
    if (link(from, to) != 0)
        return -1;
    unlink(from);
    return 0;
}

int RemoveName(const char* path)
{
    return unlink(path) == 0 ? 0 : -1;
}

long ProcessId()
{
    return static_cast<long>(getpid());
}

} // namespace sigkit::platform
