#include "Harnesses.h"

#include "dsp/spectrum/RecordingSpectrum.h"
#include "sigkit.h"
#include "wav/AuxiChunk.h"
#include "wav/FileWAV_VeryFast.h"
#include "wav/RecorderName.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace sigfuzz {

namespace {

// The input as a file in memory, reachable by a path like any other file.
class MemoryFile
{
public:
    MemoryFile(const uint8_t* data, std::size_t size)
    {
        fd = memfd_create("fuzz.wav", MFD_CLOEXEC);
        if (fd < 0)
            std::abort();
        std::size_t done = 0;
        while (done < size)
        {
            const ssize_t put = write(fd, data + done, size - done);
            if (put <= 0)
                std::abort();
            done += static_cast<std::size_t>(put);
        }
        path = "/proc/self/fd/" + std::to_string(fd);
    }
    ~MemoryFile() { close(fd); }

    const std::string& Path() const { return path; }

private:
    int fd = -1;
    std::string path;
};

void Require(bool condition, const char* what)
{
    if (!condition)
    {
        std::fprintf(stderr, "harness check failed: %s\n", what);
        std::abort();
    }
}

// The input as a stream read in order, in pieces of uneven size as a pipe gives them.
struct PieceStream
{
    const uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    std::size_t calls = 0;
};

int64_t ReadPieces(void* context, void* buffer, std::size_t count)
{
    auto& stream = *static_cast<PieceStream*>(context);
    const std::size_t piece = std::min({count, stream.size - stream.at, 1 + (stream.calls++ % 29)});
    if (piece > 0)
        std::memcpy(buffer, stream.data + stream.at, piece);
    stream.at += piece;
    return static_cast<int64_t>(piece);
}

// Reads every sample byte in pieces of varying size.
std::vector<uint8_t> ReadAll(sigkit::FileWAV_VeryFast& wav)
{
    std::vector<uint8_t> out;
    std::vector<uint8_t> buffer(10000);
    std::size_t piece = 1;
    for (int calls = 0; calls < 1000000; ++calls)
    {
        piece = piece % 9973 + 1 + (out.size() % 17);
        const int32_t got =
            wav.Read(buffer.data(), static_cast<int32_t>(std::min(piece, buffer.size())));
        Require(got >= 0 && static_cast<std::size_t>(got) <= piece,
                "read count within the request");
        if (got == 0)
            break;
        out.insert(out.end(), buffer.begin(), buffer.begin() + got);
    }
    return out;
}

// The format as the records hold it.
std::vector<uint8_t> Format(const sigkit::FileWAV& wav)
{
    uint8_t format[sigkit::kFmtCapacity];
    const uint32_t n = wav.GetFormat(format, sizeof format);
    return std::vector<uint8_t>(format, format + n);
}

std::size_t Find(const uint8_t* data, std::size_t size, const char* id, std::size_t from)
{
    for (std::size_t at = from; at + 4 <= size; ++at)
        if (std::memcmp(data + at, id, 4) == 0)
            return at;
    return size;
}

sigkit::WriteResult AppendBytes(void* context, const void* buffer, std::size_t count)
{
    auto& out = *static_cast<std::vector<uint8_t>*>(context);
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    out.insert(out.end(), bytes, bytes + count);
    return {count, true};
}

bool SameMetadata(const sigkit::Metadata& a, const sigkit::Metadata& b)
{
    return a.centreHz == b.centreHz && a.startTime == b.startTime && a.stopTime == b.stopTime &&
           a.fields.adFrequency == b.fields.adFrequency &&
           a.fields.ifFrequency == b.fields.ifFrequency &&
           a.fields.bandwidth == b.fields.bandwidth && a.fields.iqOffset == b.fields.iqOffset &&
           a.fields.dbOffset == b.fields.dbOffset && a.fields.maxVal == b.fields.maxVal &&
           a.fields.unused4 == b.fields.unused4 && a.fields.unused5 == b.fields.unused5;
}

// Whatever an auxi chunk held, an output made with its metadata reads back the same, and the
// metadata survives being composed again.
void MetadataRoundTrip(const sigkit::Metadata& read)
{
    const std::vector<uint8_t> body = sigkit::ComposeAuxi(read);
    Require(body.empty() == !read.Any(), "an auxi body exactly when there is metadata");
    if (body.empty())
        return;
    Require(body.size() <= sigkit::kAuxiCapacity, "a composed body fits its record");
    Require(SameMetadata(sigkit::ReadAuxi(body.data(), body.size(), body.size()), read),
            "a composed body reads back as the metadata it was made from");

    std::vector<uint8_t> written;
    auto out = std::make_unique<sigkit::FileWAV_VeryFast>(64);
    Require(out->SetMetadata(read), "metadata accepted before the file is made");
    Require(out->Create(std::make_unique<sigkit::StreamSink>(AppendBytes, &written)) == 0,
            "a stream output opens");
    out->SetStereo();
    out->SetRate(48000.0f);
    const uint8_t frame[4] = {1, 2, 3, 4};
    out->Write(frame, 4);
    Require(out->Close() == 0, "a stream output completes");
    auto back = std::make_unique<sigkit::FileWAV_VeryFast>(64);
    Require(back->Open(std::make_unique<sigkit::MemorySource>(written.data(), written.size())) == 0,
            "the output opens");
    const sigkit::Metadata again = back->GetMetadata();
    Require(again.centreHz == sigkit::ReadAuxi(body.data(), body.size(), body.size()).centreHz,
            "the output carries the centre");
    uint8_t sample[8];
    Require(back->Read(sample, 8) == 4, "the output's one frame is there");
}

bool OneDataChunkAndNoFormatBehind(const uint8_t* data, std::size_t size)
{
    const std::size_t first = Find(data, size, "data", 0);
    return first == size ||
           (Find(data, size, "data", first + 1) == size && Find(data, size, "fmt ", first) == size);
}

} // namespace

