#include "wav/TimeName.h"

#include "Text.h"
#include "wav/platform/FileSystem.h"
#include "wav/platform/LowLevelFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace sigkit {

namespace {

constexpr int kUniqueAttempts = 1000;

} // namespace

UtcTime SystemClock()
{
    return platform::CurrentUtcTime();
}

char* MakeTimeName(char* target, std::size_t capacity, Clock clock)
{
    if (target == nullptr || capacity <= kTimeNameLength || clock == nullptr)
        return nullptr;
    const UtcTime t = clock();
    char text[64];
    const int n = std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", t.year, t.month,
                                t.day, t.hour, t.minute, t.second);
    if (n < 0 || static_cast<std::size_t>(n) >= capacity)
        return nullptr;
    std::memcpy(target, text, static_cast<std::size_t>(n) + 1);
    return target;
}

int NormalizeDirPath(char* path, std::size_t capacity)
{
    if (path == nullptr || capacity == 0)
        return -1;
    const std::size_t length = strnlen(path, capacity);
    if (length >= capacity)
        return -1;
    if (length == 0)
        return 0;
    std::size_t out = 0;
    for (std::size_t in = 0; in < length; ++in)
    {
        const char c = path[in] == '\\' ? '/' : path[in];
        if (c == '/' && out > 0 && path[out - 1] == '/')
            continue;
        path[out++] = c;
    }
    if (path[out - 1] != '/')
    {
        if (out + 1 >= capacity)
        {
            path[out] = '\0';
            return -1;
        }
        path[out++] = '/';
    }
    path[out] = '\0';
    return 0;
}

int MakeDirs(char* path)
{
    if (path == nullptr || path[0] == '\0')
        return 1;
    const std::size_t length = std::strlen(path);
    const bool trailing = path[length - 1] == '/';
    if (trailing)
        path[length - 1] = '\0';
    bool made = path[0] != '\0' && platform::MakeDirectory(path);
    if (!made && path[0] != '\0')
    {
        // Create every ancestor prefix in turn, then the directory itself again.
        for (std::size_t i = 1; path[i] != '\0'; ++i)
        {
            if (path[i] != '/')
                continue;
            path[i] = '\0';
            platform::MakeDirectory(path);
            path[i] = '/';
        }
        made = platform::MakeDirectory(path);
    }
    if (trailing)
        path[length - 1] = '/';
    return made ? 0 : 1;
}

int CreateUniqueFile(const char* directory, const char* suffix, char* work, std::size_t workSize,
                     Clock clock)
{
    if (work == nullptr || workSize == 0)
    {
        errno = EINVAL;
        return -1;
    }
    if (suffix == nullptr)
        suffix = "";
    for (int attempt = 0; attempt < kUniqueAttempts; ++attempt)
    {
        if (!CopyText(work, workSize, directory) || NormalizeDirPath(work, workSize) != 0)
        {
            errno = ENAMETOOLONG;
            return -1;
        }
        MakeDirs(work);
        const std::size_t used = std::strlen(work);
        char name[kTimeNameLength + 1];
        if (MakeTimeName(name, sizeof name, clock) == nullptr ||
            used + kTimeNameLength + std::strlen(suffix) + 1 > workSize)
        {
            errno = ENAMETOOLONG;
            return -1;
        }
        std::memcpy(work + used, name, kTimeNameLength);
        std::memcpy(work + used + kTimeNameLength, suffix, std::strlen(suffix) + 1);
        const int fd = platform::CreateExclusive(work);
        if (fd >= 0)
            return fd;
        // Only a name that is taken is worth another attempt; any other failure is final.
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

} // namespace sigkit
