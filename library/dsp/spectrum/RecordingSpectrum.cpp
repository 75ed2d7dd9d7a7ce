#include "dsp/spectrum/RecordingSpectrum.h"

#include "wav/FileWAV_VeryFast.h"
#include "wav/RecorderName.h"
#include "wav/SampleFrames.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace sigkit {

namespace {

constexpr int32_t kAutoMinSize = 64;
constexpr int32_t kAutoMaxSize = 65536;
constexpr int32_t kMinSize = 32;
constexpr int32_t kMaxSize = 1 << 20;
// Frames read and decoded at a time.
constexpr std::size_t kChunkFrames = 8192;

std::string BaseName(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int32_t ChooseSize(const SpectrumRequest& request, double rate, double bandWidth, int32_t columns,
                   uint64_t frames)
{
    if (request.fftSize != 0)
        return request.fftSize;
    // Bins no wider than a column: rate / N <= band / columns.
    const double wanted = columns * rate / bandWidth;
    int32_t n = kAutoMinSize;
    while (n < kAutoMaxSize && n < wanted)
        n *= 2;
    while (n > kAutoMinSize && frames != kUnknownFrames && static_cast<double>(n) > frames / 2.0)
        n /= 2;
    return n;
}

// The part analysed: its first frame and its length in frames (kUnknownFrames: to the end of a
// stream).
SpectrumStatus ChoosePart(const SpectrumRequest& request, const SampleFormat& format,
                          bool lengthKnown, uint64_t framesInFile, uint64_t& first, uint64_t& count)
{
    if (!(request.startSeconds >= 0.0) || !(request.lengthSeconds >= 0.0) ||
        !std::isfinite(request.startSeconds) || !std::isfinite(request.lengthSeconds))
        return SpectrumStatus::BadRequest;
    const double firstExact = std::floor(request.startSeconds * format.rate + 0.5);
    if (firstExact > 9.0e18)
        return SpectrumStatus::BadRequest;
    first = static_cast<uint64_t>(firstExact);
    count = kUnknownFrames;
    if (lengthKnown)
    {
        if (first >= framesInFile)
            return SpectrumStatus::NothingToShow;
        count = framesInFile - first;
    }
    if (request.lengthSeconds > 0.0)
        count = std::min<uint64_t>(
            count, static_cast<uint64_t>(
                       std::min(std::floor(request.lengthSeconds * format.rate), 9.0e18)));
    if (count == 0)
        return SpectrumStatus::NothingToShow;
    return SpectrumStatus::Done;
}

// The band shown: the whole band, or the span asked for within it.
SpectrumStatus ChooseBand(const SpectrumRequest& request, const SampleFormat& format, bool complex,
                          double& low, double& high)
{
    const double bottom = complex ? -format.rate / 2.0 : 0.0;
    const double top = format.rate / 2.0;
    low = bottom;
    high = top;
    if (request.spanWidthHz > 0.0)
    {
        low = request.spanCentreHz - request.spanWidthHz / 2.0;
        high = request.spanCentreHz + request.spanWidthHz / 2.0;
        if (!std::isfinite(low) || !std::isfinite(high) || low < bottom - 1e-6 * format.rate ||
            high > top + 1e-6 * format.rate)
            return SpectrumStatus::BadRequest;
        low = std::max(low, bottom);
        high = std::min(high, top);
    }
    else if (request.spanWidthHz < 0.0 || std::isnan(request.spanWidthHz))
        return SpectrumStatus::BadRequest;
    return SpectrumStatus::Done;
}

// Skips to the first frame (a stream by reading). False when the file ends before it.
bool SkipTo(FileWAV_VeryFast& file, uint64_t first, std::size_t frameBytes, bool stream,
            std::vector<uint8_t>& bytes)
{
    uint64_t skipped = 0;
    if (!stream)
        skipped =
            file.Seek(static_cast<int64_t>(std::min<uint64_t>(first * frameBytes, INT64_MAX)), 0) /
            frameBytes;
    while (skipped < first)
    {
        const auto want =
            static_cast<int32_t>(std::min<uint64_t>(kChunkFrames, first - skipped) * frameBytes);
        const int32_t got = file.Read(bytes.data(), want);
        if (got <= 0)
            return false;
        skipped += static_cast<uint64_t>(got) / frameBytes;
    }
    return true;
}

// Reads `count` frames (or to the end) in chunks into the waterfall; the frames read.
uint64_t ReadPart(FileWAV_VeryFast& file, const SampleFormat& format, uint64_t count,
                  std::vector<uint8_t>& bytes, Waterfall& waterfall)
{
    const std::size_t frameBytes = format.blockAlign;
    std::vector<float> samples(kChunkFrames * format.channels);
    uint64_t done = 0;
    std::size_t carried = 0; // bytes of a frame cut between two reads
    while (count == kUnknownFrames || done < count)
    {
        const uint64_t left = count == kUnknownFrames ? kChunkFrames : count - done;
        const std::size_t wantFrames =
            static_cast<std::size_t>(std::min<uint64_t>(kChunkFrames, left));
        const auto want = static_cast<int32_t>(wantFrames * frameBytes - carried);
        const int32_t got = file.Read(bytes.data() + carried, want);
        if (got <= 0)
            break;
        const std::size_t have = carried + static_cast<std::size_t>(got);
        const std::size_t frames = have / frameBytes;
        DecodeFrames(format, bytes.data(), frames, samples.data());
        waterfall.Put(samples.data(), frames);
        carried = have - frames * frameBytes;
        if (carried > 0)
            std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(frames * frameBytes),
                      bytes.begin() + static_cast<std::ptrdiff_t>(have), bytes.begin());
        done += frames;
    }
    return done;
}

// The file's auxi chunk, its name, and the request, in that order.
Metadata MetadataOf(FileWAV_VeryFast& file, const std::string& name, const SpectrumRequest& request)
{
    Metadata m = CombineWithName(file.GetMetadata(), name.c_str());
    if (!m.centreHz.has_value() && request.centreHz.has_value())
    {
        m.centreHz = request.centreHz;
        m.centreFrom = MetadataSource::Given;
    }
    if (!m.startTime.has_value() && request.startTime.has_value())
    {
        m.startTime = request.startTime;
        m.startFrom = MetadataSource::Given;
    }
    return m;
}

SpectrumStatus Analyse(FileWAV_VeryFast& file, const std::string& name,
                       const SpectrumRequest& request, RecordingSpectrum& out, bool stream)
{
    const SampleFormat format = FormatOf(file);
    if (!format.Readable() || format.channels > 2)
        return SpectrumStatus::NotReadable;
    out.rate = format.rate;
    out.complex = format.channels == 2;
    // A stream whose header declares no length is read to its end.
    const bool lengthKnown = file.DataSize() != kUnknownLength;
    out.framesInFile = lengthKnown ? file.DataSize() / format.blockAlign : 0;

    uint64_t first = 0;
    uint64_t count = 0;
    SpectrumStatus status =
        ChoosePart(request, format, lengthKnown, out.framesInFile, first, count);
    if (status != SpectrumStatus::Done)
        return status;
    double low = 0.0;
    double high = 0.0;
    status = ChooseBand(request, format, out.complex, low, high);
    if (status != SpectrumStatus::Done)
        return status;

    out.layout = LayOutPicture(request.width, request.height);
    WaterfallSetup setup;
    setup.rate = format.rate;
    setup.complex = out.complex;
    setup.rows = out.layout.waterfallHeight;
    setup.columns = out.layout.plotWidth;
    setup.frames = count;
    setup.lowHz = low;
    setup.highHz = high;
    setup.fftSize = ChooseSize(request, format.rate, high - low, setup.columns, count);
    const int32_t n = setup.fftSize;
    if (n < kMinSize || n > kMaxSize || (n & (n - 1)) != 0)
        return SpectrumStatus::BadRequest;
    Waterfall waterfall(setup);
    if (!waterfall.Valid())
        return SpectrumStatus::BadRequest;

    // Skip to the first frame (a stream by reading), then read the part in chunks.
    const std::size_t frameBytes = format.blockAlign;
    std::vector<uint8_t> bytes(kChunkFrames * frameBytes);
    if (!SkipTo(file, first, frameBytes, stream, bytes))
        return SpectrumStatus::NothingToShow;
    const uint64_t done = ReadPart(file, format, count, bytes, waterfall);
    out.spectra = waterfall.Finish();
    if (done == 0)
        return SpectrumStatus::NothingToShow;
    out.offsetSeconds = static_cast<double>(first) / format.rate;
    out.durationSeconds = static_cast<double>(done) / format.rate;

    out.name = name;
    out.metadata = MetadataOf(file, name, request);
    return SpectrumStatus::Done;
}

} // namespace

