// The six processing modes run through sigrun with piped answers, on files the tests make: the
// output file's format and name, and what the signal shows.
#include "support/Process.h"
#include "support/Signals.h"
#include "support/TempDir.h"
#include "support/WavBuilder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

using namespace sigtest;

namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<int32_t> Quantised(const std::vector<float>& values, double scale = 1.0)
{
    std::vector<int32_t> out;
    for (float v : values)
        out.push_back(static_cast<int32_t>(std::lrint(v * scale)));
    return out;
}

class Modes : public ::testing::Test
{
protected:
    // Writes a file of the given samples (interleaved when stereo) and returns its path.
    std::string Input(const std::string& name, uint16_t channels, uint32_t rate, uint16_t bits,
                      const std::vector<float>& samples, double scale = 1.0)
    {
        const std::string path = dir.File(name);
        WriteFileBytes(path,
                       PcmWav(channels, rate, bits, StoreSamples(Quantised(samples, scale), bits)));
        return path;
    }

    // Runs sigrun with the answers and returns the parsed output file.
    WavInfo Run(const std::string& input, const std::string& answers, const std::string& output)
    {
        const ProcessResult r = RunSigrun({input}, answers);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        last = r;
        return ParseWav(ReadFileBytes(dir.File(output)));
    }

    TempDir dir;
    ProcessResult last;
};

std::vector<float> AmCarrier(std::size_t pairs, double fc, double fm, double rate)
{
    std::vector<float> x(2 * pairs);
    for (std::size_t n = 0; n < pairs; ++n)
    {
        const double t = static_cast<double>(n) / rate;
        const double envelope = 8000.0 * (1.0 + 0.5 * std::cos(2 * kPi * fm * t));
        x[2 * n] = static_cast<float>(envelope * std::cos(2 * kPi * fc * t));
        x[2 * n + 1] = static_cast<float>(envelope * std::sin(2 * kPi * fc * t));
    }
    return x;
}

std::vector<float> FmCarrier(std::size_t pairs, double fc, double fm, double deviation, double rate)
{
    std::vector<float> x(2 * pairs);
    double phase = 0;
    for (std::size_t n = 0; n < pairs; ++n)
    {
        phase += 2 * kPi *
                 (fc + deviation * std::cos(2 * kPi * fm * static_cast<double>(n) / rate)) / rate;
        x[2 * n] = static_cast<float>(10000.0 * std::cos(phase));
        x[2 * n + 1] = static_cast<float>(10000.0 * std::sin(phase));
    }
    return x;
}

} // namespace

TEST_F(Modes, OutputDescriptionsFollowTheFamilyTable)
{
    struct Case
    {
        uint16_t channels;
        uint32_t rate;
        uint16_t bits;
        std::string answers;
        std::string suffix;
        uint16_t outChannels;
        uint32_t outRate;
    } cases[] = {
        {1, 44100, 16, "1\n3\n", "_iq2r.wav", 2, 22050},
        {1, 44101, 16, "1\n1\n", "_iq2r.wav", 2, 22050},
        {2, 96000, 8, "1\n2\n", "_iq2r.wav", 1, 192000},
        {1, 48000, 24, "2\n0\n8000\n1\n1\n", "_resampl.wav", 2, 8000},
        {2, 48000, 16, "3\n1000\n3000\n1\n1\n", "_if.wav", 2, 48000},
        {1, 22050, 32, "4\n", "_inv.wav", 2, 22050},
        {2, 44100, 16, "5\n0\n11025\n1\n1\n", "_amdem.wav", 1, 11025},
        {2, 44100, 16, "6\n0\n8000\n1\n2\n", "_fmdem.wav", 1, 8000},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.answers);
        const std::string path = Input("rec.wav", c.channels, c.rate, c.bits,
                                       std::vector<float>(c.channels * 4000u, 10.0f));
        const WavInfo out = Run(path, c.answers, "rec" + c.suffix);
        ASSERT_TRUE(out.ok);
        EXPECT_EQ(out.tag, 1);
        EXPECT_EQ(out.channels, c.outChannels);
        EXPECT_EQ(out.rate, c.outRate);
        EXPECT_EQ(out.bits, c.bits);
        EXPECT_EQ(out.blockAlign, c.outChannels * c.bits / 8);
        EXPECT_EQ(out.byteRate, out.blockAlign * c.outRate);
        EXPECT_EQ(out.data.size() % out.blockAlign, 0u);
        std::filesystem::remove(dir.File("rec" + c.suffix));
    }
}

