// sigrun --spectrum, --stations, -F, --centre and --start as a user runs them: pictures decoded
// through libpng and checked by their pixels, station lists of generated recordings, absolute
// frequencies and out-of-band refusals, and the auxi chunk carried through every mode with its
// centre moved by the shift and its start by the dropped start-up.
#include "dsp/spectrum/SpectrumPicture.h"
#include "sigkit_api.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/WavBuilder.h"
#include "wav/AuxiChunk.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace sigtest;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRate = 48000.0;

struct Tone
{
    double hz;
    double amplitude; // of full scale
    double amDepth = 0.0;
    double fmDeviation = 0.0;
};

// I/Q, 16 bits, the tones over a little noise.
std::string IqSamples(std::size_t frames, const std::vector<Tone>& tones)
{
    std::vector<int32_t> x(2 * frames);
    uint32_t noise = 12345;
    std::vector<double> phase(tones.size(), 0.0);
    for (std::size_t n = 0; n < frames; ++n)
    {
        const double t = static_cast<double>(n) / kRate;
        double i = 0, q = 0;
        for (std::size_t k = 0; k < tones.size(); ++k)
        {
            const Tone& tone = tones[k];
            const double envelope =
                tone.amplitude * (1.0 + tone.amDepth * std::cos(2 * kPi * 700 * t));
            phase[k] +=
                2 * kPi * (tone.hz + tone.fmDeviation * std::cos(2 * kPi * 500 * t)) / kRate;
            i += envelope * std::cos(phase[k]);
            q += envelope * std::sin(phase[k]);
        }
        noise = noise * 1664525u + 1013904223u;
        const double jitter = (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * 2e-4;
        x[2 * n] = static_cast<int32_t>(std::lrint((i + jitter) * 32767.0));
        x[2 * n + 1] = static_cast<int32_t>(std::lrint((q - jitter) * 32767.0));
    }
    return StoreSamples(x, 16);
}

void PutTime(std::string& out, int year, int month, int dayOfWeek, int day, int hour, int minute,
             int second, int ms)
{
    for (int v : {year, month, dayOfWeek, day, hour, minute, second, ms})
        PutU16(out, static_cast<uint16_t>(v));
}

// A recorder's auxi body: started 2024-03-15 13:45:30.250 UTC, centred on 7.1 MHz, IF 455 kHz.
std::string RecorderAuxi()
{
    std::string body;
    PutTime(body, 2024, 3, 5, 15, 13, 45, 30, 250);
    PutTime(body, 2024, 3, 5, 15, 13, 45, 32, 250);
    PutU32(body, 7100000);
    PutU32(body, 48000);  // A/D
    PutU32(body, 455000); // IF
    PutU32(body, 48000);  // bandwidth
    for (int k = 0; k < 5; ++k)
        PutU32(body, 0);
    return body;
}

constexpr double kAuxiStart = 1710510330.25; // 2024-03-15 13:45:30.250 UTC

std::string IqFile(const std::string& samples, bool withAuxi)
{
    return RiffFile(Chunk("fmt ", FormatBody(1, 2, 48000, 16)) +
                    (withAuxi ? Chunk("auxi", RecorderAuxi()) : std::string()) +
                    Chunk("data", samples));
}

// The metadata of a file's auxi chunk; nothing when it has none.
sigkit::Metadata AuxiOf(const std::string& bytes, bool& found)
{
    found = false;
    for (std::size_t at = 12; at + 8 <= bytes.size();)
    {
        const std::string id = bytes.substr(at, 4);
        const uint32_t size = GetU32(bytes, at + 4);
        if (id == "auxi" && at + 8 + size <= bytes.size())
        {
            found = true;
            return sigkit::ReadAuxi(reinterpret_cast<const uint8_t*>(bytes.data() + at + 8), size,
                                    size);
        }
        if (id == "data")
            break;
        at += 8 + size + (size & 1u);
    }
    return {};
}

struct Decoded
{
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgb;
    int Brightness(int32_t x, int32_t y) const
    {
        const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 3;
        return rgb[at] + rgb[at + 1] + rgb[at + 2];
    }
};

Decoded DecodePng(const std::string& bytes)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    Decoded out;
    if (png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()) == 0)
        return out;
    image.format = PNG_FORMAT_RGB;
    out.rgb.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr) == 0)
    {
        png_image_free(&image);
        out.rgb.clear();
        return out;
    }
    out.width = static_cast<int32_t>(image.width);
    out.height = static_cast<int32_t>(image.height);
    return out;
}

