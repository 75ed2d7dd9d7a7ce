#include "platform/Files.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace sigrun::platform {

bool CheckReadableFile(const char* path, std::string& reason)
{
    if (path == nullptr || path[0] == '\0')
    {
        reason = std::strerror(ENOENT);
        return false;
    }
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
    {
        reason = std::strerror(errno);
        return false;
    }
    struct stat info
    {
    };
    const bool stated = fstat(fd, &info) == 0;
    const int error = errno;
    close(fd);
    if (!stated)
    {
        reason = std::strerror(error);
        return false;
    }
    if (S_ISDIR(info.st_mode))
    {
        reason = "is a directory, not a WAV file";
        return false;
    }
    if (!S_ISREG(info.st_mode))
    {
        reason = "is not a regular file";
        return false;
    }
    return true;
}

bool SameFile(const char* a, const char* b)
{
    struct stat first
    {
    };
    struct stat second
    {
    };
    if (stat(a, &first) != 0 || stat(b, &second) != 0)
        return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool IsDirectory(const char* path)
{
    struct stat info
    {
    };
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool PathExists(const char* path)
{
    struct stat info
    {
    };
    return lstat(path, &info) == 0;
}

long long FileSize(const char* path)
{
    struct stat info
    {
    };
    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode))
        return -1;
    return static_cast<long long>(info.st_size);
}

bool IdentifyFile(const char* path, FileIdentity& identity)
{
    struct stat info
    {
    };
    if (stat(path, &info) != 0)
        return false;
    identity.device = static_cast<unsigned long long>(info.st_dev);
    identity.inode = static_cast<unsigned long long>(info.st_ino);
    return true;
}

FileKey KeyOf(const std::string& path)
{
    FileKey key;
    if (IdentifyFile(path.c_str(), key.identity))
        return key;
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    key.name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (!key.name.empty() && IdentifyFile(folder.c_str(), key.identity))
        return key;
    std::error_code error;
    key.identity = FileIdentity{};
    key.name = std::filesystem::absolute(path, error).lexically_normal().string();
    if (error)
        key.name = std::filesystem::path(path).lexically_normal().string();
    return key;
}

void IgnoreFileSizeSignal()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

void IgnoreBrokenPipeSignal()
{
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace sigrun::platform
