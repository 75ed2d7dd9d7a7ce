#include "wav/FileWAV_VeryFast.h"

#include "wav/AuxiChunk.h"
#include "wav/ByteOrder.h"
#include "wav/platform/LowLevelFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace sigkit {

FileWAV_VeryFast::FileWAV_VeryFast(int32_t count) : FileWAV(count)
{
}

FileWAV_VeryFast::~FileWAV_VeryFast()
{
    // A file opened (rather than made) for writing is released as it stands.
    if (CanWrite() && sink != nullptr && createdHere)
        Abandon();
}

void FileWAV_VeryFast::ResetWindow()
{
    windowPos = 0;
    windowStart = 0;
    windowFill = 0;
    dataSize = 0;
    writtenEnd = 0;
    dirty = 0;
    headerless = false;
    rf64 = false;
    partialFrames = 0;
    pendingHeader.clear();
}

int32_t FileWAV_VeryFast::Create(const char* newPath)
{
    Restart();
    ResetWindow();
    names.Clear();
    int fd = reserved;
    reserved = -1;
    if (!SetPath(newPath))
    {
        if (fd >= 0)
            platform::CloseFile(fd);
        return -1;
    }
    // A file already made under its own new name (by CreateUnique) is written in place; any
    // other goes to a temporary file first.
    if (fd >= 0)
        names.Adopt(path);
    else if ((fd = names.Begin(path)) < 0)
    {
        NoteFailure(errno);
        return -1;
    }
    sink = std::make_unique<FileSink>(fd);
    source = std::make_unique<FileSource>(fd, false);
    return StartWriting() ? fd : -1;
}

int32_t FileWAV_VeryFast::Create(std::unique_ptr<ByteSink> bytes)
{
    Restart();
    ResetWindow();
    names.Clear();
    path[0] = '\0';
    if (bytes == nullptr)
    {
        NoteFailure(EINVAL);
        return -1;
    }
    sink = std::move(bytes);
    return StartWriting() ? 0 : -1;
}

bool FileWAV_VeryFast::StartWriting()
{
    openMode = 2;
    createdHere = true;
    // Until Close completes it, the header declares a length not known: a reader of a file whose
    // writer never came back reads what is there.
    if (!sink->Seekable())
    {
        pendingHeader = HeaderBytes(kUnknownLength);
        return true;
    }
    if (WriteHeader(kUnknownLength))
        return true;
    ReleaseBytes();
    openMode = 0;
    names.Discard();
    return false;
}

int32_t FileWAV_VeryFast::Open(const char* newPath, int32_t mode)
{
    const int fd = OpenDescriptor(newPath, mode);
    if (fd < 0)
        return -1;
    StartReading();
    return fd;
}

void FileWAV_VeryFast::StartReading()
{
    names.Clear();
    writtenEnd = 0;
    createdHere = false;
    pendingHeader.clear();
    // ReadHeader needs reading; a file opened for writing only keeps its records as they are.
    ReadHeader();
    windowPos = 0;
    windowStart = 0;
    dirty = 0;
}

int32_t FileWAV_VeryFast::ReadHeader()
{
    if (!CanRead() || source == nullptr)
        return 0;
    const HeaderScan scan = ScanHeader();
    if (scan.headerless)
        openMode &= ~2;
    dataSize = (scan.readError || !scan.dataFound) ? 0 : scan.dataSize;
    data.bodyOffset = scan.dataOffset;
    writtenEnd = dataSize;
    windowStart = 0;
    windowPos = 0;
    windowFill = 0;
    // A stream's first window is read by the first Read: opening returns once the header is in.
    if (source->Seekable())
        Load();
    return 0;
}

int32_t FileWAV_VeryFast::Load()
{
    windowFill = 0;
    uint64_t at = 0;
    if (source == nullptr || __builtin_add_overflow(data.bodyOffset, windowStart, &at))
        return -1;
    const int64_t n = source->ReadAvailable(data.body.data(), WindowSize(), at);
    windowFill = n > 0 ? static_cast<uint32_t>(n) : 0;
    return static_cast<int32_t>(windowFill);
}