// The brightest column of the waterfall's middle row, as a frequency offset.
double BrightestOffset(const Decoded& picture, const sigkit::PictureLayout& layout)
{
    const int32_t y = layout.waterfallTop + layout.waterfallHeight / 2;
    int32_t best = layout.plotLeft;
    for (int32_t x = layout.plotLeft; x < layout.plotLeft + layout.plotWidth; ++x)
        if (picture.Brightness(x, y) > picture.Brightness(best, y))
            best = x;
    return -kRate / 2 + (best - layout.plotLeft + 0.5) / layout.plotWidth * kRate;
}

// The numbers that follow each `"key": ` in a JSON text.
std::vector<double> JsonNumbers(const std::string& json, const std::string& key)
{
    std::vector<double> values;
    const std::string marker = "\"" + key + "\": ";
    for (std::size_t at = json.find(marker); at != std::string::npos;
         at = json.find(marker, at + 1))
        values.push_back(std::strtod(json.c_str() + at + marker.size(), nullptr));
    return values;
}

bool Near(const std::vector<double>& values, double wanted, double tolerance)
{
    return std::any_of(values.begin(), values.end(),
                       [&](double v) { return std::fabs(v - wanted) <= tolerance; });
}

class Recording : public ::testing::Test
{
protected:
    std::string Write(const std::string& name, const std::string& bytes)
    {
        const std::string path = dir.File(name);
        WriteFileBytes(path, bytes);
        return path;
    }

    TempDir dir;
};

// --- pictures
// -------------------------------------------------------------------------------------

TEST_F(Recording, PictureShowsToneRightOfCentreAndToneLeftOfIt)
{
    const sigkit::PictureLayout layout = sigkit::LayOutPicture(800, 500);
    for (double f : {9000.0, -9000.0, 15000.0})
    {
        const std::string in = Write("tone.wav", IqFile(IqSamples(48000, {{f, 0.3}}), false));
        const ProcessResult r = RunSigrun({"--spectrum", "-Q", "--size", "800x500", in}, "");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
        const Decoded picture = DecodePng(ReadFileBytes(dir.File("tone_spectrum.png")));
        ASSERT_EQ(picture.width, 800);
        ASSERT_EQ(picture.height, 500);
        EXPECT_NEAR(BrightestOffset(picture, layout), f, 2.0 * kRate / layout.plotWidth) << f;
    }
}

TEST_F(Recording, PictureToStandardOutputToAFolderAndUnderAName)
{
    const std::string in = Write("rec.wav", IqFile(IqSamples(24000, {{5000, 0.3}}), true));
    const ProcessResult piped = RunSigrun({"--spectrum", "--png", "-", in}, "");
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(DecodePng(piped.out).width, 1200);

    std::filesystem::create_directories(dir.File("pictures"));
    const ProcessResult folder =
        RunSigrun({"--spectrum", "-Q", "-o", dir.File("pictures"), in}, "");
    ASSERT_EQ(folder.status, 0) << folder.err;
    EXPECT_TRUE(FileExists(dir.File("pictures/rec_spectrum.png")));

    const ProcessResult named =
        RunSigrun({"--spectrum", "-Q", "--png", dir.File("x.png"), "--span", "5k:4k", in}, "");
    ASSERT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(DecodePng(ReadFileBytes(dir.File("x.png"))).height, 800);
    EXPECT_FALSE(FileExists(dir.File("rec_spectrum.png")));
}

