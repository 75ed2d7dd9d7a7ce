#include "wav/HeaderScan.h"

#include "wav/ByteOrder.h"

#include <algorithm>
#include <cstring>

namespace sigkit {

namespace {

// Chunk bodies are read through a scratch buffer of this size; what lies beyond is skipped.
constexpr std::size_t kScratchBytes = 1024;
// A "freq" chunk declaring more than this is this system's own, whose size covers the LIST chunk
// nested behind the 4-byte value.
constexpr uint32_t kFreqNestedLimit = 256;

// A chunk id of four printable characters, as every real chunk id is.
bool PlausibleId(const uint8_t* id)
{
    for (int i = 0; i < 4; ++i)
        if (id[i] < 0x20 || id[i] > 0x7E)
            return false;
    return true;
}

class ChunkScanner
{
public:
    ChunkScanner(ByteSource& from, const ScanTargets& into)
        : source(from), targets(into), length(from.Length()), seekable(from.Seekable())
    {
    }

    HeaderScan Run();

private:
    bool Known() const { return length != kUnknownLength; }
    void TakeHeaderless();
    // Reads one chunk at pos and moves pos behind it; false ends the scan.
    bool ScanChunk();
    void ReadBody(ChunkRecord& record, uint32_t size, uint64_t body);
    void ReadDs64(uint32_t size, uint64_t body);
    // Notes the data chunk; false when the scan ends with it.
    bool TakeData(uint32_t size, uint64_t body, uint64_t& next);
    uint64_t PastPad(uint32_t size, uint64_t next);
    bool IdAt(uint64_t at, uint8_t* id);
    static bool RiffBeginning(const uint8_t* head, std::size_t got);

