#include "wav/FileWAV.h"

#include "Text.h"
#include "wav/AuxiChunk.h"
#include "wav/ByteOrder.h"
#include "wav/TimeName.h"
#include "wav/platform/LowLevelFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace sigkit {

namespace {

constexpr int32_t kMaxWindowCount = 1 << 26;
// The in-memory variant reads data of no declared length in steps of this size.
constexpr std::size_t kLoadStep = 131072;

void InitRecord(ChunkRecord& record, const char* id, uint32_t size, std::size_t capacity)
{
    std::memcpy(record.id, id, 4);
    record.size = size;
    record.body.assign(capacity, 0);
    record.bodyOffset = 0;
}

} // namespace

FileWAV::FileWAV(int32_t count)
{
    const int32_t windowCount = std::clamp(count, 1, kMaxWindowCount);
    InitRecord(riff, "RIFF", 4, 4);
    std::memcpy(riff.body.data(), "WAVE", 4);

    InitRecord(fmt, "fmt ", kFmtInitialSize, kFmtCapacity);
    uint8_t* f = fmt.body.data();
    StoreU16(f + 0, kTagPcm); // format tag
    StoreU16(f + 2, 1);       // channels
    StoreU32(f + 4, 8000);    // sample rate
    StoreU32(f + 8, 16000);   // byte rate
    StoreU16(f + 12, 2);      // block align
    StoreU16(f + 14, 16);     // bits per sample
    StoreU16(f + 16, 0);      // extra size

    InitRecord(fact, "fact", 4, kFactCapacity);
    StoreU32(fact.body.data(), 8000);
    InitRecord(freq, "freq", 4, kFreqCapacity);
    InitRecord(list, "LIST", kListCapacity, kListCapacity);
    InitRecord(auxi, "auxi", 0, kAuxiCapacity);
    const auto windowBytes = static_cast<uint32_t>(2 * windowCount);
    InitRecord(data, "data", windowBytes, windowBytes);
}

FileWAV::~FileWAV()
{
    // The blocks close their files before destroying them; a file still open here is released
    // (by its source and sink) without completing its header, so that no descriptor outlives its
    // object.
    if (reserved >= 0)
        platform::CloseFile(reserved);
}

bool FileWAV::SetPath(const char* newPath)
{
    if (!CopyText(path, newPath) || path[0] == '\0')
    {
        NoteFailure(newPath != nullptr && newPath[0] != '\0' ? ENAMETOOLONG : ENOENT);
        return false;
    }
    return true;
}

void FileWAV::NoteFailure(int error)
{
    if (!writeFailed && lastError == 0)
        lastError = error != 0 ? error : EIO;
    writeFailed = true;
}

uint64_t FileWAV::ClampTarget(int64_t offset, int32_t whence, uint64_t current) const
{
    if (whence < 0 || whence > 2)
        return current;
    const uint64_t bases[] = {0, current, dataSize};
    const auto base = static_cast<int64_t>(std::min<uint64_t>(bases[whence], INT64_MAX));
    int64_t target = 0;
    if (__builtin_add_overflow(base, offset, &target))
        target = offset < 0 ? 0 : INT64_MAX;
    if (target < 0)
        return 0;
    return std::min(static_cast<uint64_t>(target), dataSize);
}

// --- opening and closing ---------------------------------------------------------------------

int FileWAV::OpenDescriptor(const char* newPath, int32_t mode)
{
    Restart();
    if (mode < 0 || mode > 2 || !SetPath(newPath))
        return -1;
    const int fd =
        mode == 0 ? platform::OpenForReading(path) : platform::OpenForWriting(path, mode == 2);
    if (fd < 0)
    {
        lastError = errno;
        openMode = 0;
        return -1;
    }
    // The sink owns a descriptor open for writing; the source only reads through it then.
    if (mode != 0)
        sink = std::make_unique<FileSink>(fd);
    if (mode != 1)
        source = std::make_unique<FileSource>(fd, mode == 0);
    openMode = mode + 1;
    return fd;
}

int32_t FileWAV::Open(const char* newPath, int32_t mode)
{
    if (OpenDescriptor(newPath, mode) < 0)
        return -1;
    StartReading();
    return 0;
}

int32_t FileWAV::Open(std::unique_ptr<ByteSource> bytes)
{
    Restart();
    path[0] = '\0';
    if (bytes == nullptr)
    {
        lastError = EINVAL;
        return -1;
    }
    source = std::move(bytes);
    openMode = 1;
    StartReading();
    return 0;
}

void FileWAV::StartReading()
{
    Load();
    position = 0;
    dirty = 0;
}

void FileWAV::Restart()
{
    if (openMode != 0 || sink != nullptr || source != nullptr)
        Close();
    writeFailed = false;
    lastError = 0;
}