TEST_F(Recording, PictureOptionsRefusedAsUsageErrors)
{
    const std::string in = Write("rec.wav", IqFile(IqSamples(24000, {{5000, 0.3}}), false));
    const std::string other = Write("other.wav", IqFile(IqSamples(24000, {{5000, 0.3}}), false));
    const std::vector<std::vector<std::string>> refused = {
        {"--spectrum", "--size", "100x100", in},
        {"--spectrum", "--fft", "1000", in},
        {"--spectrum", "--db", "0:-10", in},
        {"--spectrum", "--span", "20k:10k", in}, // reaches past +24 kHz
        {"--spectrum", "--time", "5:1", in},     // starts after the end
        {"--spectrum", "--png", "-", in, other},
        {"--stations", "--size", "800x600", in},
        {"--info", "--span", "0:10k", in},
        {"--stations", "--span", "-20k:10k", in}, // reaches past -24 kHz
        {"--spectrum", "--json", in},
        {"--spectrum", "-m", "invert", in},
    };
    for (const auto& args : refused)
    {
        const ProcessResult r = RunSigrun(args, "");
        EXPECT_EQ(r.status, 1) << args[1] << " " << args[2];
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(FileExists(dir.File("rec_spectrum.png")));
}

// --- stations
// -------------------------------------------------------------------------------------

TEST_F(Recording, StationsOfAGeneratedRecordingAtTheirRadioFrequencies)
{
    // A steady carrier, an AM station and an FM one, two seconds, the recorder's centre 7.1 MHz.
    const std::vector<Tone> tones = {{12000, 0.05}, {-6000, 0.2, 0.6, 0.0}, {3000, 0.1, 0.0, 2500}};
    const std::string in = Write("stations.wav", IqFile(IqSamples(96000, tones), true));
    const ProcessResult json = RunSigrun({"--stations", "--json", in}, "");
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.err, "");
    const double bin = JsonNumbers(json.out, "bin_hz").at(0);
    const std::vector<double> frequencies = JsonNumbers(json.out, "frequency_hz");
    ASSERT_EQ(frequencies.size(), 3u) << json.out;
    for (const Tone& tone : tones)
        EXPECT_TRUE(Near(frequencies, 7100000 + tone.hz, bin)) << tone.hz << "\n" << json.out;
    EXPECT_NE(json.out.find("\"kind\": \"AM\""), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"kind\": \"FM\""), std::string::npos) << json.out;

    const ProcessResult text = RunSigrun({"--stations", in}, "");
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(std::count(text.out.begin(), text.out.end(), '\n'), 4) << text.out;
    EXPECT_NE(text.out.find("7.11200 MHz"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("7.09400 MHz"), std::string::npos) << text.out;

    // Without a centre: offsets, signed.
    const std::string plain = Write("plain.wav", IqFile(IqSamples(96000, tones), false));
    const ProcessResult offsets = RunSigrun({"--stations", plain}, "");
    ASSERT_EQ(offsets.status, 0) << offsets.err;
    EXPECT_NE(offsets.out.find("offsets from the centre"), std::string::npos) << offsets.out;
    EXPECT_NE(offsets.out.find("-6"), std::string::npos) << offsets.out;
    // Within a band: the stations there only.
    const ProcessResult band = RunSigrun({"--stations", "--json", "--span", "-6k:4k", in}, "");
    ASSERT_EQ(band.status, 0) << band.err;
    EXPECT_EQ(JsonNumbers(band.out, "offset_hz").size(), 1u) << band.out;
    // Several inputs as JSON: one array.
    const ProcessResult both = RunSigrun({"--stations", "--json", in, plain}, "");
    ASSERT_EQ(both.status, 0) << both.err;
    EXPECT_EQ(both.out.front(), '[');
    EXPECT_EQ(JsonNumbers(both.out, "offset_hz").size(), 6u) << both.out;
}

// --- metadata ------------------------------------------------------------------------------------

TEST_F(Recording, InfoShowsTheCentreAndStartFromTheAuxiChunkOrTheName)
{
    const std::string samples = IqSamples(4800, {{1000, 0.2}});
    const std::string auxi = Write("auxi.wav", IqFile(samples, true));
    const std::string named = Write("rec_20240101_120000Z_14074kHz_IQ.wav", IqFile(samples, false));
    const std::string plain = Write("plain.wav", IqFile(samples, false));
    const ProcessResult r = RunSigrun({"-i", auxi, named, plain}, "");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("4800 samples, centre 7.1 MHz, start 2024-03-15 13:45:30.250 UTC\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("centre 14.074 MHz, start 2024-01-01 12:00:00 UTC\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("plain.wav: integer PCM, 16 bits, 2 channels (I/Q), 48000 Hz, 0.100 s, "
                         "4800 samples\n"),
              std::string::npos)
        << r.out;
}