    ByteSource& source;
    ScanTargets targets;
    const uint64_t length;
    const bool seekable;
    HeaderScan scan;
    bool rf64 = false;
    uint32_t riffSize = 0;
    bool haveDs64 = false;
    uint64_t ds64Riff = 0;
    uint64_t ds64Data = 0;
    bool ranOut = false; // the bytes ended where the header went on
    uint64_t pos = 12;
    uint8_t scratch[kScratchBytes]{};
};

HeaderScan ChunkScanner::Run()
{
    uint8_t head[12]{};
    const int64_t got = source.ReadAt(head, sizeof head, 0);
    if (got < 0)
    {
        scan.readError = true;
        return scan;
    }
    const bool riffForm =
        got == 12 && (IdIs(head, "RIFF") || IdIs(head, "RF64")) && IdIs(head + 8, "WAVE");
    if (!riffForm)
    {
        scan.truncated = RiffBeginning(head, static_cast<std::size_t>(got));
        TakeHeaderless();
        return scan;
    }
    rf64 = IdIs(head, "RF64");
    riffSize = LoadU32(head + 4);
    while (ScanChunk())
    {
    }
    scan.truncated = ranOut && !scan.dataFound && !scan.readError;
    return scan;
}

bool ChunkScanner::RiffBeginning(const uint8_t* head, std::size_t got)
{
    // Fewer than 12 bytes that are the start of "RIFF" or "RF64", any 4 bytes, "WAVE".
    if (got >= 12)
        return false;
    const std::size_t form = std::min<std::size_t>(got, 4);
    const bool riff = std::memcmp(head, "RIFF", form) == 0 || std::memcmp(head, "RF64", form) == 0;
    const std::size_t wave = got > 8 ? got - 8 : 0;
    return riff && std::memcmp(head + 8, "WAVE", wave) == 0;
}

void ChunkScanner::TakeHeaderless()
{
    // Headerless sample data in the default format, from offset 12 on, at rate 0.
    scan.headerless = true;
    scan.dataFound = true;
    scan.dataOffset = 12;
    if (!Known())
        scan.dataSize = kUnknownLength;
    else
        scan.dataSize = length > 12 ? length - 12 : 0;
    scan.declaredSize = scan.dataSize;
    StoreU32(targets.fmt.body.data() + 4, 0);
    StoreU32(targets.freq.body.data(), 0);
}

bool ChunkScanner::ScanChunk()
{
    if (Known() && (pos > length || length - pos < 8))
    {
        ranOut = true;
        return false;
    }
    uint8_t chunk[8];
    const int64_t got = source.ReadAt(chunk, sizeof chunk, pos);
    if (got != 8)
    {
        // A file shorter than it was a moment ago failed; a stream has simply ended.
        scan.readError = got < 0 || Known();
        ranOut = true;
        return false;
    }
    uint32_t size = LoadU32(chunk + 4);
    const uint64_t body = pos + 8;
    if (Known() && body >= length)
    {
        // A format chunk whose body is cut off holds nothing of a format.
        if (IdIs(chunk, "fmt "))
        {
            targets.fmt.size = 0;
            targets.fmt.bodyOffset = body;
            scan.formatFound = true;
        }
        ranOut = true;
        return false;
    }
    uint64_t next = body + size;

    if (IdIs(chunk, "fmt "))
    {
        ReadBody(targets.fmt, size, body);
        scan.formatFound = true;
    }
    else if (IdIs(chunk, "fact"))
        ReadBody(targets.fact, size, body);
    else if (IdIs(chunk, "freq"))
    {
        if (size > kFreqNestedLimit)
        {
            size = 4;
            next = body + 4;
        }
        ReadBody(targets.freq, size, body);
    }
    else if (IdIs(chunk, "LIST"))
        ReadBody(targets.list, size, body);
    else if (IdIs(chunk, "auxi"))
    {
        ReadBody(targets.auxi, size, body);
        scan.auxiDeclared = size;
    }
    else if (IdIs(chunk, "ds64") && rf64)
        ReadDs64(size, body);
    else if (IdIs(chunk, "data") && !TakeData(size, body, next))
        return false;

    // A stream is not read through chunk after chunk without end: the data chunk must begin
    // within the limit (its header is the next thing read).
    if (!seekable && next > kStreamHeaderLimit)
    {
        scan.overLimit = true;
        return false;
    }
    next = PastPad(size, next);
    if (scan.readError || next <= pos)
        return false;
    pos = next;
    return true;
}

void ChunkScanner::ReadBody(ChunkRecord& record, uint32_t size, uint64_t body)
{
    record.bodyOffset = body;
    const std::size_t want = std::min<std::size_t>(size, kScratchBytes);
    const int64_t n = source.ReadAt(scratch, want, body);
    if (n < 0)
    {
        scan.readError = true;
        return;
    }
    if (static_cast<std::size_t>(n) < want)
        ranOut = true;
    const auto usable = static_cast<uint32_t>(
        std::min<uint64_t>({static_cast<uint64_t>(n), size, record.body.size()}));
    std::memcpy(record.body.data(), scratch, usable);
    record.size = usable;
}

void ChunkScanner::ReadDs64(uint32_t size, uint64_t body)
{
    uint8_t sizes[16]{};
    if (size >= 16 && source.ReadAt(sizes, sizeof sizes, body) == 16)
    {
        haveDs64 = true;
        ds64Riff = LoadU64(sizes);
        ds64Data = LoadU64(sizes + 8);
    }
}

bool ChunkScanner::TakeData(uint32_t size, uint64_t body, uint64_t& next)
{
    const uint64_t available = Known() ? length - body : kUnknownLength;
    uint64_t declared = size;
    bool toEnd = false;
    if (size == kUnknownSize32)
    {
        // RF64 keeps the size in its ds64 chunk, where all ones means "not known" too, as do
        // sizes of 0 throughout (a writer that never came back to fill them in).
        const bool ds64Known = haveDs64 && ds64Data != kUnknownSize32 &&
                               ds64Data != kUnknownLength && (ds64Data != 0 || ds64Riff != 0);
        if (rf64 && ds64Known)
            declared = ds64Data;
        else
            toEnd = true;
    }
    else if (size == 0)
    {
        // A recording cut off before its sizes were written: the RIFF size shows that the file
        // was never finished, and the bytes behind the header are its samples.
        toEnd = riffSize == 0 || riffSize == kUnknownSize32 ||
                static_cast<uint64_t>(riffSize) + 8 <= body;
    }
    scan.dataFound = true;
    scan.dataOffset = body;
    scan.dataSize = toEnd ? available : std::min(declared, available);
    scan.declaredSize = toEnd ? available : declared;
    // A stream is read no further than its data; a size that wraps the position ends the scan.
    if (!seekable || toEnd)
        return false;
    return !__builtin_add_overflow(body, declared, &next);
}

uint64_t ChunkScanner::PastPad(uint32_t size, uint64_t next)
{
    // Odd chunks are followed by a pad byte in standard files; files that omit it are read too.
    if ((size & 1u) == 0 || (Known() && next >= length))
        return next;
    uint8_t padded[4];
    uint8_t unpadded[4];
    const bool paddedOk = IdAt(next + 1, padded) && PlausibleId(padded);
    const bool unpaddedOk = IdAt(next, unpadded) && PlausibleId(unpadded);
    // Keep the unpadded position only when the writer evidently left the pad out.
    return (paddedOk || !unpaddedOk) ? next + 1 : next;
}

bool ChunkScanner::IdAt(uint64_t at, uint8_t* id)
{
    if (Known() && (at > length || length - at < 4))
        return false;
    return source.ReadAt(id, 4, at) == 4;
}

} // namespace

HeaderScan ScanChunks(ByteSource& source, const ScanTargets& targets)
{
    return ChunkScanner(source, targets).Run();
}

} // namespace sigkit
