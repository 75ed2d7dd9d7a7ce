#include "wav/platform/LowLevelFile.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sigkit::platform {

namespace {

// Keeps only regular files: a folder, a FIFO or a device is refused (EISDIR or EINVAL).
int KeepRegular(int fd)
{
    if (fd < 0)
        return -1;
    struct stat info
    {
    };
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
    {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        close(fd);
        errno = error;
        return -1;
    }
    // Opened without blocking so that a FIFO cannot hold the open; regular files read normally.
    const int flags = fcntl(fd, F_GETFL);
    if (flags != -1)
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

// A descriptor in non-blocking mode answered EAGAIN: waits until it is ready for the operation
// (events), as a blocking descriptor waits inside read or write. False when the wait failed.
bool WaitReady(int fd, short events)
{
    struct pollfd entry
    {
    };
    entry.fd = fd;
    entry.events = events;
    for (;;)
    {
        const int ready = poll(&entry, 1, -1);
        if (ready > 0)
            return true; // readable, writable, or an end or error that the next call reports
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

bool WouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}

} // namespace

int OpenForReading(const char* path)
{
    if (path == nullptr || path[0] == '\0')
    {
        errno = ENOENT;
        return -1;
    }
    return KeepRegular(open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
}

int OpenForWriting(const char* path, bool alsoRead)
{
    if (path == nullptr || path[0] == '\0')
    {
        errno = ENOENT;
        return -1;
    }
    const int access = alsoRead ? O_RDWR : O_WRONLY;
    return KeepRegular(open(path, access | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
}

int CreateOrTruncate(const char* path)
{
    if (path == nullptr || path[0] == '\0')
    {
        errno = ENOENT;
        return -1;
    }
    return open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
}

int CreateExclusive(const char* path)
{
    if (path == nullptr || path[0] == '\0')
    {
        errno = ENOENT;
        return -1;
    }
    return open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
}

int CloseFile(int fd)
{
    if (fd < 0)
        return -1;
    // The descriptor is released even when close reports an error; never retry.
    return close(fd) == 0 ? 0 : -1;
}

int64_t ReadAt(int fd, void* buffer, std::size_t count, uint64_t offset)
{
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count)
    {
        const uint64_t at = offset + done;
        if (at > static_cast<uint64_t>(INT64_MAX))
            break;
        const ssize_t got = pread(fd, out + done, count - done, static_cast<off_t>(at));
        if (got < 0)
        {
            if (errno == EINTR)
                continue;
            return done > 0 ? static_cast<int64_t>(done) : -1;
        }
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<int64_t>(done);
}

WriteResult WriteAt(int fd, const void* buffer, std::size_t count, uint64_t offset)
{
    const auto* in = static_cast<const unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count)
    {
        const uint64_t at = offset + done;
        if (at > static_cast<uint64_t>(INT64_MAX))
        {
            errno = EFBIG;
            return {done, false};
        }
        const ssize_t put = pwrite(fd, in + done, count - done, static_cast<off_t>(at));
        if (put < 0)
        {
            if (errno == EINTR)
                continue;
            return {done, false};
        }
        if (put == 0)
        {
            errno = ENOSPC;
            return {done, false};
        }
        done += static_cast<std::size_t>(put);
    }
    return {done, true};
}

uint64_t FileLength(int fd)
{
    struct stat info
    {
    };
    if (fstat(fd, &info) != 0 || info.st_size < 0)
        return 0;
    return static_cast<uint64_t>(info.st_size);
}

int64_t ReadSome(int fd, void* buffer, std::size_t count)
{
    if (count == 0)
        return 0;
    for (;;)
    {
        const ssize_t got = read(fd, buffer, count);
        if (got >= 0)
            return static_cast<int64_t>(got);
        if (errno == EINTR)
            continue;
        if (!WouldBlock(errno) || !WaitReady(fd, POLLIN))
            return -1;
    }
}

int64_t ReadNext(int fd, void* buffer, std::size_t count)
{
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count)
    {
        const int64_t got = ReadSome(fd, out + done, count - done);
        if (got < 0)
            return done > 0 ? static_cast<int64_t>(done) : -1;
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<int64_t>(done);
}

WriteResult WriteNext(int fd, const void* buffer, std::size_t count)
{
    const auto* in = static_cast<const unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count)
    {
        const ssize_t put = write(fd, in + done, count - done);
        if (put < 0)
        {
            if (errno == EINTR || (WouldBlock(errno) && WaitReady(fd, POLLOUT)))
                continue;
            return {done, false};
        }
        if (put == 0)
        {
            errno = ENOSPC;
            return {done, false};
        }
        done += static_cast<std::size_t>(put);
    }
    return {done, true};
}

bool MakeDirectory(const char* path)
{
    return path != nullptr && path[0] != '\0' && mkdir(path, 0777) == 0;
}

} // namespace sigkit::platform
