#include "wav/ByteSource.h"

#include "wav/platform/LowLevelFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sigkit {

FileSource::FileSource(int descriptor, bool ownsDescriptor) : fd(descriptor), owned(ownsDescriptor)
{
}

FileSource::~FileSource()
{
    if (owned && fd >= 0)
        platform::CloseFile(fd);
}

int64_t FileSource::ReadAt(void* buffer, std::size_t count, uint64_t offset)
{
    return platform::ReadAt(fd, buffer, count, offset);
}

uint64_t FileSource::Length()
{
    return platform::FileLength(fd);
}

MemorySource::MemorySource(const void* data, std::size_t length)
    : bytes(static_cast<const uint8_t*>(data)), size(data != nullptr ? length : 0)
{
}

int64_t MemorySource::ReadAt(void* buffer, std::size_t count, uint64_t offset)
{
    if (offset >= size || count == 0)
        return 0;
    const auto n = static_cast<std::size_t>(std::min<uint64_t>(count, size - offset));
    std::memcpy(buffer, bytes + offset, n);
    return static_cast<int64_t>(n);
}

StreamSource::StreamSource(StreamRead reader, void* readerContext)
    : read(reader), context(readerContext)
{
}

StreamSource::StreamSource(int descriptor) : fd(descriptor)
{
}

int64_t StreamSource::PullSome(void* buffer, std::size_t count)
{
    if (ended || count == 0)
        return 0;
    const int64_t got =
        read != nullptr ? read(context, buffer, count) : platform::ReadSome(fd, buffer, count);
    if (got < 0)
        return -1;
    if (got == 0)
        ended = true;
    const auto n = static_cast<std::size_t>(std::min<uint64_t>(static_cast<uint64_t>(got), count));
    consumed += n;
    return static_cast<int64_t>(n);
}

int64_t StreamSource::Pull(void* buffer, std::size_t count)
{
    // Pieces are gathered until the count is reached or the stream ends: a pipe hands out what
    // its writer has written so far.
    auto* out = static_cast<uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count && !ended)
    {
        const int64_t got = PullSome(out + done, count - done);
        if (got < 0)
            return done > 0 ? static_cast<int64_t>(done) : -1;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<int64_t>(done);
}

void StreamSource::Keep(const uint8_t* bytes, std::size_t count)
{
    if (count >= kKeptBytes)
    {
        kept.assign(bytes + count - kKeptBytes, bytes + count);
        return;
    }
    kept.insert(kept.end(), bytes, bytes + count);
    if (kept.size() > kKeptBytes)
        kept.erase(kept.begin(), kept.end() - static_cast<std::ptrdiff_t>(kKeptBytes));
}

int StreamSource::SkipTo(uint64_t offset)
{
    uint8_t drop[4096];
    while (consumed < offset)
    {
        const auto want =
            static_cast<std::size_t>(std::min<uint64_t>(sizeof drop, offset - consumed));
        const int64_t got = Pull(drop, want);
        if (got <= 0)
            return got < 0 ? -1 : 0;
        Keep(drop, static_cast<std::size_t>(got));
    }
    return 1;
}

int64_t StreamSource::Reach(uint8_t* buffer, std::size_t count, uint64_t offset)
{
    const uint64_t keptStart = consumed - kept.size();
    if (offset < keptStart)
    {
        errno = ESPIPE;
        return -1;
    }
    if (offset < consumed)
    {
        const auto at = static_cast<std::size_t>(offset - keptStart);
        const std::size_t n = std::min(count, kept.size() - at);
        std::memcpy(buffer, kept.data() + at, n);
        return static_cast<int64_t>(n);
    }
    const int skipped = SkipTo(offset);
    return skipped > 0 ? 0 : skipped < 0 ? -1 : -2;
}

int64_t StreamSource::ReadAt(void* buffer, std::size_t count, uint64_t offset)
{
    auto* out = static_cast<uint8_t*>(buffer);
    // First what is still at hand from the last reads.
    const int64_t reached = Reach(out, count, offset);
    if (reached < 0)
        return reached == -1 ? -1 : 0;
    auto done = static_cast<std::size_t>(reached);
    if (done == count)
        return static_cast<int64_t>(done);
    const int64_t got = Pull(out + done, count - done);
    if (got < 0)
        return done > 0 ? static_cast<int64_t>(done) : -1;
    Keep(out + done, static_cast<std::size_t>(got));
    return static_cast<int64_t>(done + static_cast<std::size_t>(got));
}

int64_t StreamSource::ReadAvailable(void* buffer, std::size_t count, uint64_t offset)
{
    auto* out = static_cast<uint8_t*>(buffer);
    const int64_t reached = Reach(out, count, offset);
    if (reached != 0 || count == 0)
        return reached == -1 ? -1 : reached < 0 ? 0 : reached;
    const int64_t got = PullSome(out, count);
    if (got > 0)
        Keep(out, static_cast<std::size_t>(got));
    return got;
}

} // namespace sigkit
