// FileWAV_VeryFast's closing half: completing the header (sizes, the auxi stop time, the RF64
// form past the 32-bit limit), publishing the file or keeping what was written, and rewriting the
// chunks that change while the file is open.
#include "wav/FileWAV_VeryFast.h"

#include "wav/AuxiChunk.h"
#include "wav/ByteOrder.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace sigkit {

int32_t FileWAV_VeryFast::Close()
{
    if (openMode == 0 && sink == nullptr && source == nullptr)
        return 0;
    if (!CanWrite() || sink == nullptr)
    {
        const int closed = ReleaseBytes();
        openMode = 0;
        return closed != 0 ? -1 : 0;
    }
    const int closed = EndWriting();
    if (closed == 0 && !writeFailed && names.Publish(noReplace) != 0)
    {
        const int error = errno;
        NoteFailure(error);
        if (noReplace && error == EEXIST)
        {
            // Another writer published first: this one leaves nothing behind.
            names.Discard();
            partialFrames = 0;
            return -1;
        }
    }
    if (closed != 0 || writeFailed)
    {
        KeepPartial();
        return -1;
    }
    return 0;
}

int32_t FileWAV_VeryFast::Abandon()
{
    if (!CanWrite() || sink == nullptr)
        return -1;
    EndWriting();
    return KeepPartial() ? 0 : -1;
}

void FileWAV_VeryFast::Discard()
{
    if (!CanWrite() || sink == nullptr)
        return;
    ReleaseBytes();
    openMode = 0;
    partialFrames = 0;
    names.Discard();
}

int FileWAV_VeryFast::EndWriting()
{
    Flush();
    const uint64_t declared = DeclaredData();
    Finalize();
    const uint16_t blockAlign = LoadU16(fmt.body.data() + 12);
    partialFrames = blockAlign != 0 ? declared / blockAlign : 0;
    const int closed = ReleaseBytes();
    if (closed != 0)
        NoteFailure(errno);
    openMode = 0;
    return closed;
}

bool FileWAV_VeryFast::KeepPartial()
{
    if (names.KeepPartial() == 0)
        return true;
    NoteFailure(errno);
    return false;
}

uint64_t FileWAV_VeryFast::DeclaredData() const
{
    // After a failure the header declares exactly the bytes that reached the file.
    return writeFailed ? std::min(writtenEnd, dataSize) : dataSize;
}

int32_t FileWAV_VeryFast::Finalize()
{
    if (!CanWrite() || sink == nullptr || data.bodyOffset < 8)
        return 0;
    // The stop time of the auxi chunk is the start time plus the length written, where the
    // header can still be changed.
    if (auxi.size != 0 && (sink->Seekable() || !pendingHeader.empty()))
        FinishAuxi();
    // A stream cannot go back: its header stays as written, declaring no length.
    if (!sink->Seekable())
        return EmitPendingHeader() ? 0 : -1;
    const uint64_t declared = DeclaredData();
    const uint64_t threshold = rf64Threshold != 0 ? rf64Threshold : MaxDataSize();
    if (declared > threshold && Rf64Possible())
        return WriteRf64Header(declared) ? 0 : -1;
    uint8_t chunk[4];
    StoreU32(chunk, static_cast<uint32_t>(std::min<uint64_t>(declared, 0xFFFFFFFFu)));
    const WriteResult sizeWritten = sink->WriteAt(chunk, 4, data.bodyOffset - 4);
    uint8_t riffSize[4];
    const uint64_t riffBytes = data.bodyOffset - 8 + declared;
    StoreU32(riffSize, static_cast<uint32_t>(std::min<uint64_t>(riffBytes, 0xFFFFFFFFu)));
    const WriteResult riffWritten = sink->WriteAt(riffSize, 4, 4);
    if (!sizeWritten.ok || !riffWritten.ok)
    {
        NoteFailure(errno);
        return -1;
    }
    return 0;
}

void FileWAV_VeryFast::FinishAuxi()
{
    uint32_t whole = 0;
    uint32_t exactBits = 0;
    GetRates(whole, exactBits);
    float exact = 0.0f;
    std::memcpy(&exact, &exactBits, 4);
    const double rate = exact > 0.0f && std::isfinite(exact) ? static_cast<double>(exact)
                                                             : static_cast<double>(whole);
    const uint16_t blockAlign = LoadU16(fmt.body.data() + 12);
    if (!(rate > 0.0) || blockAlign == 0)
        return;
    const double frames = static_cast<double>(DeclaredData() / blockAlign);
    if (SetAuxiStop(auxi.body.data(), auxi.size, frames / rate))
        RewriteChunk(auxi);
}

