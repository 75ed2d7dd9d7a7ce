// sigrun's rate, channel and receiver modes as a user runs them, on generated recordings: the
// tone that comes out, its level and frequency, the exact length, the usage errors that create
// nothing, and the output encodings of -e.
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/WavBuilder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using namespace sigtest;

namespace {

constexpr double kPi = 3.14159265358979323846;

// I/Q pairs of a signal given as a function of time, stored in 16 bits at `scale` of full scale.
template <typename Signal>
std::vector<int32_t> IqSamples(std::size_t pairs, double rate, double scale, Signal signal)
{
    std::vector<int32_t> x(2 * pairs);
    for (std::size_t n = 0; n < pairs; ++n)
    {
        const std::complex<double> v = signal(static_cast<double>(n) / rate);
        x[2 * n] = static_cast<int32_t>(std::lrint(v.real() * scale * 32767.0));
        x[2 * n + 1] = static_cast<int32_t>(std::lrint(v.imag() * scale * 32767.0));
    }
    return x;
}

// An output file's samples at full scale 1, whatever its encoding.
struct Audio
{
    WavInfo wav;
    std::vector<double> samples; // interleaved

    std::size_t Frames() const { return wav.channels == 0 ? 0 : samples.size() / wav.channels; }
};

Audio ReadAudio(const std::string& path)
{
    Audio a;
    a.wav = ParseWav(ReadFileBytes(path));
    if (!a.wav.ok)
        return a;
    if (a.wav.tag == 3)
    {
        for (std::size_t at = 0; at + 4 <= a.wav.data.size(); at += 4)
        {
            const uint32_t bits = GetU32(a.wav.data, at);
            float v = 0;
            std::memcpy(&v, &bits, sizeof v);
            a.samples.push_back(v);
        }
        return a;
    }
    a.samples = SampleValues(a.wav);
    const double scale = std::ldexp(1.0, a.wav.bits - 1);
    for (double& v : a.samples)
        v /= scale;
    return a;
}

// The amplitude of a tone of `hertz` in one channel, over the middle half of the file (clear of
// the filters' start and end), Hann windowed.
double ToneLevel(const Audio& a, double hertz, int channel = 0)
{
    const std::size_t frames = a.Frames();
    const std::size_t first = frames / 4;
    const std::size_t count = frames / 2;
    std::complex<double> sum = 0;
    double weights = 0;
    for (std::size_t k = 0; k < count; ++k)
    {
        const double w = 0.5 - 0.5 * std::cos(2 * kPi * static_cast<double>(k) / count);
        const std::size_t n = first + k;
        const double x = a.samples[n * a.wav.channels + channel];
        sum += w * x * std::polar(1.0, -2 * kPi * hertz * static_cast<double>(n) / a.wav.rate);
        weights += w;
    }
    return 2.0 * std::abs(sum) / weights;
}

// The complex amplitude of a tone in an I/Q output (negative hertz: below its centre).
double IqToneLevel(const Audio& a, double hertz)
{
    const std::size_t frames = a.Frames();
    const std::size_t first = frames / 4;
    const std::size_t count = frames / 2;
    std::complex<double> sum = 0;
    double weights = 0;
    for (std::size_t k = 0; k < count; ++k)
    {
        const double w = 0.5 - 0.5 * std::cos(2 * kPi * static_cast<double>(k) / count);
        const std::size_t n = first + k;
        const std::complex<double> x(a.samples[2 * n], a.samples[2 * n + 1]);
        sum += w * x * std::polar(1.0, -2 * kPi * hertz * static_cast<double>(n) / a.wav.rate);
        weights += w;
    }
    return std::abs(sum) / weights;
}

double Db(double ratio)
{
    return 20.0 * std::log10(ratio);
}

class KindModes : public ::testing::Test
{
protected:
    std::string Iq(const std::string& name, uint32_t rate, const std::vector<int32_t>& samples)
    {
        const std::string path = dir.File(name);
        WriteFileBytes(path, PcmWav(2, rate, 16, StoreSamples(samples, 16)));
        return path;
    }

