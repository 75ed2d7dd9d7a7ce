#include "wav/FileWAV.h"

#include "Text.h"
#include "wav/ByteOrder.h"
#include "wav/TimeName.h"
#include "wav/platform/LowLevelFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>

namespace sigkit {

namespace {

// Chunk bodies are read through a scratch buffer of this size; what lies beyond is skipped.
constexpr std::size_t kScratchBytes = 1024;
// A "freq" chunk declaring more than this is this system's own, whose size covers the LIST chunk
// nested behind the 4-byte value.
constexpr uint32_t kFreqNestedLimit = 256;
constexpr uint32_t kUnknownSize = 0xFFFFFFFFu;
constexpr int32_t kMaxWindowCount = 1 << 26;

void InitRecord(ChunkRecord& record, const char* id, uint32_t size, std::size_t capacity)
{
    std::memcpy(record.id, id, 4);
    record.size = size;
    record.body.assign(capacity, 0);
    record.bodyOffset = 0;
}

// A chunk id of four printable characters, as every real chunk id is.
bool PlausibleId(const uint8_t* id)
{
    for (int i = 0; i < 4; ++i)
        if (id[i] < 0x20 || id[i] > 0x7E)
            return false;
    return true;
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
    const auto windowBytes = static_cast<uint32_t>(2 * windowCount);
    InitRecord(data, "data", windowBytes, windowBytes);
}

FileWAV::~FileWAV()
{
    // The blocks close their files before destroying them; a file still open here is released
    // without completing its header, so that no descriptor outlives its object.
    if (fd >= 0)
        platform::CloseFile(fd);
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
    int64_t base = 0;
    switch (whence)
    {
    case 0:
        base = 0;
        break;
    case 1:
        base = static_cast<int64_t>(current);
        break;
    case 2:
        base = static_cast<int64_t>(dataSize);
        break;
    default:
        return current;
    }
    int64_t target = 0;
    if (__builtin_add_overflow(base, offset, &target))
        target = offset < 0 ? 0 : INT64_MAX;
    if (target < 0)
        return 0;
    return std::min(static_cast<uint64_t>(target), dataSize);
}

// --- format -----------------------------------------------------------------------------------

uint32_t FileWAV::UpdateFormat()
{
    uint8_t* f = fmt.body.data();
    const uint16_t tag = LoadU16(f + 0);
    uint16_t bits = LoadU16(f + 14);
    uint32_t rate = LoadU32(f + 4);
    if (tag == kTagPcm8)
        bits = 8;
    else if (tag == kTagAlaw || tag == kTagMulaw || tag == kTagIkm || tag == kTagIkm2)
    {
        bits = 8;
        rate = 8000;
    }
    const uint16_t channels = LoadU16(f + 2);
    const auto blockAlign = static_cast<uint16_t>((bits / 8) * channels);
    StoreU16(f + 14, bits);
    StoreU32(f + 4, rate);
    StoreU16(f + 12, blockAlign);
    StoreU32(f + 8, static_cast<uint32_t>(blockAlign) * rate);
    StoreU32(fact.body.data(), rate);
    return rate;
}

void FileWAV::SetFormatTag(uint16_t tag)
{
    StoreU16(fmt.body.data(), tag);
    UpdateFormat();
}

uint16_t FileWAV::GetFormatTag() const
{
    return LoadU16(fmt.body.data());
}

void FileWAV::SetMono()
{
    StoreU16(fmt.body.data() + 2, 1);
    UpdateFormat();
}

void FileWAV::SetStereo()
{
    StoreU16(fmt.body.data() + 2, 2);
    UpdateFormat();
}

void FileWAV::SetBitsPerSample(uint16_t bits)
{
    StoreU16(fmt.body.data() + 14, bits);
    UpdateFormat();
}

void FileWAV::SetRate(float rate)
{
    // Truncated toward zero; rates outside what the field holds are limited to it.
    uint32_t whole = 0;
    if (rate >= 4294967295.0f)
        whole = 0xFFFFFFFFu;
    else if (rate >= 1.0f)
        whole = static_cast<uint32_t>(rate);
    StoreU32(fmt.body.data() + 4, whole);
    uint32_t bits = 0;
    std::memcpy(&bits, &rate, 4);
    StoreU32(freq.body.data(), bits);
    UpdateFormat();
}

void FileWAV::GetRates(uint32_t& rate, uint32_t& exactBits) const
{
    rate = LoadU32(fmt.body.data() + 4);
    exactBits = LoadU32(freq.body.data());
}

void FileWAV::SetFormat(const uint8_t* source)
{
    if (source == nullptr)
        return;
    std::memcpy(fmt.body.data(), source, fmt.size);
    StoreU32(fact.body.data(), LoadU32(fmt.body.data() + 4));
}

uint32_t FileWAV::GetFormat(uint8_t* target, uint32_t capacity) const
{
    if (target == nullptr)
        return 0;
    const uint32_t n = std::min(fmt.size, capacity);
    std::memcpy(target, fmt.body.data(), n);
    return n;
}

void FileWAV::SetExactRate(uint32_t bits)
{
    StoreU32(freq.body.data(), bits);
}

uint32_t FileWAV::GetExactRate() const
{
    return LoadU32(freq.body.data());
}

void FileWAV::SetList(const uint8_t* source)
{
    if (source != nullptr)
        std::memcpy(list.body.data(), source, list.size);
}

void FileWAV::GetList(uint8_t* target) const
{
    if (target != nullptr)
        std::memcpy(target, list.body.data(), list.size);
}

// --- header -----------------------------------------------------------------------------------

std::vector<uint8_t> FileWAV::HeaderBytes(uint64_t declaredData)
{
    const ChunkRecord* chunks[] = {&fmt, &fact, &freq, &list};
    std::size_t length = 12 + 8;
    for (const ChunkRecord* c : chunks)
        length += 8 + c->size;
    std::vector<uint8_t> bytes(length, 0);

    uint8_t* p = bytes.data();
    std::memcpy(p, "RIFF", 4);
    StoreU32(p + 4, static_cast<uint32_t>(length - 8 + declaredData));
    std::memcpy(p + 8, riff.body.data(), 4);
    std::size_t at = 12;
    for (ChunkRecord* c : {&fmt, &fact, &freq, &list})
    {
        uint32_t declared = c->size;
        // The freq size covers the LIST chunk nested behind it, so that a standard reader skips
        // both and this layer's reader finds the LIST chunk as the next chunk.
        if (c == &freq)
            declared = freq.size + 8 + list.size;
        std::memcpy(p + at, c->id, 4);
        StoreU32(p + at + 4, declared);
        at += 8;
        c->bodyOffset = at;
        std::memcpy(p + at, c->body.data(), c->size);
        at += c->size;
    }
    std::memcpy(p + at, "data", 4);
    StoreU32(p + at + 4, static_cast<uint32_t>(declaredData));
    data.bodyOffset = at + 8;
    return bytes;
}

bool FileWAV::WriteHeader(uint64_t declaredData)
{
    const std::vector<uint8_t> header = HeaderBytes(declaredData);
    const platform::WriteResult result = platform::WriteAt(fd, header.data(), header.size(), 0);
    if (!result.ok)
        NoteFailure(errno);
    return result.ok;
}

uint64_t FileWAV::MaxDataSize() const
{
    const uint64_t headerAfterSize = 4 + 4 * 8 + fmt.size + fact.size + freq.size + list.size + 8;
    return 0xFFFFFFFFull - headerAfterSize;
}

FileWAV::HeaderScan FileWAV::ScanHeader()
{
    HeaderScan scan;
    formatFound = false;
    headerless = false;
    const uint64_t length = platform::FileLength(fd);

    uint8_t head[12]{};
    const int64_t got = platform::ReadAt(fd, head, sizeof head, 0);
    if (got < 0)
    {
        scan.readError = true;
        return scan;
    }
    const bool riffForm =
        got == 12 && (IdIs(head, "RIFF") || IdIs(head, "RF64")) && IdIs(head + 8, "WAVE");
    if (!riffForm)
    {
        // Headerless sample data in the default format, from offset 12 on, at rate 0.
        scan.headerless = true;
        headerless = true;
        scan.dataFound = true;
        scan.dataOffset = 12;
        scan.dataSize = length > 12 ? length - 12 : 0;
        StoreU32(fmt.body.data() + 4, 0);
        StoreU32(freq.body.data(), 0);
        return scan;
    }

    const bool rf64 = IdIs(head, "RF64");
    const uint32_t riffSize = LoadU32(head + 4);
    bool haveDs64 = false;
    uint64_t ds64Data = 0;

    uint8_t scratch[kScratchBytes];
    auto readBody = [&](ChunkRecord& record, uint32_t size, uint64_t body) {
        record.bodyOffset = body;
        const std::size_t want = std::min<std::size_t>(size, kScratchBytes);
        const int64_t n = platform::ReadAt(fd, scratch, want, body);
        if (n < 0)
        {
            scan.readError = true;
            return;
        }
        const auto usable = static_cast<uint32_t>(
            std::min<uint64_t>({static_cast<uint64_t>(n), size, record.body.size()}));
        std::memcpy(record.body.data(), scratch, usable);
        record.size = usable;
    };
    auto idAt = [&](uint64_t at, uint8_t* id) {
        return at + 4 <= length && platform::ReadAt(fd, id, 4, at) == 4;
    };

    uint64_t pos = 12;
    while (pos + 8 <= length)
    {
        uint8_t chunk[8];
        if (platform::ReadAt(fd, chunk, 8, pos) != 8)
        {
            scan.readError = true;
            break;
        }
        uint32_t size = LoadU32(chunk + 4);
        const uint64_t body = pos + 8;
        if (body >= length)
            break;
        uint64_t next = body + size;

        if (IdIs(chunk, "fmt "))
        {
            readBody(fmt, size, body);
            formatFound = true;
        }
        else if (IdIs(chunk, "fact"))
            readBody(fact, size, body);
        else if (IdIs(chunk, "freq"))
        {
            if (size > kFreqNestedLimit)
            {
                size = 4;
                next = body + 4;
            }
            readBody(freq, size, body);
        }
        else if (IdIs(chunk, "LIST"))
            readBody(list, size, body);
        else if (IdIs(chunk, "ds64") && rf64)
        {
            uint8_t sizes[16]{};
            if (size >= 16 && platform::ReadAt(fd, sizes, 16, body) == 16)
            {
                haveDs64 = true;
                ds64Data = LoadU64(sizes + 8);
            }
        }
        else if (IdIs(chunk, "data"))
        {
            const uint64_t available = length - body;
            uint64_t declared = size;
            bool toEnd = false;
            if (size == kUnknownSize)
            {
                if (rf64 && haveDs64 && ds64Data != kUnknownSize)
                    declared = ds64Data;
                else
                    toEnd = true;
            }
            else if (size == 0)
            {
                // A recording cut off before its sizes were written: the RIFF size shows that the
                // file was never finished, and the bytes behind the header are its samples.
                const bool unfinished = riffSize == 0 || riffSize == kUnknownSize ||
                                        static_cast<uint64_t>(riffSize) + 8 <= body;
                toEnd = unfinished;
            }
            scan.dataFound = true;
            scan.dataOffset = body;
            scan.dataSize = toEnd ? available : std::min(declared, available);
            next = toEnd ? length : body + declared;
        }

        // Odd chunks are followed by a pad byte in standard files; files that omit it are read too.
        if ((size & 1u) != 0 && next < length)
        {
            uint8_t padded[4];
            uint8_t unpadded[4];
            const bool paddedOk = idAt(next + 1, padded) && PlausibleId(padded);
            const bool unpaddedOk = idAt(next, unpadded) && PlausibleId(unpadded);
            // Keep the unpadded position only when the writer evidently left the pad out.
            if (paddedOk || !unpaddedOk)
                next += 1;
        }
        if (scan.readError)
            break;
        pos = next;
    }
    return scan;
}

// --- in-memory operations ---------------------------------------------------------------------

int32_t FileWAV::Create(const char* newPath)
{
    if (openMode != 0)
        Close();
    writeFailed = false;
    lastError = 0;
    if (!SetPath(newPath))
        return -1;
    if (fd < 0)
        fd = platform::CreateOrTruncate(path);
    if (fd < 0)
    {
        NoteFailure(errno);
        openMode = 0;
        return -1;
    }
    openMode = 2;
    position = 0;
    dataSize = 0;
    dirty = 0;
    headerless = false;
    return fd;
}

int32_t FileWAV::CreateUnique(const char* directory, const char* suffix)
{
    if (openMode != 0)
        Close();
    char work[kUniqueWorkPathSize];
    const int created = CreateUniqueFile(directory, suffix, work, sizeof work, clock);
    if (created < 0)
    {
        NoteFailure(errno);
        return -1;
    }
    fd = created;
    return Create(work);
}

bool FileWAV::OpenDescriptor(const char* newPath, int32_t mode)
{
    if (openMode != 0)
        Close();
    writeFailed = false;
    lastError = 0;
    if (mode < 0 || mode > 2 || !SetPath(newPath))
        return false;
    fd = mode == 0 ? platform::OpenForReading(path) : platform::OpenForWriting(path, mode == 2);
    if (fd < 0)
    {
        lastError = errno;
        openMode = 0;
        return false;
    }
    openMode = mode + 1;
    return true;
}

int32_t FileWAV::Open(const char* newPath, int32_t mode)
{
    if (!OpenDescriptor(newPath, mode))
        return -1;
    Load();
    position = 0;
    dirty = 0;
    return 0;
}

int32_t FileWAV::Load()
{
    if (fd < 0)
        return -1;
    const HeaderScan scan = ScanHeader();
    if (scan.headerless)
        openMode &= ~2;
    dataSize = 0;
    if (scan.readError || !scan.dataFound)
        return 0;
    try
    {
        if (data.body.size() < scan.dataSize)
            data.body.resize(scan.dataSize);
    }
    catch (const std::bad_alloc&)
    {
        return -1;
    }
    data.bodyOffset = scan.dataOffset;
    const int64_t n = platform::ReadAt(fd, data.body.data(), scan.dataSize, scan.dataOffset);
    dataSize = n > 0 ? static_cast<uint64_t>(n) : 0;
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
    if (!CanWrite() || dirty == 0 || fd < 0)
        return 0;
    dirty = 0;
    if (!WriteHeader(dataSize))
        return -1;
    const platform::WriteResult result =
        platform::WriteAt(fd, data.body.data(), dataSize, data.bodyOffset);
    if (!result.ok)
    {
        NoteFailure(errno);
        return -1;
    }
    return static_cast<int32_t>(std::min<uint64_t>(result.written, INT32_MAX));
}

int32_t FileWAV::Close()
{
    if (openMode == 0 && fd < 0)
        return 0;
    if (CanWrite())
    {
        // Even an empty file gets its header.
        dirty = 1;
        Flush();
    }
    const int closed = platform::CloseFile(fd);
    if (closed != 0 && CanWrite())
        NoteFailure(errno);
    openMode = 0;
    fd = -1;
    return (closed != 0 || writeFailed) ? -1 : 0;
}

} // namespace sigkit