bool FileWAV_VeryFast::Rf64Possible() const
{
    return createdHere && sink != nullptr && sink->Seekable() && fmt.size == kFmtInitialSize &&
           fact.size == 4 && freq.size == 4 && list.size == kListCapacity &&
           data.bodyOffset == kWrittenHeaderBytes + AuxiChunkBytes();
}

// The RF64 form of the standard header, the same 334 bytes long: "ds64" takes its place right
// behind "WAVE", the LIST chunk gives up 36 bytes of its (opaque) body for it, and the samples
// stay where they are. An auxi chunk between the LIST and data chunks stays as it is.
bool FileWAV_VeryFast::WriteRf64Header(uint64_t declared)
{
    constexpr uint32_t kDs64Body = 28;
    constexpr uint32_t kListBody = kListCapacity - (8 + kDs64Body);
    uint8_t header[kWrittenHeaderBytes]{};
    uint8_t* p = header;
    std::memcpy(p, "RF64", 4);
    StoreU32(p + 4, 0xFFFFFFFFu);
    std::memcpy(p + 8, "WAVE", 4);
    std::memcpy(p + 12, "ds64", 4);
    StoreU32(p + 16, kDs64Body);
    const uint16_t blockAlign = LoadU16(fmt.body.data() + 12);
    StoreU64(p + 20, data.bodyOffset - 8 + declared);              // RIFF size
    StoreU64(p + 28, declared);                                    // data size
    StoreU64(p + 36, blockAlign != 0 ? declared / blockAlign : 0); // sample frames
    StoreU32(p + 44, 0);                                           // table entries
    std::size_t at = 48;
    auto put = [&](const char* id, uint32_t size, const uint8_t* body, uint32_t bodySize) {
        std::memcpy(p + at, id, 4);
        StoreU32(p + at + 4, size);
        std::memcpy(p + at + 8, body, bodySize);
        at += 8 + bodySize;
    };
    put("fmt ", fmt.size, fmt.body.data(), fmt.size);
    put("fact", fact.size, fact.body.data(), fact.size);
    put("freq", freq.size + 8 + kListBody, freq.body.data(), freq.size);
    put("LIST", kListBody, list.body.data(), kListBody);
    std::memcpy(p + at, "data", 4);
    StoreU32(p + at + 4, 0xFFFFFFFFu);
    // Up to the LIST chunk's end at 0, the data chunk's header where it is (right behind, or
    // behind the auxi chunk).
    WriteResult result = sink->WriteAt(header, at, 0);
    if (result.ok)
        result = sink->WriteAt(p + at, 8, data.bodyOffset - 8);
    if (!result.ok)
    {
        NoteFailure(errno);
        return false;
    }
    rf64 = true;
    return true;
}

int32_t FileWAV_VeryFast::RewriteChunk(const ChunkRecord& record)
{
    if (!CanWrite() || sink == nullptr || record.bodyOffset == 0)
        return 0;
    if (!pendingHeader.empty())
    {
        // Not written yet: the header goes out with the record as it stands now.
        if (record.bodyOffset + record.size <= pendingHeader.size())
            std::memcpy(pendingHeader.data() + record.bodyOffset, record.body.data(), record.size);
        return static_cast<int32_t>(record.size);
    }
    const WriteResult result = sink->WriteAt(record.body.data(), record.size, record.bodyOffset);
    if (!result.ok)
    {
        NoteFailure(errno);
        return -1;
    }
    return static_cast<int32_t>(result.written);
}

void FileWAV_VeryFast::SetFormatTag(uint16_t tag)
{
    FileWAV::SetFormatTag(tag);
    if (tag < 129)
        RewriteChunk(fmt);
}

void FileWAV_VeryFast::SetRate(float rate, uint32_t whole)
{
    FileWAV::SetRate(rate, whole);
    RewriteChunk(fmt);
    RewriteChunk(freq);
}

void FileWAV_VeryFast::SetFormat(const uint8_t* source)
{
    FileWAV::SetFormat(source);
    RewriteChunk(fmt);
    RewriteChunk(fact);
}

} // namespace sigkit