    ProcessResult Run(std::vector<std::string> args, const std::string& input)
    {
        args.push_back(input);
        return RunSigrun(args, "");
    }

    std::size_t FileCount() const
    {
        std::size_t n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
            n += entry.is_regular_file() ? 1 : 0;
        return n;
    }

    TempDir dir;
};

constexpr uint32_t kRate = 48000;
constexpr std::size_t kPairs = 48000; // one second

// Two AM stations 1 kHz (the wanted one at 8 kHz, 50 %) and 700 Hz (10 kHz away, 10 dB
// stronger), a narrow FM station at -12 kHz with a 1 kHz tone at 2.5 kHz deviation, and an
// unmodulated carrier at -3 kHz for the side bands and CW.
std::vector<int32_t> Stations()
{
    return IqSamples(kPairs, kRate, 0.2, [](double t) {
        const auto tone = [t](double f) { return std::polar(1.0, 2 * kPi * f * t); };
        const std::complex<double> am =
            0.2 * (1.0 + 0.5 * std::cos(2 * kPi * 1000 * t)) * tone(8000);
        const std::complex<double> strong =
            0.63 * (1.0 + 0.5 * std::cos(2 * kPi * 700 * t)) * tone(18000);
        const double fmPhase = 2 * kPi * -12000 * t + 2.5 * std::sin(2 * kPi * 1000 * t);
        return am + strong + 0.3 * std::polar(1.0, fmPhase) + 0.1 * tone(-3000);
    });
}

TEST_F(KindModes, ReceiversGiveTheirToneAtTheirLevelAndTheExactLength)
{
    const std::string in = Iq("rec.wav", kRate, Stations());
    struct Case
    {
        std::vector<std::string> args;
        const char* output;
        uint32_t rate;
        double tone;  // Hz, the tone the station carries
        double level; // its expected amplitude, full scale 1
        double other; // Hz, a tone that must not come through (0: none)
    };
    const double kTop = std::pow(10.0, -1.0 / 20.0); // -1 dBFS
    const Case cases[] = {
        // 50 % modulation: half the level of 100 %, whatever the station's strength.
        {{"-m", "am", "-f", "8k", "-r", "12k"}, "rec_am.wav", 12000, 1000, 0.5 * kTop, 700},
        // 2.5 kHz deviation: half the level of 5 kHz.
        {{"-m", "fm", "-f", "-12k"}, "rec_fm.wav", 48000, 1000, 0.5 * kTop, 0},
        // The carrier at -3 kHz seen from 1 kHz below it (USB) and above it (LSB).
        {{"-m", "usb", "-f", "-4k", "-r", "16k"}, "rec_usb.wav", 16000, 1000, 0, 0},
        {{"-m", "lsb", "-f", "-2k", "-r", "16k"}, "rec_lsb.wav", 16000, 1000, 0, 0},
        // The carrier heard as the beat tone.
        {{"-m", "cw", "-f", "-3k", "-r", "8k"}, "rec_cw.wav", 8000, 700, 0, 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.output);
        std::vector<std::string> args = c.args;
        args.push_back("-Q");
        const ProcessResult r = Run(args, in);
        ASSERT_EQ(r.status, 0) << r.err;
        const Audio a = ReadAudio(dir.File(c.output));
        ASSERT_TRUE(a.wav.ok);
        EXPECT_EQ(a.wav.channels, 1);
        EXPECT_EQ(a.wav.bits, 16); // whatever the input's width
        EXPECT_EQ(a.wav.rate, c.rate);
        EXPECT_EQ(a.Frames(), kPairs * c.rate / kRate);
        const double level = ToneLevel(a, c.tone);
        if (c.level > 0)
        {
            EXPECT_NEAR(Db(level / c.level), 0.0, 1.0) << level;
        }
        else
        {
            EXPECT_GT(level, 0.3); // brought up by the gain control
        }
        // The tone dominates: an octave off and half a tone off are far below it.
        EXPECT_LT(Db(ToneLevel(a, c.tone * 1.5) / level), -40.0);
        if (c.other > 0)
        {
            EXPECT_LT(Db(ToneLevel(a, c.other) / level), -50.0) << "the neighbour comes through";
        }
    }
}

TEST_F(KindModes, SideBandsRejectTheOtherSide)
{
    const std::string in = Iq("rec.wav", kRate, Stations());
    // The carrier at -3 kHz lies 1 kHz below -2k: LSB hears it, USB must not.
    ASSERT_EQ(Run({"-Q", "-m", "usb", "-f", "-2k", "--agc", "off"}, in).status, 0);
    ASSERT_EQ(Run({"-Q", "-m", "lsb", "-f", "-2k", "--agc", "off"}, in).status, 0);
    const double wanted = ToneLevel(ReadAudio(dir.File("rec_lsb.wav")), 1000);
    const double other = ToneLevel(ReadAudio(dir.File("rec_usb.wav")), 1000);
    EXPECT_LT(Db(other / wanted), -50.0);
}

TEST_F(KindModes, BroadcastFmAtAHighRate)
{
    constexpr uint32_t rate = 240000;
    constexpr std::size_t pairs = rate / 2;
    // 37.5 kHz deviation (half of 75) with a 1 kHz tone, 10 kHz above the centre.
    const std::string in =
        Iq("wide.wav", rate, IqSamples(pairs, rate, 0.5, [](double t) {
               return std::polar(1.0, 2 * kPi * 10000 * t + 37.5 * std::sin(2 * kPi * 1000 * t));
           }));
    const ProcessResult r = Run({"-Q", "-m", "wfm", "-f", "10k", "-e", "f32"}, in);
    ASSERT_EQ(r.status, 0) << r.err;
    const Audio a = ReadAudio(dir.File("wide_wfm.wav"));
    EXPECT_EQ(a.wav.tag, 3);
    EXPECT_EQ(a.wav.rate, 48000u);
    EXPECT_EQ(a.Frames(), pairs * 48000 / rate);
    // Half the full deviation, less the 50 us de-emphasis at 1 kHz.
    const double deemphasis = 1.0 / std::hypot(1.0, 2 * kPi * 1000 * 50e-6);
    EXPECT_NEAR(Db(ToneLevel(a, 1000) / (0.5 * std::pow(10.0, -0.05) * deemphasis)), 0.0, 1.0);

    // Without de-emphasis the tone is louder by what the filter took.
    ASSERT_EQ(Run({"-Q", "-m", "wfm", "-f", "10k", "--deemph", "0", "-e", "f32", "-o",
                   dir.File("flat.wav")},
                  in)
                  .status,
              0);
    EXPECT_NEAR(Db(ToneLevel(ReadAudio(dir.File("flat.wav")), 1000) / ToneLevel(a, 1000)),
                -Db(deemphasis), 0.3);
}

TEST_F(KindModes, RateKeepsRealSignalsRealAlignedAndOfTheExactLength)
{
    constexpr uint32_t rate = 44100;
    constexpr std::size_t count = 44100 + 37;
    std::vector<int32_t> x(count);
    for (std::size_t n = 0; n < count; ++n)
        x[n] = static_cast<int32_t>(
            std::lrint(16000.0 * std::sin(2 * kPi * 1000 * static_cast<double>(n) / rate)));
    const std::string in = dir.File("song.wav");
    WriteFileBytes(in, PcmWav(1, rate, 16, StoreSamples(x, 16)));

    const ProcessResult r = Run({"-Q", "-m", "rate", "-r", "48k", "-q", "best", "-e", "f32"}, in);
    ASSERT_EQ(r.status, 0) << r.err;
    const Audio a = ReadAudio(dir.File("song_rate.wav"));
    EXPECT_EQ(a.wav.channels, 1);
    EXPECT_EQ(a.wav.rate, 48000u);
    EXPECT_EQ(a.Frames(), static_cast<std::size_t>(std::llround(count * 48000.0 / rate)));
    // Output sample k stands for input time k / 48000: the sine itself, not a delayed one.
    double worst = 0;
    for (std::size_t k = a.Frames() / 4; k < 3 * a.Frames() / 4; ++k)
        worst =
            std::max(worst, std::fabs(a.samples[k] -
                                      16000.0 / 32768.0 * std::sin(2 * kPi * 1000 * k / 48000.0)));
    EXPECT_LT(worst, 1e-3);
    // The input's own encoding unless -e says otherwise.
    ASSERT_EQ(Run({"-Q", "-m", "rate", "-r", "8k", "-o", dir.File("low.wav")}, in).status, 0);
    EXPECT_EQ(ReadAudio(dir.File("low.wav")).wav.bits, 16);
    EXPECT_EQ(ReadAudio(dir.File("low.wav")).wav.tag, 1);
}

TEST_F(KindModes, ChannelKeepsOneStationAtALowRate)
{
    // A tone 500 Hz above 10 kHz, and a stronger one at -10 kHz that must go.
    const std::string in = Iq("rec.wav", kRate, IqSamples(kPairs, kRate, 0.3, [](double t) {
                                  return 0.3 * std::polar(1.0, 2 * kPi * 10500 * t) +
                                         0.6 * std::polar(1.0, 2 * kPi * -10000 * t);
                              }));
    const ProcessResult r = Run({"-Q", "-m", "channel", "-f", "10k", "-b", "4k", "-e", "f32"}, in);
    ASSERT_EQ(r.status, 0) << r.err;
    const Audio a = ReadAudio(dir.File("rec_ch.wav"));
    EXPECT_EQ(a.wav.channels, 2);
    EXPECT_LT(a.wav.rate, kRate);
    EXPECT_GE(a.wav.rate, 4000u);
    EXPECT_EQ(a.Frames(),
              static_cast<std::size_t>(std::llround(double(kPairs) * a.wav.rate / kRate)));
    const double wanted = IqToneLevel(a, 500);
    EXPECT_NEAR(Db(wanted / (0.3 * 0.3 * 32767 / 32768)), 0.0, 0.2);
    EXPECT_LT(IqToneLevel(a, -500), 1e-4 * wanted); // no mirror
}

TEST_F(KindModes, RefusalsAreUsageErrorsThatCreateNothing)
{
    const std::string in = Iq("rec.wav", kRate, IqSamples(4800, kRate, 0.3, [](double t) {
                                  return std::polar(1.0, 2 * kPi * 1000 * t);
                              }));
    const std::string mono = dir.File("mono.wav");
    WriteFileBytes(mono, PcmWav(1, kRate, 16, StoreSamples(std::vector<int32_t>(4800, 100), 16)));
    struct Case
    {
        std::vector<std::string> args;
        const char* says;
    };
    const Case cases[] = {
        {{"-m", "am", "-f", "25k", in}, "--frequency 25000"},
        {{"-m", "fm", "-f", "-24001", in}, "--frequency -24001"},
        {{"-m", "channel", "-f", "30k", "-b", "1k", in}, "outside the recording"},
        {{"-m", "am", "-f", "0", mono}, "I/Q"},
        {{"-m", "wfm", "-f", "0", in}, "--mode wfm"}, // 200 kHz from 48 kHz
        {{"-m", "channel", "-f", "0", "-b", "60k", in}, "--band 60000"},
        {{"-m", "rate", in}, "needs --rate"},
        {{"-m", "channel", "-f", "0", in}, "needs --band"},
        {{"-m", "am", in}, "needs --frequency"},
        {{"-m", "rate", "-r", "8k", "-f", "1k", in}, "--frequency does not apply"},
        {{"-m", "am", "-f", "0", "-q", "low", in}, "--quality does not apply"},
        {{"-m", "iq", "-q", "best", in}, "--quality best does not apply"},
        {{"-m", "am", "-f", "0", "--deemph", "50", in}, "--deemph does not apply"},
        {{"-m", "fm", "-f", "0", "--agc", "off", in}, "--agc does not apply"},
        {{"-m", "wfm", "-f", "0", "--deemph", "60", in}, "is not a de-emphasis"},
        {{"-m", "am", "-f", "0", "--agc", "maybe", in}, "neither on nor off"},
        {{"-m", "am", "-f", "0", "-e", "s12", in}, "is not an encoding"},
        {{"-i", "-e", "f32", in}, "--encoding does not go with --info"},
    };
    const std::size_t files = FileCount();
    for (const Case& c : cases)
    {
        std::vector<std::string> args = c.args;
        const ProcessResult r = RunSigrun(args, "");
        EXPECT_EQ(r.status, 1) << c.says << ": " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(FileCount(), files) << c.says;
    }
}

TEST_F(KindModes, SilenceGivesQuietAudioWithoutNaN)
{
    const std::string in = Iq("quiet.wav", kRate, std::vector<int32_t>(2 * kPairs, 0));
    for (const char* mode : {"am", "fm", "usb", "lsb", "cw"})
    {
        const ProcessResult r = Run(
            {"-Q", "-m", mode, "-f", "1k", "-e", "f32", "-o", dir.File(std::string(mode) + ".wav")},
            in);
        ASSERT_EQ(r.status, 0) << r.err;
        const Audio a = ReadAudio(dir.File(std::string(mode) + ".wav"));
        for (double v : a.samples)
            ASSERT_TRUE(std::fabs(v) < 1e-3) << mode << ": " << v;
    }
}

TEST_F(KindModes, BatchesIntoAFolderAndNoClobber)
{
    const std::vector<int32_t> x =
        IqSamples(4800, kRate, 0.3, [](double t) { return std::polar(1.0, 2 * kPi * 1000 * t); });
    const std::string a = Iq("a.wav", kRate, x);
    const std::string b = Iq("b.wav", kRate, x);
    std::filesystem::create_directory(dir.File("out"));
    const ProcessResult r =
        RunSigrun({"-Q", "-m", "cw", "-f", "0", "-o", dir.File("out"), a, b}, "");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFileBytes(dir.File("out/a_cw.wav")), ReadFileBytes(dir.File("out/b_cw.wav")));
    // An existing output is kept, that input fails, the other one is still done.
    WriteFileBytes(dir.File("out/a_cw.wav"), "mine");
    std::filesystem::remove(dir.File("out/b_cw.wav"));
    const ProcessResult n =
        RunSigrun({"-Q", "-n", "-m", "cw", "-f", "0", "-o", dir.File("out"), a, b}, "");
    EXPECT_EQ(n.status, 2);
    EXPECT_NE(n.err.find("--no-clobber"), std::string::npos) << n.err;
    EXPECT_EQ(ReadFileBytes(dir.File("out/a_cw.wav")), "mine");
    EXPECT_TRUE(ParseWav(ReadFileBytes(dir.File("out/b_cw.wav"))).ok);
}