int FileWAV::ReleaseBytes()
{
    source.reset();
    const int closed = sink != nullptr ? sink->Close() : 0;
    sink.reset();
    return closed;
}

// --- in-memory operations ---------------------------------------------------------------------

int32_t FileWAV::Create(const char* newPath)
{
    Restart();
    int fd = reserved;
    reserved = -1;
    if (!SetPath(newPath))
    {
        if (fd >= 0)
            platform::CloseFile(fd);
        return -1;
    }
    if (fd < 0)
        fd = platform::CreateOrTruncate(path);
    if (fd < 0)
    {
        NoteFailure(errno);
        openMode = 0;
        return -1;
    }
    sink = std::make_unique<FileSink>(fd);
    openMode = 2;
    position = 0;
    dataSize = 0;
    dirty = 0;
    headerless = false;
    return fd;
}

int32_t FileWAV::CreateUnique(const char* directory, const char* suffix)
{
    if (openMode != 0 || sink != nullptr || source != nullptr)
        Close();
    char work[kUniqueWorkPathSize];
    const int created = CreateUniqueFile(directory, suffix, work, sizeof work, clock);
    if (created < 0)
    {
        NoteFailure(errno);
        return -1;
    }
    if (reserved >= 0)
        platform::CloseFile(reserved);
    reserved = created;
    return Create(work);
}

int32_t FileWAV::Load()
{
    if (source == nullptr)
        return -1;
    const HeaderScan scan = ScanHeader();
    if (scan.headerless)
        openMode &= ~2;
    dataSize = 0;
    if (scan.readError || !scan.dataFound)
        return 0;
    data.bodyOffset = scan.dataOffset;
    try
    {
        // Data of no declared length (a stream) is read to its end in steps.
        const bool toEnd = scan.dataSize == kUnknownLength;
        uint64_t want = toEnd ? kLoadStep : scan.dataSize;
        for (;;)
        {
            if (data.body.size() < dataSize + want)
                data.body.resize(dataSize + want);
            const int64_t n =
                source->ReadAt(data.body.data() + dataSize, want, scan.dataOffset + dataSize);
            if (n > 0)
                dataSize += static_cast<uint64_t>(n);
            if (!toEnd || n < static_cast<int64_t>(want))
                break;
        }
    }
    catch (const std::bad_alloc&)
    {
        return -1;
    }
    data.size = static_cast<uint32_t>(std::min<uint64_t>(dataSize, 0xFFFFFFFFu));
    return 0;
}

int32_t FileWAV::Read(void* buffer, int32_t count)
{
    if (!CanRead() || buffer == nullptr || count <= 0 || position >= dataSize)
        return 0;
    const auto n = static_cast<std::size_t>(std::min<uint64_t>(count, dataSize - position));
    std::memcpy(buffer, data.body.data() + position, n);
    position += n;
    return static_cast<int32_t>(n);
}

int32_t FileWAV::Write(const void* buffer, int32_t count)
{
    if (!CanWrite() || buffer == nullptr || count <= 0)
        return 0;
    auto n = static_cast<uint64_t>(count);
    if (position + n > MaxDataSize())
    {
        NoteFailure(EFBIG);
        n = position < MaxDataSize() ? MaxDataSize() - position : 0;
    }
    try
    {
        if (data.body.size() < position + n)
            data.body.resize(position + n);
    }
    catch (const std::bad_alloc&)
    {
        NoteFailure(ENOMEM);
        return 0;
    }
    std::memcpy(data.body.data() + position, buffer, n);
    position += n;
    // The data ends behind the last write.
    dataSize = position;
    dirty = 1;
    return static_cast<int32_t>(n);
}

uint64_t FileWAV::Seek(int64_t offset, int32_t whence)
{
    position = ClampTarget(offset, whence, position);
    return position;
}

int32_t FileWAV::Flush()
{
    if (!CanWrite() || dirty == 0 || sink == nullptr)
        return 0;
    dirty = 0;
    if (!WriteHeader(dataSize))
        return -1;
    const WriteResult result = sink->WriteAt(data.body.data(), dataSize, data.bodyOffset);
    if (!result.ok)
    {
        NoteFailure(errno);
        return -1;
    }
    return static_cast<int32_t>(std::min<uint64_t>(result.written, INT32_MAX));
}

int32_t FileWAV::Close()
{
    if (openMode == 0 && sink == nullptr && source == nullptr)
        return 0;
    const bool writing = CanWrite();
    if (writing)
    {
        // Even an empty file gets its header.
        dirty = 1;
        Flush();
    }
    const int closed = ReleaseBytes();
    if (closed != 0 && writing)
        NoteFailure(errno);
    openMode = 0;
    return (closed != 0 || writeFailed) ? -1 : 0;
}

} // namespace sigkit
