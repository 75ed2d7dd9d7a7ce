// A recording's spectra from its file: the bundled example's two stations, every sample format
// at full scale, a part of the time, metadata from the file, its name and the request, a stream
// of unknown length, refusals, and memory that does not grow with the recording.
#include "dsp/spectrum/RecordingSpectrum.h"
#include "Recordings.h"
#include "support/TempDir.h"
#include "support/WavBuilder.h"
#include "wav/AuxiChunk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <string>

using namespace sigtest;
using sigkit::RecordingSpectrum;
using sigkit::SpectrumRequest;
using sigkit::SpectrumStatus;
using sigkit::StationKind;

namespace {

// Samples of one channel, or interleaved I/Q, stored at a width (0: 32-bit float).
std::string Store(const std::vector<double>& values, int bits)
{
    std::string out;
    for (double v : values)
    {
        if (bits == 0)
        {
            const float f = static_cast<float>(v);
            uint32_t b = 0;
            std::memcpy(&b, &f, 4);
            PutU32(out, b);
            continue;
        }
        const double full = std::ldexp(1.0, bits - 1);
        const double q = std::clamp(std::nearbyint(v * full), -full, full - 1);
        const auto i = static_cast<int64_t>(q);
        if (bits == 8)
            out.push_back(static_cast<char>(i + 128));
        else
            for (int k = 0; k < bits / 8; ++k)
                out.push_back(static_cast<char>((i >> (8 * k)) & 0xFF));
    }
    return out;
}

std::string WavOf(const std::vector<double>& values, int channels, double rate, int bits,
                  const std::string& extra = "")
{
    const uint16_t width = bits == 0 ? 32 : static_cast<uint16_t>(bits);
    return RiffFile(Chunk("fmt ", FormatBody(bits == 0 ? 3 : 1, static_cast<uint16_t>(channels),
                                             static_cast<uint32_t>(rate), width)) +
                    extra + Chunk("data", Store(values, bits)));
}

int32_t PeakBin(const sigkit::Spectra& s)
{
    return static_cast<int32_t>(std::max_element(s.averageDb.begin(), s.averageDb.end()) -
                                s.averageDb.begin());
}

long PeakResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// A long recording made up as it is read: a 44-byte header, then 16-bit I/Q noise and a tone.
class MadeUpRecording final : public sigkit::ByteSource
{
public:
    explicit MadeUpRecording(uint64_t dataBytes)
        : header(PcmWav(2, 2400000, 16, "")), data(dataBytes)
    {
        const auto size = static_cast<uint32_t>(data);
        header.replace(40, 4,
                       std::string{static_cast<char>(size), static_cast<char>(size >> 8),
                                   static_cast<char>(size >> 16), static_cast<char>(size >> 24)});
    }
    int64_t ReadAt(void* buffer, std::size_t count, uint64_t offset) override
    {
        auto* out = static_cast<uint8_t*>(buffer);
        const uint64_t end = std::min<uint64_t>(offset + count, header.size() + data);
        for (uint64_t at = offset; at < end; ++at)
            out[at - offset] = at < header.size() ? static_cast<uint8_t>(header[at])
                                                  : static_cast<uint8_t>((at * 2654435761u) >> 13);
        return static_cast<int64_t>(end > offset ? end - offset : 0);
    }
    uint64_t Length() override { return header.size() + data; }
    bool Seekable() const override { return true; }

private:
    std::string header;
    uint64_t data;
};

} // namespace