void WavFile(const uint8_t* data, std::size_t size)
{
    MemoryFile file(data, size);
    const int32_t window = size > 0 ? 1 + data[0] % 64 : 16384;
    auto wav = std::make_unique<sigkit::FileWAV_VeryFast>(window);
    if (wav->Open(file.Path().c_str(), 0) < 0)
        return;
    Require(wav->FormatSize() <= sigkit::kFmtCapacity, "format record within its capacity");
    MetadataRoundTrip(wav->GetMetadata());
    // The bytes as an auxi body of their own, and as a file name.
    MetadataRoundTrip(sigkit::ReadAuxi(data, size, size));
    const std::string name(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 300));
    const sigkit::Metadata named = sigkit::MetadataFromName(name.c_str());
    Require(!named.centreHz.has_value() || (*named.centreHz > 0.0 && *named.centreHz < 1e12),
            "a centre from a name is plausible");
    const std::vector<uint8_t> format = Format(*wav);
    const uint64_t declared = wav->DataSize();
    Require(declared <= size, "data size within the file");
    const std::vector<uint8_t> delivered = ReadAll(*wav);
    Require(delivered.size() <= declared, "no more bytes than the data holds");
    std::vector<uint8_t> buffer(100);
    wav->Seek(static_cast<int64_t>(size / 3), 0);
    wav->Read(buffer.data(), 100);
    wav->Seek(-1, 2);
    wav->Read(buffer.data(), 100);
    Require(wav->Close() == 0, "closing a file opened for reading succeeds");

    // The same bytes from memory and from a stream read in order: the same format and data.
    auto memory = std::make_unique<sigkit::FileWAV_VeryFast>(window);
    Require(memory->Open(std::make_unique<sigkit::MemorySource>(data, size)) == 0, "memory opens");
    Require(Format(*memory) == format, "memory gives the file's format");
    Require(ReadAll(*memory) == delivered, "memory gives the file's data");
    // A stream is read no further than its first data chunk, where a file is scanned to its end:
    // they agree when nothing that matters comes behind it.
    if (!OneDataChunkAndNoFormatBehind(data, size))
        return;
    PieceStream pieces{data, size};
    auto stream = std::make_unique<sigkit::FileWAV_VeryFast>(window);
    Require(stream->Open(std::make_unique<sigkit::StreamSource>(ReadPieces, &pieces)) == 0,
            "stream opens");
    Require(Format(*stream) == format, "a stream gives the file's format");
    Require(ReadAll(*stream) == delivered, "a stream gives the file's data");
    stream->Seek(-1, 2);
    stream->Read(buffer.data(), 100);
}