// ---- -e, the output encodings ----------------------------------------------------------------

TEST_F(KindModes, EncodingsRoundTripThroughInversion)
{
    // Spectral inversion is exact: inverting twice through any encoding at least as wide as the
    // input gives the input's bytes back.
    std::vector<int32_t> x(2 * 2000);
    for (std::size_t n = 0; n < x.size(); ++n)
        x[n] = static_cast<int32_t>((n * 7919) % 200) - 100;
    for (const auto& [bits, wider] :
         {std::pair{8, "s16"}, {8, "f32"}, {16, "s24"}, {16, "s32"}, {16, "f32"}, {24, "s32"}})
    {
        SCOPED_TRACE(std::to_string(bits) + " via " + wider);
        std::vector<int32_t> v = x;
        for (int32_t& s : v)
            s = bits == 8 ? s : s * (1 << (bits - 8));
        const std::string in = dir.File("in.wav");
        const std::string original = PcmWav(2, kRate, static_cast<uint16_t>(bits),
                                            StoreSamples(v, static_cast<uint16_t>(bits)));
        WriteFileBytes(in, original);
        ASSERT_EQ(RunSigrun({"-Q", "-m", "invert", "-e", wider, "-o", dir.File("mid.wav"), in}, "")
                      .status,
                  0);
        const Audio mid = ReadAudio(dir.File("mid.wav"));
        EXPECT_EQ(mid.wav.tag, std::string(wider) == "f32" ? 3 : 1);
        const char* back = bits == 8 ? "u8" : bits == 16 ? "s16" : "s24";
        const ProcessResult r = RunSigrun(
            {"-Q", "-m", "invert", "-e", back, "-o", dir.File("back.wav"), dir.File("mid.wav")},
            "");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(ParseWav(ReadFileBytes(dir.File("back.wav"))).data, ParseWav(original).data);
    }
}

