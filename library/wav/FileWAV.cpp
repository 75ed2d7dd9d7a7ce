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
    SetRate(rate, whole);
}

void FileWAV::SetRate(float rate, uint32_t whole)
{
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

// --- header -----------------------------------------------------------------------------------

uint32_t FileWAV::AuxiChunkBytes() const
{
    return auxi.size == 0 ? 0 : 8 + auxi.size + (auxi.size & 1u);
}

// The header: RIFF, fmt, fact, freq (declared over the LIST chunk behind it), LIST, then the auxi
// chunk when there is metadata, then data. The auxi chunk goes behind our own chunks so that the
// fixed layout up to the LIST chunk's end stays where the original kinds' readers expect it, and
// in front of data so that a reader that stops at the data chunk (a stream, most players) has
// seen it; readers that do not know "auxi" skip it by its size like any other chunk.
std::vector<uint8_t> FileWAV::HeaderBytes(uint64_t declaredData)
{
    const ChunkRecord* chunks[] = {&fmt, &fact, &freq, &list};
    std::size_t length = 12 + 8 + AuxiChunkBytes();
    for (const ChunkRecord* c : chunks)
        length += 8 + c->size;
    std::vector<uint8_t> bytes(length, 0);

    // A length not known yet is declared as such in both size fields, so that a reader of a
    // file whose writer never came back reads the bytes that are there.
    const bool unknown = declaredData == kUnknownLength;
    uint8_t* p = bytes.data();
    std::memcpy(p, "RIFF", 4);
    StoreU32(p + 4, unknown ? kUnknownSize32 : static_cast<uint32_t>(length - 8 + declaredData));
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
    if (auxi.size != 0)
    {
        std::memcpy(p + at, auxi.id, 4);
        StoreU32(p + at + 4, auxi.size);
        at += 8;
        auxi.bodyOffset = at;
        std::memcpy(p + at, auxi.body.data(), auxi.size);
        at += auxi.size + (auxi.size & 1u); // an odd body is followed by a zero pad byte
    }
    std::memcpy(p + at, "data", 4);
    StoreU32(p + at + 4, unknown ? kUnknownSize32 : static_cast<uint32_t>(declaredData));
    data.bodyOffset = at + 8;
    return bytes;
}

bool FileWAV::WriteHeader(uint64_t declaredData)
{
    const std::vector<uint8_t> header = HeaderBytes(declaredData);
    if (sink == nullptr)
        return false;
    const WriteResult result = sink->WriteAt(header.data(), header.size(), 0);
    if (!result.ok)
        NoteFailure(errno);
    return result.ok;
}

uint64_t FileWAV::MaxDataSize() const
{
    const uint64_t headerAfterSize =
        4 + 4 * 8 + fmt.size + fact.size + freq.size + list.size + AuxiChunkBytes() + 8;
    return 0xFFFFFFFFull - headerAfterSize;
}

Metadata FileWAV::GetMetadata() const
{
    if (auxi.size == 0)
        return Metadata{};
    return ReadAuxi(auxi.body.data(), auxi.size, auxiDeclared);
}

bool FileWAV::SetMetadata(const Metadata& metadata)
{
    if (CanWrite())
        return false;
    const std::vector<uint8_t> body = ComposeAuxi(metadata);
    if (body.size() > auxi.body.size())
        return false;
    std::fill(auxi.body.begin(), auxi.body.end(), uint8_t{0});
    std::copy(body.begin(), body.end(), auxi.body.begin());
    auxi.size = static_cast<uint32_t>(body.size());
    auxi.bodyOffset = 0;
    return true;
}

HeaderScan FileWAV::ScanHeader()
{
    formatFound = false;
    headerless = false;
    headerTruncated = false;
    headerOverLimit = false;
    declaredSize = 0;
    if (source == nullptr)
    {
        HeaderScan failed;
        failed.readError = true;
        return failed;
    }
    // A file without an auxi chunk has no metadata, whatever the last one had.
    auxi.size = 0;
    auxi.bodyOffset = 0;
    const HeaderScan scan = ScanChunks(*source, {fmt, fact, freq, list, auxi});
    auxiDeclared = scan.auxiDeclared;
    formatFound = scan.formatFound;
    headerless = scan.headerless;
    headerTruncated = scan.truncated;
    headerOverLimit = scan.overLimit;
    if (!scan.readError && scan.dataFound)
        declaredSize = scan.declaredSize;
    return scan;
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