void SpectrumOfFile(const uint8_t* data, std::size_t size)
{
    // The first byte chooses a transform size and a part of the band, so that the fuzzer reaches
    // padded single transforms, merged stream rows and zoomed columns.
    sigkit::SpectrumRequest request;
    request.width = 480;
    request.height = 320;
    const uint8_t choice = size > 0 ? data[0] : 0;
    request.fftSize = (choice & 3) == 0 ? 0 : 32 << (choice & 7);
    if ((choice & 8) != 0)
    {
        request.spanCentreHz = -100.0 * (choice >> 4);
        request.spanWidthHz = 1000.0;
    }
    request.lengthSeconds = (choice & 0x40) != 0 ? 0.01 : 0.0;
    sigkit::RecordingSpectrum rec;
    const sigkit::SpectrumStatus status = sigkit::AnalyseRecording(
        std::make_unique<sigkit::MemorySource>(data, size), "fuzz.wav", request, rec);
    if (status != sigkit::SpectrumStatus::Done)
        return;
    const sigkit::Spectra& s = rec.spectra;
    Require(s.waterfall.size() == static_cast<std::size_t>(s.rows) * s.columns,
            "the waterfall holds its rows");
    Require(s.rows <= rec.layout.waterfallHeight, "no more rows than asked for");
    Require(s.framesPut <= size, "no more frames than bytes");
    const sigkit::RgbImage image = sigkit::DrawRecording(rec);
    Require(image.pixels.size() == static_cast<std::size_t>(image.width) * image.height * 3,
            "the picture holds its pixels");
    const sigkit::StationList list = sigkit::RecordingStations(rec);
    Require(list.stations.size() <= 20, "at most the stations asked for");
    for (const sigkit::Station& station : list.stations)
        Require(station.lowHz <= station.highHz && station.bandwidthHz >= 0.0,
                "a station's band is a band");
    const std::string json = sigkit::StationsJson(list, rec.metadata.centreHz, rec.name);
    Require(!json.empty() && json.back() == '\n', "the list is complete");
}

void WavReadExports(const uint8_t* data, std::size_t size)
{
    MemoryFile file(data, size);
    WavDescription description{};
    std::snprintf(description.name, sizeof description.name, "%s", file.Path().c_str());
    WavReadHandle* handle = nullptr;
    Require(wav_read_init(&description, &handle) == 1 && handle != nullptr, "init succeeds");
    uint64_t delivered = 0;
    int zeros = 0;
    for (int calls = 0; calls < 1000000 && zeros < 3; ++calls)
    {
        const void* block = nullptr;
        int32_t bytes = -1;
        Require(wav_read_data(handle, &block, &bytes) == 1, "data returns 1");
        Require(bytes >= 0 && bytes <= 1200, "blocks of at most 1200 bytes");
        if (bytes == 0)
        {
            ++zeros;
            continue;
        }
        Require(zeros == 0, "nothing after the end");
        volatile uint8_t sink = 0;
        for (int32_t i = 0; i < bytes; ++i)
            sink = sink ^ static_cast<const uint8_t*>(block)[i];
        delivered += static_cast<uint64_t>(bytes);
    }
    Require(delivered <= size, "no more bytes than the file holds");
    Require(description.valid == 0 || delivered + 12 <= size || size < 12, "data behind a header");
    Require(wav_read_free(handle) == 1, "free returns 1");
}

} // namespace sigfuzz