TEST_F(KindModes, NarrowerEncodingsRoundAndCountTheClipped)
{
    // I/Q pairs of f32 at 0.3 of full scale, every tenth at 1.5 times it, into integers.
    std::string bytes;
    for (int n = 0; n < 2000; ++n)
    {
        const float v = (n / 2) % 10 == 0 ? 1.5f : 0.3f;
        uint32_t b = 0;
        std::memcpy(&b, &v, sizeof b);
        PutU32(bytes, b);
    }
    const std::string in = dir.File("f.wav");
    WriteFileBytes(in, PcmWav(2, kRate, 32, bytes, 3));
    for (const auto& [encoding, bits] : {std::pair{"u8", 8}, {"s16", 16}, {"s24", 24}})
    {
        SCOPED_TRACE(encoding);
        const ProcessResult r =
            RunSigrun({"-m", "invert", "-e", encoding, "-o", dir.File("out.wav"), in}, "");
        ASSERT_EQ(r.status, 0) << r.err;
        const Audio a = ReadAudio(dir.File("out.wav"));
        EXPECT_EQ(a.wav.bits, bits);
        ASSERT_EQ(a.Frames(), 1000u);
        EXPECT_NE(r.err.find(", 200 samples at full scale (clipped)"), std::string::npos) << r.err;
        const double step = std::ldexp(1.0, 1 - bits);
        for (int c = 0; c < 2; ++c)
        {
            // Rounded to the nearest step; limited to the range.
            EXPECT_NEAR(std::fabs(a.samples[2 * 501 + c]), std::round(0.3 / step) * step, 1e-9);
            EXPECT_GE(std::fabs(a.samples[2 * 500 + c]), 1.0 - step);
        }
    }
}

