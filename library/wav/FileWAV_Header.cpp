// FileWAV's format fields and the header: composing and writing it, reading it back, the metadata
// it carries.
#include "wav/FileWAV.h"

#include "wav/AuxiChunk.h"
#include "wav/ByteOrder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sigkit {

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

} // namespace sigkit