int32_t FileWAV_VeryFast::Read(void* buffer, int32_t count)
{
    if (!CanRead() || buffer == nullptr || count <= 0)
        return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    uint32_t delivered = 0;
    auto wanted = static_cast<uint32_t>(count);
    // A stream hands out what has arrived once that is a whole number of frames.
    const bool live = source != nullptr && !source->Seekable();
    const uint32_t frame = std::max<uint32_t>(LoadU16(fmt.body.data() + 12), 1);
    while (wanted > 0)
    {
        const uint64_t at = windowStart + windowPos;
        if (at >= dataSize)
            break;
        if (windowPos >= windowFill)
        {
            if (live && delivered > 0 && delivered % frame == 0)
                break;
            // Next window; a load that brings nothing (a file shorter than it said, or a read
            // error) ends the data here rather than looping or delivering stale bytes.
            windowStart += windowPos;
            windowPos = 0;
            if (Load() <= 0)
            {
                dataSize = windowStart;
                break;
            }
            continue;
        }
        const auto n = static_cast<uint32_t>(
            std::min<uint64_t>({wanted, windowFill - windowPos, dataSize - at}));
        std::memcpy(out + delivered, data.body.data() + windowPos, n);
        windowPos += n;
        delivered += n;
        wanted -= n;
    }
    return static_cast<int32_t>(delivered);
}

int32_t FileWAV_VeryFast::Write(const void* buffer, int32_t count)
{
    if (!CanWrite() || sink == nullptr || buffer == nullptr || count <= 0)
        return 0;
    const auto* in = static_cast<const uint8_t*>(buffer);
    uint64_t remaining = static_cast<uint64_t>(count);
    // A stream's header declares no length, so only the RF64 limit holds there.
    const bool unbounded = Rf64Possible() || !sink->Seekable();
    const uint64_t limit = unbounded ? kRf64DataLimit : MaxDataSize();
    const uint64_t at = windowStart + windowPos;
    if (at + remaining > limit)
    {
        // The header cannot declare more: refuse the excess instead of writing one that lies.
        NoteFailure(EFBIG);
        remaining = at < limit ? limit - at : 0;
    }
    uint64_t taken = 0;
    while (remaining > 0)
    {
        dirty = 1;
        const auto n =
            static_cast<uint32_t>(std::min<uint64_t>(remaining, WindowSize() - windowPos));
        std::memcpy(data.body.data() + windowPos, in + taken, n);
        windowPos += n;
        taken += n;
        remaining -= n;
        windowFill = std::max(windowFill, windowPos);
        dataSize = std::max(dataSize, windowStart + windowPos);
        if (windowPos == WindowSize())
        {
            Flush();
            windowStart += windowPos;
            windowPos = 0;
            windowFill = 0;
        }
    }
    return static_cast<int32_t>(taken);
}

int32_t FileWAV_VeryFast::Flush()
{
    if (!CanWrite() || dirty == 0 || sink == nullptr)
        return 0;
    dirty = 0;
    // After a failure nothing more is written, so that the file ends with the bytes before it.
    if (writeFailed || !EmitPendingHeader())
        return -1;
    // The whole valid window: bytes written earlier in it stay even after a seek back.
    const uint32_t n = std::max(windowPos, windowFill);
    const WriteResult result = sink->WriteAt(data.body.data(), n, data.bodyOffset + windowStart);
    if (windowStart <= writtenEnd)
        writtenEnd = std::max(writtenEnd, windowStart + result.written);
    if (!result.ok)
    {
        NoteFailure(errno);
        return -1;
    }
    return static_cast<int32_t>(n);
}

int32_t FileWAV_VeryFast::Push()
{
    if (!CanWrite() || dirty == 0 || sink == nullptr)
        return 0;
    const uint32_t end = std::max(windowPos, windowFill);
    const int32_t flushed = Flush();
    windowStart += end;
    windowPos = 0;
    windowFill = 0;
    return flushed;
}

bool FileWAV_VeryFast::EmitPendingHeader()
{
    if (pendingHeader.empty())
        return true;
    const WriteResult result = sink->WriteAt(pendingHeader.data(), pendingHeader.size(), 0);
    pendingHeader.clear();
    if (!result.ok)
        NoteFailure(errno);
    return result.ok;
}

uint64_t FileWAV_VeryFast::Seek(int64_t offset, int32_t whence)
{
    if (openMode == 0)
        return windowStart + windowPos;
    const uint64_t target = ClampTarget(offset, whence, windowStart + windowPos);
    if (target >= windowStart && target < windowStart + windowFill)
    {
        windowPos = static_cast<uint32_t>(target - windowStart);
        return target;
    }
    // Leaving the window: what was written into it goes to the file first.
    if (dirty != 0)
        Flush();
    windowStart = target;
    windowPos = 0;
    Load();
    return target;
}

} // namespace sigkit
