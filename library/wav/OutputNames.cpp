#include "wav/OutputNames.h"

#include "Text.h"
#include "wav/platform/FileSystem.h"
#include "wav/platform/LowLevelFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace sigkit {

namespace {

// Longest part of the output's file name that goes into the temporary name, so that the whole
// stays within what a folder entry may hold.
constexpr std::size_t kNameKept = 200;
constexpr int kTemporaryAttempts = 100;
// Numbers the temporary files of this process; threads writing the same output take turns.
std::atomic<unsigned> temporaryCount{0};

// True when the name ends in the extension, letters in either case.
bool EndsWith(const char* name, std::size_t length, const char* extension, std::size_t size)
{
    if (size == 0 || length < size)
        return false;
    const char* end = name + length - size;
    for (std::size_t i = 0; i < size; ++i)
    {
        const auto a = static_cast<unsigned char>(end[i]);
        const auto b = static_cast<unsigned char>(extension[i]);
        const auto lowerA = static_cast<unsigned char>(a >= 'A' && a <= 'Z' ? a | 0x20 : a);
        const auto lowerB = static_cast<unsigned char>(b >= 'A' && b <= 'Z' ? b | 0x20 : b);
        if (lowerA != lowerB)
            return false;
    }
    return true;
}

} // namespace

void OutputNames::Clear()
{
    output[0] = '\0';
    written[0] = '\0';
    partial[0] = '\0';
    kept[0] = '\0';
    inPlace = false;
}

bool OutputNames::DerivePartial(const char* extension)
{
    std::size_t length = std::strlen(output);
    const std::size_t size = std::strlen(extension);
    if (EndsWith(output, length, extension, size))
        length -= size;
    const int n = std::snprintf(partial, sizeof partial, "%.*s.partial%s", static_cast<int>(length),
                                output, extension);
    return n > 0 && static_cast<std::size_t>(n) < sizeof partial;
}

bool OutputNames::Adopt(const char* outputPath)
{
    Clear();
    if (!CopyText(output, outputPath) || !CopyText(written, outputPath) || !DerivePartial(".wav"))
    {
        Clear();
        return false;
    }
    inPlace = true;
    return true;
}

int OutputNames::Begin(const char* outputPath, const char* extension)
{
    Clear();
    if (outputPath == nullptr || outputPath[0] == '\0')
    {
        errno = ENOENT;
        return -1;
    }
    if (extension == nullptr || std::strchr(extension, '/') != nullptr)
    {
        errno = EINVAL;
        return -1;
    }
    if (!CopyText(output, outputPath) || !DerivePartial(extension))
    {
        Clear();
        errno = ENAMETOOLONG;
        return -1;
    }
    switch (platform::InspectName(output))
    {
    case platform::NameKind::Directory:
        errno = EISDIR;
        return -1;
    case platform::NameKind::Other:
        errno = EINVAL;
        return -1;
    case platform::NameKind::Unknown:
        return -1;
    default:
        break;
    }
    const char* slash = std::strrchr(output, '/');
    const std::size_t folder = slash != nullptr ? static_cast<std::size_t>(slash - output) + 1 : 0;
    const std::size_t nameLength = std::min(std::strlen(output + folder), kNameKept);
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt)
    {
        const int n = std::snprintf(written, sizeof written, "%.*s.%.*s.%ld-%u.tmp",
                                    static_cast<int>(folder), output, static_cast<int>(nameLength),
                                    output + folder, platform::ProcessId(), temporaryCount++);
        if (n < 0 || static_cast<std::size_t>(n) >= sizeof written)
        {
            errno = ENAMETOOLONG;
            break;
        }
        const int fd = platform::CreateExclusive(written);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST)
            break;
    }
    written[0] = '\0';
    return -1;
}

int OutputNames::Publish(bool noReplace)
{
    if (!Active() || inPlace)
        return 0;
    const int result = noReplace ? platform::PublishExclusive(written, output)
                                 : platform::ReplaceName(written, output);
    if (result == 0)
        written[0] = '\0';
    return result;
}

int OutputNames::KeepPartial()
{
    if (!Active())
        return 0;
    if (platform::ReplaceName(written, partial) != 0)
    {
        const int error = errno;
        CopyText(kept, written);
        errno = error;
        return -1;
    }
    CopyText(kept, partial);
    written[0] = '\0';
    return 0;
}

void OutputNames::Discard()
{
    if (Active() && !inPlace)
        platform::RemoveName(written);
    written[0] = '\0';
}

} // namespace sigkit