TEST_F(Recording, AbsoluteFrequencyNeedsACentreAndFrequenciesMustLieInTheRecording)
{
    const std::string samples = IqSamples(9600, {{-10000, 0.2}});
    const std::string plain = Write("plain.wav", IqFile(samples, false));
    const std::string auxi = Write("auxi.wav", IqFile(samples, true));
    const std::vector<std::string> convert = {"-Q", "-m", "convert", "-b", "5k", "-a", "1"};
    auto run = [&](std::vector<std::string> extra, const std::string& in) {
        std::vector<std::string> args = convert;
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(in);
        return RunSigrun(args, "");
    };

    // No centre known: a usage error naming the input and --centre; nothing written.
    ProcessResult r = run({"-F", "7.09M"}, plain);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("plain.wav"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--centre"), std::string::npos) << r.err;
    EXPECT_FALSE(FileExists(dir.File("plain_if.wav")));

    // -F and -f together, -F with a mode without frequency, a frequency outside the recording.
    EXPECT_EQ(run({"-F", "7.09M", "-f", "1k"}, auxi).status, 1);
    EXPECT_EQ(RunSigrun({"-m", "invert", "-F", "7.09M", auxi}, "").status, 1);
    for (const std::vector<std::string>& outside : {std::vector<std::string>{"-F", "7.2M"},
                                                    {"-F", "7.075M"},
                                                    {"-f", "24001"},
                                                    {"-f", "-30k"},
                                                    {"-F", "7.15M", "--centre", "7.1M"}})
    {
        r = run(outside, outside.size() > 2 ? plain : auxi);
        EXPECT_EQ(r.status, 1) << outside[1];
        EXPECT_NE(r.err.find("outside"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(FileExists(dir.File("auxi_if.wav")));
    EXPECT_FALSE(FileExists(dir.File("plain_if.wav")));

    // The edge of the band is in it; -F from the auxi chunk, and from --centre.
    EXPECT_EQ(run({"-f", "-24k"}, plain).status, 0);
    r = run({"-F", "7.09M"}, auxi);
    ASSERT_EQ(r.status, 0) << r.err;
    bool found = false;
    sigkit::Metadata m = AuxiOf(ReadFileBytes(dir.File("auxi_if.wav")), found);
    ASSERT_TRUE(found);
    EXPECT_EQ(m.centreHz.value_or(0), 7090000.0);
    r = run({"-F", "7.09M", "--centre", "7.1M", "-o", dir.File("given.wav")}, plain);
    ASSERT_EQ(r.status, 0) << r.err;
    m = AuxiOf(ReadFileBytes(dir.File("given.wav")), found);
    ASSERT_TRUE(found);
    EXPECT_EQ(m.centreHz.value_or(0), 7090000.0);
    EXPECT_FALSE(m.startTime.has_value());
    // The tone at -10 kHz is now at 0 Hz: the output is the same as with -f -10k.
    ASSERT_EQ(run({"-f", "-10k", "-o", dir.File("offset.wav")}, plain).status, 0);
    EXPECT_EQ(ParseWav(ReadFileBytes(dir.File("given.wav"))).data,
              ParseWav(ReadFileBytes(dir.File("offset.wav"))).data);
}

// The output's first frame against the input's, in input frames, as the library reports it.
double DroppedFrames(int kind, const sigkit_config& shape, double outputRate)
{
    sigkit_config config = shape;
    config.kind = kind;
    sigkit_processor* p = nullptr;
    double latency = 0;
    EXPECT_EQ(sigkit_create(&config, &p), SIGKIT_OK);
    EXPECT_EQ(sigkit_latency(p, &latency), SIGKIT_OK);
    sigkit_destroy(p);
    return -latency * kRate / outputRate;
}

TEST_F(Recording, AuxiFollowsEveryModeWithTheCentreShiftedAndTheStartMoved)
{
    const std::string in = Write("rec.wav", IqFile(IqSamples(24000, {{4000, 0.3, 0.5}}), true));
    struct Case
    {
        std::vector<std::string> args;
        const char* suffix;
        int kind;
        double shift;
        double outRate;
        double frequency;
        double band;
    };
    const std::vector<Case> cases = {
        {{"-m", "iq"}, "_iq2r.wav", SIGKIT_KIND_IQ2R, -24000, 96000, 0, 0},
        {{"-m", "resample", "-f", "5k", "-r", "12k", "-a", "1"},
         "_resampl.wav",
         SIGKIT_KIND_RESAMPLE,
         5000,
         12000,
         5000,
         0},
        {{"-m", "convert", "-f", "-8k", "-b", "10k", "-a", "1", "-q", "low"},
         "_if.wav",
         SIGKIT_KIND_CONVERT,
         -8000,
         48000,
         -8000,
         10000},
        {{"-m", "invert"}, "_inv.wav", SIGKIT_KIND_INVERT, 0, 48000, 0, 0},
        {{"-m", "am-classic", "-f", "4k", "-r", "12k", "-a", "1"},
         "_amdem.wav",
         SIGKIT_KIND_AM_CLASSIC,
         4000,
         12000,
         4000,
         0},
        {{"-m", "fm-classic", "-F", "7.104M", "-r", "24k", "-a", "1"},
         "_fmdem.wav",
         SIGKIT_KIND_FM_CLASSIC,
         4000,
         24000,
         4000,
         0},
    };
    for (const Case& c : cases)
    {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "-Q");
        args.push_back(in);
        const ProcessResult r = RunSigrun(args, "");
        ASSERT_EQ(r.status, 0) << c.suffix << r.err;
        bool found = false;
        const sigkit::Metadata m =
            AuxiOf(ReadFileBytes(dir.File(std::string("rec") + c.suffix)), found);
        ASSERT_TRUE(found) << c.suffix;
        EXPECT_EQ(m.centreHz.value_or(0), 7100000 + c.shift) << c.suffix;
        EXPECT_EQ(m.fields.ifFrequency, 455000u) << c.suffix;

        sigkit_config shape{};
        sigkit_config_init(&shape, c.kind);
        shape.input_rate = kRate;
        shape.frequency = c.frequency;
        shape.band = c.band;
        shape.output_rate = c.kind == SIGKIT_KIND_IQ2R || c.kind == SIGKIT_KIND_INVERT ||
                                    c.kind == SIGKIT_KIND_CONVERT
                                ? 0
                                : c.outRate;
        shape.quality = c.args.back() == "low" ? SIGKIT_QUALITY_LOW : SIGKIT_QUALITY_HIGH;
        const double start = kAuxiStart + DroppedFrames(c.kind, shape, c.outRate) / kRate;
        ASSERT_TRUE(m.startTime.has_value()) << c.suffix;
        // The chunk keeps milliseconds.
        EXPECT_NEAR(static_cast<double>(*m.startTime) / 1e9, start, 0.0006) << c.suffix;
    }
}

TEST_F(Recording, AuxiFollowsTheNewModesWithTheCentreAtTheirZeroHertz)
{
    // The receivers and the channel bring -f to 0 Hz; the rate changer moves nothing; all keep
    // their outputs aligned, so the start stays. Standard output carries no chunk.
    const std::string in = Write("rec.wav", IqFile(IqSamples(24000, {{4000, 0.3, 0.5}}), true));
    const std::vector<std::pair<std::vector<std::string>, double>> cases = {
        {{"-m", "channel", "-f", "4k", "-b", "6k", "-o", "ch.wav"}, 4000},
        {{"-m", "usb", "-F", "7.104M", "-o", "usb.wav"}, 4000},
        {{"-m", "am", "-f", "-4k", "-e", "f32", "-o", "am.wav"}, -4000},
        {{"-m", "rate", "-r", "24k", "-o", "rate.wav"}, 0},
    };
    for (const auto& [given, shift] : cases)
    {
        std::vector<std::string> args = given;
        args.back() = dir.File(args.back());
        args.insert(args.begin(), "-Q");
        args.push_back(in);
        const ProcessResult r = RunSigrun(args, "");
        ASSERT_EQ(r.status, 0) << given[1] << r.err;
        bool found = false;
        const sigkit::Metadata m = AuxiOf(ReadFileBytes(args[args.size() - 2]), found);
        ASSERT_TRUE(found) << given[1];
        EXPECT_EQ(m.centreHz.value_or(0), 7100000 + shift) << given[1];
        ASSERT_TRUE(m.startTime.has_value()) << given[1];
        EXPECT_NEAR(static_cast<double>(*m.startTime) / 1e9, kAuxiStart, 0.0006) << given[1];
    }
    // --centre where the input tells none.
    const std::string plain = Write("plain.wav", IqFile(IqSamples(24000, {{4000, 0.3}}), false));
    ASSERT_EQ(
        RunSigrun(
            {"-Q", "-m", "fm", "-f", "4k", "--centre", "145M", "-o", dir.File("fm.wav"), plain}, "")
            .status,
        0);
    bool found = false;
    const sigkit::Metadata m = AuxiOf(ReadFileBytes(dir.File("fm.wav")), found);
    ASSERT_TRUE(found);
    EXPECT_EQ(m.centreHz.value_or(0), 145004000.0);
    EXPECT_FALSE(m.startTime.has_value());
}

TEST_F(Recording, OutputsOfInputsWithoutMetadataHaveNoAuxiChunk)
{
    const std::string in = Write("rec.wav", IqFile(IqSamples(9600, {{4000, 0.3}}), false));
    ASSERT_EQ(RunSigrun({"-Q", "-m", "convert", "-f", "1k", "-b", "8k", "-a", "1", in}, "").status,
              0);
    bool found = true;
    AuxiOf(ReadFileBytes(dir.File("rec_if.wav")), found);
    EXPECT_FALSE(found);
    // --start alone gives one, with the start and no centre.
    ASSERT_EQ(RunSigrun({"-Q", "-m", "invert", "--start", "2024-01-02T03:04:05Z", in}, "").status,
              0);
    const sigkit::Metadata m = AuxiOf(ReadFileBytes(dir.File("rec_inv.wav")), found);
    ASSERT_TRUE(found);
    EXPECT_FALSE(m.centreHz.has_value());
    ASSERT_TRUE(m.startTime.has_value());
    EXPECT_NEAR(static_cast<double>(*m.startTime) / 1e9, 1704164645.0, 0.002);
    // A start given for an input without one moves by the frames the processing drops too.
    ASSERT_EQ(RunSigrun({"-Q", "-m", "resample", "-f", "1k", "-r", "12k", "-a", "1", "--start",
                         "2024-01-02T03:04:05Z", in},
                        "")
                  .status,
              0);
    const sigkit::Metadata r = AuxiOf(ReadFileBytes(dir.File("rec_resampl.wav")), found);
    ASSERT_TRUE(found);
    ASSERT_TRUE(r.startTime.has_value());
    sigkit_config shape{};
    sigkit_config_init(&shape, SIGKIT_KIND_RESAMPLE);
    shape.input_rate = kRate;
    shape.frequency = 1000;
    shape.output_rate = 12000;
    const double dropped = DroppedFrames(SIGKIT_KIND_RESAMPLE, shape, 12000) / kRate;
    ASSERT_GT(std::fabs(dropped), 0.01);
    // The chunk keeps milliseconds.
    EXPECT_NEAR(static_cast<double>(*r.startTime - 1704164645000000000LL) / 1e9, dropped, 0.001);
}

// --- hostile files ------------------------------------------------------------------------------

TEST_F(Recording, HostileFilesGiveAPictureAListOrOneClearLine)
{
    const std::string samples = IqSamples(3000, {{2000, 0.3}});
    const std::string fmt = Chunk("fmt ", FormatBody(1, 2, 8000, 16));
    std::string badAuxi = RecorderAuxi();
    badAuxi[2] = '\x7f'; // month 32639
    const std::vector<std::pair<std::string, std::string>> files = {
        {"empty", ""},
        {"cut-header", IqFile(samples, true).substr(0, 30)},
        {"no-data", RiffFile(fmt)},
        {"one-frame", RiffFile(fmt + Chunk("data", samples.substr(0, 4)))},
        {"odd-data", RiffFile(fmt + Chunk("data", samples.substr(0, 4001)))},
        {"data-2GiB", RiffFile(fmt + ChunkDeclared("data", 0x80000000u, samples))},
        {"auxi-huge", RiffFile(fmt + ChunkDeclared("auxi", 0xFFFFFFF0u, RecorderAuxi()) +
                               Chunk("data", samples))},
        {"auxi-short",
         RiffFile(fmt + Chunk("auxi", RecorderAuxi().substr(0, 35)) + Chunk("data", samples))},
        {"auxi-bad-time", RiffFile(fmt + Chunk("auxi", badAuxi) + Chunk("data", samples))},
        {"channels-3",
         RiffFile(Chunk("fmt ", FormatBody(1, 3, 8000, 16)) + Chunk("data", samples))},
        {"rate-0", RiffFile(Chunk("fmt ", FormatBody(1, 2, 0, 16)) + Chunk("data", samples))},
        {"rate-1", RiffFile(Chunk("fmt ", FormatBody(1, 2, 1, 16)) + Chunk("data", samples))},
    };
    for (const auto& [name, bytes] : files)
    {
        const std::string in = Write(name + ".wav", bytes);
        for (const char* action : {"--spectrum", "--stations", "--info"})
        {
            const ProcessResult r = RunSigrun({"-Q", action, in}, "");
            EXPECT_TRUE(r.status == 0 || r.status == 2) << name << " " << action << r.err;
            if (r.status != 0)
            {
                EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << name << r.err;
            }
            else if (std::string(action) == "--spectrum")
            {
                EXPECT_GT(DecodePng(ReadFileBytes(dir.File(name + "_spectrum.png"))).width, 0)
                    << name;
            }
        }
        EXPECT_EQ(ReadFileBytes(in), bytes) << name;
    }
}

} // namespace