TEST_F(Modes, NamesDropTheLastFourCharacters)
{
    const std::vector<float> samples(400, 5.0f);
    Input("rec.WAV", 2, 8000, 16, samples);
    Run(dir.File("rec.WAV"), "4\n", "rec_inv.wav");
    EXPECT_TRUE(FileExists(dir.File("rec_inv.wav")));
    Input("record", 2, 8000, 16, samples);
    Run(dir.File("record"), "4\n", "re_inv.wav");
    EXPECT_TRUE(FileExists(dir.File("re_inv.wav")));
}

TEST_F(Modes, InversionPromptsNothingAndCountsTheBytesRead)
{
    const std::string path =
        Input("in.wav", 2, 8000, 16, std::vector<float>(2500, 3.0f)); // 5000 bytes
    const WavInfo out = Run(path, "4\n", "in_inv.wav");
    const std::string menuEnd = "7 - Exit: \n";
    const std::size_t at = last.out.find(menuEnd);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(last.out.substr(at + menuEnd.size()), "1200\r2400\r3600\r4800\r5000\r");
    EXPECT_EQ(out.data.size(), 5000u);
}

TEST_F(Modes, EmptyInputGivesAnEmptyOutput)
{
    const std::string path = Input("empty.wav", 2, 8000, 16, {});
    const WavInfo out = Run(path, "5\n0\n8000\n1\n3\n", "empty_amdem.wav");
    EXPECT_TRUE(out.ok);
    EXPECT_EQ(out.data.size(), 0u);
    EXPECT_EQ(ReadFileBytes(dir.File("empty_amdem.wav")).size(), 334u);
    EXPECT_EQ(last.out.substr(last.out.size() - 16), "(recommended): \n"); // no progress count
}

TEST_F(Modes, AmAndFmRecoverTheirTones)
{
    const std::string am = Input("am.wav", 2, 48000, 16, AmCarrier(48000, 9000, 1000, 48000));
    const WavInfo amOut = Run(am, "5\n9000\n12000\n20000\n3\n", "am_amdem.wav");
    const auto amAudio = Channel(SampleValues(amOut), 1, 0);
    const double amTone = ToneAmplitude(amAudio, 1000, 12000, 2000);
    EXPECT_NEAR(amTone, 0.5 * 20000, 1000); // m · Kamp
    EXPECT_LT(ToneAmplitude(amAudio, 3000, 12000, 2000), amTone / 100);

    const std::string fm = Input("fm.wav", 2, 48000, 16, FmCarrier(48000, -5000, 700, 2000, 48000));
    const WavInfo fmOut = Run(fm, "6\n-5000\n12000\n20000\n3\n", "fm_fmdem.wav");
    const auto fmAudio = Channel(SampleValues(fmOut), 1, 0);
    // The phase step swings by 2π · 2000 / 48000.
    EXPECT_NEAR(ToneAmplitude(fmAudio, 700, 12000, 2000), 20000 * std::sin(2 * kPi * 2000 / 48000),
                100);
}

TEST_F(Modes, FrequencyConvertingMovesTheBandToZero)
{
    std::vector<float> tones = ComplexTone(24000, 5200, 48000, 5000.0);
    const std::vector<float> outside = ComplexTone(24000, 9000, 48000, 5000.0);
    for (std::size_t i = 0; i < tones.size(); ++i)
        tones[i] += outside[i];
    const std::string path = Input("if.wav", 2, 48000, 16, tones);
    const WavInfo out = Run(path, "3\n5000\n2000\n1\n3\n", "if_if.wav");
    const auto iq = SampleValues(out);
    std::vector<float> pairs(iq.begin(), iq.end());
    EXPECT_NEAR(ComplexToneAmplitude(pairs, 200, 48000, 2000), 5000.0, 60.0);
    EXPECT_LT(ComplexToneAmplitude(pairs, 4000, 48000, 2000), 5.0);
}

TEST_F(Modes, ResamplingShiftsAndLowersTheRate)
{
    const std::string path =
        Input("rs.wav", 2, 96000, 16, ComplexTone(96000, 21000, 96000, 6000.0));
    const WavInfo out = Run(path, "2\n20000\n8000\n1\n2\n", "rs_resampl.wav");
    const auto iq = SampleValues(out);
    std::vector<float> pairs(iq.begin(), iq.end());
    EXPECT_NEAR(static_cast<double>(pairs.size()) / 2, 8000.0 - 300, 2.0); // two steps at Medium
    EXPECT_NEAR(ComplexToneAmplitude(pairs, 1000, 8000, 500), 6000.0, 60.0);
}