TEST(RecordingSpectrum, ExampleRecordingShowsItsTwoStationsWithTheirKinds)
{
    RecordingSpectrum rec;
    ASSERT_EQ(sigkit::AnalyseRecording(SIGKIT_EXAMPLE_WAV, SpectrumRequest{}, rec),
              SpectrumStatus::Done);
    EXPECT_EQ(rec.name, "example_iq.wav");
    EXPECT_TRUE(rec.complex);
    EXPECT_EQ(rec.rate, 48000.0);
    EXPECT_NEAR(rec.durationSeconds, 3.0, 1e-9);
    EXPECT_FALSE(rec.metadata.centreHz.has_value());
    EXPECT_EQ(rec.spectra.columns, rec.layout.plotWidth);
    EXPECT_EQ(rec.spectra.rows, rec.layout.waterfallHeight);
    const sigkit::StationList list = sigkit::RecordingStations(rec);
    SCOPED_TRACE(sigkit::StationsText(list, std::nullopt, rec.name));
    ASSERT_EQ(list.stations.size(), 2u);
    const double bin = rec.spectra.BinWidthHz();
    EXPECT_NEAR(list.stations[0].offsetHz, 10000.0, bin);
    EXPECT_EQ(list.stations[0].kind, StationKind::Am);
    EXPECT_NEAR(list.stations[0].bandwidthHz, 2000.0, 400.0);
    EXPECT_NEAR(list.stations[1].offsetHz, -12000.0, bin);
    EXPECT_EQ(list.stations[1].kind, StationKind::Fm);
    EXPECT_NEAR(list.stations[1].bandwidthHz, FmBandwidth(3000.0, 700.0),
                0.2 * FmBandwidth(3000.0, 700.0));
}

TEST(RecordingSpectrum, EverySampleFormatReadsAtFullScale)
{
    TempDir dir;
    const double rate = 32000.0;
    const double f = 4000.0; // on a bin centre for every transform size chosen here
    for (int bits : {8, 16, 24, 32, 0})
        for (int channels : {1, 2})
        {
            SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(channels) + " ch");
            std::vector<double> v;
            for (int n = 0; n < 32000; ++n)
            {
                const double phase = kTwoPi * f * n / rate;
                if (channels == 1)
                    v.push_back(0.5 * std::cos(phase));
                else
                {
                    v.push_back(0.5 * std::cos(phase));
                    v.push_back(0.5 * std::sin(phase));
                }
            }
            const std::string path = dir.File("tone.wav");
            WriteFileBytes(path, WavOf(v, channels, rate, bits));
            RecordingSpectrum rec;
            ASSERT_EQ(sigkit::AnalyseRecording(path.c_str(), SpectrumRequest{}, rec),
                      SpectrumStatus::Done);
            EXPECT_EQ(rec.complex, channels == 2);
            const int32_t peak = PeakBin(rec.spectra);
            EXPECT_EQ(rec.spectra.BinHz(peak), f);
            // 8 bits hold 0.5 as 64/128 exactly; quantisation noise is far below.
            EXPECT_NEAR(rec.spectra.averageDb[static_cast<std::size_t>(peak)], -6.02, 0.1);
        }
}

TEST(RecordingSpectrum, PartOfTheTimeAndBandAsAsked)
{
    TempDir dir;
    Recording r(4.0, 16000.0);
    const std::size_t half = r.Frames() / 2;
    for (std::size_t n = 0; n < r.Frames(); ++n)
    {
        const double f = n < half ? 2000.0 : -3000.0;
        r.iq[2 * n] = 0.3 * std::cos(kTwoPi * f * n / r.rate);
        r.iq[2 * n + 1] = 0.3 * std::sin(kTwoPi * f * n / r.rate);
    }
    const std::string path = dir.File("two.wav");
    WriteFileBytes(path, WavOf(r.iq, 2, r.rate, 16));
    SpectrumRequest request;
    request.startSeconds = 2.5;
    request.lengthSeconds = 1.0;
    RecordingSpectrum rec;
    ASSERT_EQ(sigkit::AnalyseRecording(path.c_str(), request, rec), SpectrumStatus::Done);
    EXPECT_EQ(rec.offsetSeconds, 2.5);
    EXPECT_EQ(rec.durationSeconds, 1.0);
    EXPECT_EQ(rec.spectra.framesPut, 16000u);
    EXPECT_EQ(rec.spectra.BinHz(PeakBin(rec.spectra)), -3000.0);
    EXPECT_LT(rec.spectra.averageDb[static_cast<std::size_t>(rec.spectra.BinAt(2000.0))], -60.0);

    // A band of 2 kHz around -3 kHz: every column its own bin or finer.
    request = {};
    request.spanCentreHz = -3000.0;
    request.spanWidthHz = 2000.0;
    ASSERT_EQ(sigkit::AnalyseRecording(path.c_str(), request, rec), SpectrumStatus::Done);
    EXPECT_EQ(rec.spectra.lowHz, -4000.0);
    EXPECT_EQ(rec.spectra.highHz, -2000.0);
    EXPECT_LE(rec.spectra.BinWidthHz(), 2000.0 / rec.spectra.columns);
    const sigkit::StationList list = sigkit::RecordingStations(rec);
    ASSERT_EQ(list.stations.size(), 1u);
    EXPECT_NEAR(list.stations[0].offsetHz, -3000.0, rec.spectra.BinWidthHz());
}