TEST_F(KindModes, ClassicDemodulatorInAnotherEncodingKeepsItsLevel)
{
    const std::string in = Iq("rec.wav", kRate, Stations());
    ASSERT_EQ(
        RunSigrun({"-Q", "-m", "am-classic", "-f", "8k", "-r", "12k", "-a", "8000", in}, "").status,
        0);
    const ProcessResult r = RunSigrun({"-Q", "-m", "am-classic", "-f", "8k", "-r", "12k", "-a",
                                       "8000", "-e", "f32", "-o", dir.File("f.wav"), in},
                                      "");
    ASSERT_EQ(r.status, 0) << r.err;
    const Audio s16 = ReadAudio(dir.File("rec_amdem.wav"));
    const Audio f32 = ReadAudio(dir.File("f.wav"));
    ASSERT_EQ(s16.samples.size(), f32.samples.size());
    EXPECT_EQ(f32.wav.tag, 3);
    // The same samples, no more (the original kinds have no tail), and the gain is in the input
    // file's scale whatever the output's encoding.
    double worst = 0;
    for (std::size_t i = 0; i < s16.samples.size(); ++i)
        worst = std::max(worst, std::fabs(s16.samples[i] - f32.samples[i]));
    EXPECT_LE(worst, 1.0 / 32768 + 1e-6);
    EXPECT_GT(ToneLevel(f32, 1000), 0.001);
}

} // namespace