const char* StatusText(SpectrumStatus status)
{
    switch (status)
    {
    case SpectrumStatus::Done:
        return "done";
    case SpectrumStatus::CannotOpen:
        return "cannot be opened";
    case SpectrumStatus::NotReadable:
        return "has no samples that can be analysed (1 or 2 channels of PCM or float)";
    case SpectrumStatus::BadRequest:
        return "FFT size, band or time outside what the recording holds";
    case SpectrumStatus::NothingToShow:
        return "has no samples in the part asked for";
    }
    return "";
}

SpectrumStatus AnalyseRecording(const char* path, const SpectrumRequest& request,
                                RecordingSpectrum& out)
{
    out = RecordingSpectrum{};
    auto file = std::make_unique<FileWAV_VeryFast>(32768);
    if (path == nullptr || file->Open(path, 0) < 0)
        return SpectrumStatus::CannotOpen;
    const std::string name = BaseName(path);
    const SpectrumStatus status = Analyse(*file, name, request, out, false);
    file->Close();
    return status;
}

SpectrumStatus AnalyseRecording(std::unique_ptr<ByteSource> source, const std::string& name,
                                const SpectrumRequest& request, RecordingSpectrum& out)
{
    out = RecordingSpectrum{};
    if (source == nullptr)
        return SpectrumStatus::CannotOpen;
    const bool stream = !source->Seekable() || source->Length() == kUnknownLength;
    auto file = std::make_unique<FileWAV_VeryFast>(32768);
    if (file->Open(std::move(source)) < 0)
        return SpectrumStatus::CannotOpen;
    const SpectrumStatus status = Analyse(*file, name, request, out, stream);
    file->Close();
    return status;
}

RgbImage DrawRecording(const RecordingSpectrum& recording, double dbLow, double dbHigh)
{
    PictureText text;
    text.name = recording.name;
    text.centreHz = recording.metadata.centreHz;
    text.startTime = recording.metadata.startTime;
    text.offsetSeconds = recording.offsetSeconds;
    text.durationSeconds = recording.durationSeconds;
    text.dbLow = dbLow;
    text.dbHigh = dbHigh;
    return DrawSpectrumPicture(recording.spectra, text, recording.layout);
}

StationList RecordingStations(const RecordingSpectrum& recording, int32_t maxStations)
{
    StationSearch search;
    search.maxStations = maxStations;
    search.lowHz = recording.spectra.lowHz;
    search.highHz = recording.spectra.highHz;
    return FindStations(recording.spectra, search);
}

} // namespace sigkit