TEST(RecordingSpectrum, MetadataFromTheFileItsNameOrTheRequest)
{
    TempDir dir;
    Recording r(0.5, 8000.0);
    r.Carrier(1000.0, 0.1);
    sigkit::Metadata m;
    m.centreHz = 14074000.0;
    const std::vector<uint8_t> auxi = sigkit::ComposeAuxi(m);
    const std::string withAuxi =
        WavOf(r.iq, 2, r.rate, 16, Chunk("auxi", std::string(auxi.begin(), auxi.end())));
    WriteFileBytes(dir.File("R_20240101_120000Z_7100kHz.wav"), withAuxi);
    WriteFileBytes(dir.File("R_20240101_120000Z_7100kHz_IQ.wav"), WavOf(r.iq, 2, r.rate, 16));
    WriteFileBytes(dir.File("plain.wav"), WavOf(r.iq, 2, r.rate, 16));

    SpectrumRequest request;
    request.centreHz = 3500000.0;
    request.startTime = 5 * sigkit::kNanosecondsPerSecond;
    RecordingSpectrum rec;
    ASSERT_EQ(
        sigkit::AnalyseRecording(dir.File("R_20240101_120000Z_7100kHz.wav").c_str(), request, rec),
        SpectrumStatus::Done);
    EXPECT_EQ(rec.metadata.centreHz.value(), 14074000.0); // the chunk first
    EXPECT_EQ(rec.metadata.startFrom, sigkit::MetadataSource::FileName);
    ASSERT_EQ(sigkit::AnalyseRecording(dir.File("R_20240101_120000Z_7100kHz_IQ.wav").c_str(),
                                       request, rec),
              SpectrumStatus::Done);
    EXPECT_EQ(rec.metadata.centreHz.value(), 7100000.0); // then the name
    ASSERT_EQ(sigkit::AnalyseRecording(dir.File("plain.wav").c_str(), request, rec),
              SpectrumStatus::Done);
    EXPECT_EQ(rec.metadata.centreHz.value(), 3500000.0); // then the request
    EXPECT_EQ(rec.metadata.centreFrom, sigkit::MetadataSource::Given);
    EXPECT_EQ(rec.metadata.startTime.value(), 5 * sigkit::kNanosecondsPerSecond);
}