TEST_F(Modes, InversionMirrorsAndTheIqRoundTripKeepsATone)
{
    const std::string path =
        Input("mirror.wav", 2, 48000, 16, ComplexTone(12000, 3000, 48000, 4000.0));
    const auto mirrored = SampleValues(Run(path, "4\n", "mirror_inv.wav"));
    std::vector<float> pairs(mirrored.begin(), mirrored.end());
    EXPECT_NEAR(ComplexToneAmplitude(pairs, -3000, 48000), 4000.0, 5.0);
    EXPECT_LT(ComplexToneAmplitude(pairs, 3000, 48000), 5.0);

    const std::string real = Input("real.wav", 1, 48000, 16, RealTone(48000, 7000, 48000, 8000.0));
    Run(real, "1\n3\n", "real_iq2r.wav");
    const WavInfo back = Run(dir.File("real_iq2r.wav"), "1\n3\n", "real_iq2r_iq2r.wav");
    EXPECT_EQ(back.channels, 1);
    EXPECT_EQ(back.rate, 48000u);
    const auto audio = Channel(SampleValues(back), 1, 0);
    EXPECT_NEAR(ToneAmplitude(audio, 7000, 48000, 2000), 8000.0, 80.0);
}

TEST_F(Modes, EveryWidthGivesTheSameSignal)
{
    // The same AM signal stored at 8, 16, 24 and 32 bits demodulates to the same tone, relative
    // to each width's full scale.
    const auto signal = AmCarrier(24000, 4000, 800, 48000);
    for (auto [bits, scale] : {std::pair{8, 1.0 / 256}, {16, 1.0}, {24, 256.0}, {32, 65536.0}})
    {
        SCOPED_TRACE(bits);
        const std::string path =
            Input("w.wav", 2, 48000, static_cast<uint16_t>(bits), signal, scale);
        const std::string kamp = std::to_string(10000.0 * scale);
        const WavInfo out = Run(path, "5\n4000\n12000\n" + kamp + "\n3\n", "w_amdem.wav");
        const auto audio = Channel(SampleValues(out), 1, 0);
        EXPECT_NEAR(ToneAmplitude(audio, 800, 12000, 1500) / scale, 5000.0, 300.0);
    }
}

TEST_F(Modes, RefusedAnswersCreateNothing)
{
    const std::string path = Input("in.wav", 2, 48000, 16, std::vector<float>(1000, 1.0f));
    for (const std::string answers :
         {"2\n0\n0\n", "2\n0\n-8000\n", "5\n0\nabc\n", "6\n0\n8000\ninf\n", "5\n0\n8000\nnan\n",
          "3\n0\n-5\n", "2\n99999999999\n", "5\n0\n8000\n1e40\n"})
    {
        const ProcessResult r = RunSigrun({path}, answers);
        EXPECT_EQ(r.status, 1) << answers;
        EXPECT_NE(r.err.find("sigrun: "), std::string::npos) << answers;
        for (const char* suffix : {"_resampl.wav", "_amdem.wav", "_fmdem.wav", "_if.wav"})
            EXPECT_FALSE(FileExists(dir.File(std::string("in") + suffix))) << answers;
    }
}

TEST_F(Modes, OutputThatIsTheInputOrAFolderIsRefused)
{
    const std::string path = Input("in.wav", 2, 48000, 16, std::vector<float>(1000, 1.0f));
    const std::string original = ReadFileBytes(path);
    std::filesystem::create_symlink(path, dir.File("in_inv.wav"));
    ProcessResult r = RunSigrun({path}, "4\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("input file itself"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFileBytes(path), original);

    std::filesystem::create_directory(dir.File("in_if.wav"));
    r = RunSigrun({path}, "3\n0\n1000\n1\n1\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cannot create"), std::string::npos) << r.err;
}

// What was written goes to the partial file, with a true header; the output name is not made.
TEST_F(Modes, WriteFaultLeavesATrueHeader)
{
    const std::string path = Input("big.wav", 2, 48000, 16, std::vector<float>(200000, 100.0f));
    ProcessOptions options;
    options.fileSizeLimit = 100000;
    const ProcessResult r = RunSigrun({path}, "4\n", options);
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(FileExists(dir.File("big_inv.wav")));
    const std::string partial = dir.File("big_inv.partial.wav");
    const std::string bytes = ReadFileBytes(partial);
    ASSERT_GT(bytes.size(), 334u);
    EXPECT_EQ(GetU32(bytes, 330), bytes.size() - 334);
    EXPECT_EQ(GetU32(bytes, 4), bytes.size() - 8);
    // One line names the partial file and the samples it holds.
    EXPECT_EQ(r.err, "sigrun: cannot write '" + dir.File("big_inv.wav") +
                         "': File too large; it is left as it was; the " +
                         std::to_string((bytes.size() - 334) / 4) +
                         " samples written are kept in '" + partial + "'\n");
}