TEST(RecordingSpectrum, StreamOfUnknownLengthFindsTheSameStations)
{
    Recording r(3.0);
    r.Am(6000.0, 0.1, 0.5, 800.0);
    r.Carrier(-9000.0, 0.02);
    r.Noise(0.0005, 8);
    std::string bytes = WavOf(r.iq, 2, r.rate, 16);
    const std::size_t sizeAt = bytes.find("data") + 4;
    bytes.replace(sizeAt, 4, std::string(4, '\xFF')); // length not known

    struct Reader
    {
        const std::string& bytes;
        std::size_t at = 0;
    } reader{bytes};
    const auto read = [](void* context, void* buffer, std::size_t count) -> int64_t {
        auto& rd = *static_cast<Reader*>(context);
        const std::size_t n = std::min(count, rd.bytes.size() - rd.at);
        std::memcpy(buffer, rd.bytes.data() + rd.at, n);
        rd.at += n;
        return static_cast<int64_t>(n);
    };
    RecordingSpectrum rec;
    ASSERT_EQ(sigkit::AnalyseRecording(std::make_unique<sigkit::StreamSource>(read, &reader),
                                       "stdin", SpectrumRequest{}, rec),
              SpectrumStatus::Done);
    EXPECT_EQ(rec.framesInFile, 0u);
    EXPECT_EQ(rec.spectra.framesPut, r.Frames());
    EXPECT_GE(rec.spectra.rows, rec.layout.waterfallHeight / 2);
    const sigkit::StationList list = sigkit::RecordingStations(rec);
    ASSERT_EQ(list.stations.size(), 2u);
    EXPECT_EQ(list.stations[0].kind, StationKind::Am);
    EXPECT_EQ(list.stations[1].kind, StationKind::Carrier);
}

TEST(RecordingSpectrum, RequestsAndFilesThatCannotBeServed)
{
    TempDir dir;
    Recording r(0.5, 8000.0);
    r.Carrier(1000.0, 0.1);
    WriteFileBytes(dir.File("ok.wav"), WavOf(r.iq, 2, r.rate, 16));
    WriteFileBytes(dir.File("three.wav"), WavOf(r.iq, 3, r.rate, 16));
    WriteFileBytes(dir.File("alaw.wav"), PcmWav(1, 8000, 8, std::string(100, 'x'), 6));
    RecordingSpectrum rec;
    const auto status = [&](const std::string& name, const SpectrumRequest& request) {
        return sigkit::AnalyseRecording(dir.File(name).c_str(), request, rec);
    };
    EXPECT_EQ(status("missing.wav", {}), SpectrumStatus::CannotOpen);
    EXPECT_EQ(status("three.wav", {}), SpectrumStatus::NotReadable);
    EXPECT_EQ(status("alaw.wav", {}), SpectrumStatus::NotReadable);
    SpectrumRequest request;
    request.fftSize = 1000;
    EXPECT_EQ(status("ok.wav", request), SpectrumStatus::BadRequest);
    request = {};
    request.spanCentreHz = 3500.0;
    request.spanWidthHz = 2000.0; // reaches beyond +4 kHz
    EXPECT_EQ(status("ok.wav", request), SpectrumStatus::BadRequest);
    request = {};
    request.startSeconds = 0.6;
    EXPECT_EQ(status("ok.wav", request), SpectrumStatus::NothingToShow);
    request.startSeconds = -1.0;
    EXPECT_EQ(status("ok.wav", request), SpectrumStatus::BadRequest);
    request = {};
    request.fftSize = 8192; // longer than the recording: one transform, padded
    EXPECT_EQ(status("ok.wav", request), SpectrumStatus::Done);
    EXPECT_EQ(rec.spectra.transforms, 1u);
}

TEST(RecordingSpectrum, MemoryDoesNotGrowWithTheRecording)
{
    // 512 MiB of I/Q made up as it is read: the analysis keeps its fixed window and arrays.
    const uint64_t bytes = uint64_t{512} << 20;
    RecordingSpectrum warmUp;
    ASSERT_EQ(sigkit::AnalyseRecording(std::make_unique<MadeUpRecording>(1 << 20), "small",
                                       SpectrumRequest{}, warmUp),
              SpectrumStatus::Done);
    const long before = PeakResidentKiB();
    RecordingSpectrum rec;
    ASSERT_EQ(sigkit::AnalyseRecording(std::make_unique<MadeUpRecording>(bytes), "large",
                                       SpectrumRequest{}, rec),
              SpectrumStatus::Done);
    const long after = PeakResidentKiB();
    EXPECT_EQ(rec.spectra.framesPut, bytes / 4);
    ASSERT_GT(before, 0);
    EXPECT_LT(after - before, 16 * 1024) << before << " KiB before, " << after << " after";
}
