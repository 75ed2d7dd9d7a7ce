// The option reading, the output name rule and the clipping count, called directly.
#include "CommandLine.h"
#include "ClipCounter.h"
#include "ProcessingModes.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <string>
#include <vector>

using namespace sigrun;

namespace {

// Parses and returns the reason, empty when the arguments were accepted.
std::string Refusal(const std::vector<std::string>& args)
{
    CommandLine line;
    std::string error;
    return ParseCommandLine(args, line, error) ? std::string() : error;
}

CommandLine Parsed(const std::vector<std::string>& args)
{
    CommandLine line;
    std::string error;
    EXPECT_TRUE(ParseCommandLine(args, line, error)) << error;
    return line;
}

} // namespace

TEST(ParseHertz, SuffixesScaleExactlyToWholeHertz)
{
    struct Case
    {
        const char* text;
        int32_t hertz;
    } cases[] = {
        {"48000", 48000},
        {"48k", 48000},
        {"48K", 48000},
        {"2.4M", 2400000},
        {"-12.5k", -12500},
        {"+7", 7},
        {"0", 0},
        {"-0", 0},
        {"0.001k", 1},
        {"1.000000M", 1000000},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"2147.483647M", INT32_MAX},
        {"12.k", 12000},
        {".5k", 500},
        {"0.000000000000000000000000000000000M", 0}, // many digits, all zero
    };
    for (const Case& c : cases)
    {
        int32_t hertz = 12345;
        EXPECT_TRUE(ParseHertz(c.text, hertz)) << c.text;
        EXPECT_EQ(hertz, c.hertz) << c.text;
    }
}

TEST(ParseHertz, RefusesFractionsOfHertzOverflowAndStrayCharacters)
{
    for (const char* text : {"",
                             "-",
                             "k",
                             ".",
                             "12.5",
                             "0.0001k",
                             "2147483648",
                             "-2147483649",
                             "2.2G",
                             "3000M",
                             "1e3",
                             "48 k",
                             " 48",
                             "48k ",
                             "48kk",
                             "4.8.0k",
                             "0x10",
                             "48m",
                             "99999999999999999999999",
                             "1.5Hz",
                             "--5",
                             "0.0000000000000000000000000000001M"})
    {
        int32_t hertz = 12345;
        EXPECT_FALSE(ParseHertz(text, hertz)) << text;
        EXPECT_EQ(hertz, 12345) << text;
    }
}

TEST(ParseGain, TakesFiniteNumbersRoundedAsTheDialogueDoes)
{
    float gain = 0.0f;
    ASSERT_TRUE(ParseGain("1.1", gain));
    EXPECT_EQ(gain, static_cast<float>(1.1)); // the double, rounded once to float
    ASSERT_TRUE(ParseGain("-2e4", gain));
    EXPECT_EQ(gain, -20000.0f);
    ASSERT_TRUE(ParseGain("3.4028234e38", gain));
    EXPECT_EQ(gain, FLT_MAX);
    for (const char* text : {"", " 1", "1 ", "1x", "inf", "-inf", "nan", "1e39", "20k", "abc"})
        EXPECT_FALSE(ParseGain(text, gain)) << text;
}

TEST(ParseCommandLine, SpellingsOfOptionsAndValues)
{
    // Long with a blank or '=', short with a blank or joined, flags in one cluster, negative
    // values after their option.
    const CommandLine a = Parsed({"--mode", "am-classic", "--frequency=-10k", "-r12k", "-a", "-1.5",
                                  "-nQ", "-q", "low", "-o", "out.wav", "in.wav"});
    EXPECT_EQ(a.action, Action::Process);
    EXPECT_EQ(a.settings.mode, 5);
    EXPECT_EQ(a.settings.frequency, -10000);
    EXPECT_EQ(a.settings.outRateOrBand, 12000);
    EXPECT_EQ(a.settings.amplify, -1.5f);
    EXPECT_STREQ(a.settings.quality, "Low");
    EXPECT_TRUE(a.noClobber);
    EXPECT_TRUE(a.quiet);
    EXPECT_EQ(a.output, "out.wav");
    EXPECT_EQ(a.inputs, std::vector<std::string>{"in.wav"});

    // Quality is high unless given; a later value replaces an earlier one; after "--" every
    // argument is an input, even one that looks like an option.
    const CommandLine b = Parsed({"-m", "fm-classic", "-f", "1", "-f", "2", "-r", "8k", "-a", "1",
                                  "x.wav", "--", "-y.wav", "-"});
    EXPECT_STREQ(b.settings.quality, "High");
    EXPECT_EQ(b.settings.frequency, 2);
    EXPECT_EQ(b.inputs, (std::vector<std::string>{"x.wav", "-y.wav", "-"}));

    // The band of convert goes where the output rate of the others goes.
    const CommandLine c = Parsed({"-m", "convert", "-f", "0", "-b", "1", "-a", "1", "in.wav"});
    EXPECT_EQ(c.settings.mode, 3);
    EXPECT_EQ(c.settings.outRateOrBand, 1);
}

TEST(ParseCommandLine, ModesTakeWhatTheDialogueAsks)
{
    EXPECT_EQ(Refusal({"-m", "iq", "in.wav"}), "");
    EXPECT_EQ(Refusal({"-m", "iq", "-q", "medium", "in.wav"}), "");
    EXPECT_EQ(Refusal({"-m", "invert", "a.wav", "b.wav"}), "");
    EXPECT_EQ(Refusal({"-m", "am-classic", "-f", "0", "-r", "8k", "in.wav"}),
              "mode am-classic needs --amplify");
    EXPECT_EQ(Refusal({"-m", "resample", "in.wav"}),
              "mode resample needs --frequency, --rate and --amplify");
    EXPECT_EQ(Refusal({"-m", "convert", "-f", "0", "-r", "8k", "-a", "1", "in.wav"}),
              "--rate does not apply to mode convert");
    EXPECT_EQ(Refusal({"-m", "fm-classic", "-f", "0", "-b", "8k", "-r", "8k", "-a", "1", "in.wav"}),
              "--band does not apply to mode fm-classic");
    EXPECT_EQ(Refusal({"-m", "invert", "-q", "high", "in.wav"}),
              "--quality does not apply to mode invert");
    EXPECT_EQ(Refusal({"-m", "iq", "-a", "1", "in.wav"}), "--amplify does not apply to mode iq");
}

TEST(ParseCommandLine, RefusalsNameTheOptionOrValue)
{
    struct Case
    {
        std::vector<std::string> args;
        const char* reason;
    } cases[] = {
        {{"--frobnicate", "in.wav"}, "unknown option '--frobnicate'"},
        {{"--frobnicate=3", "in.wav"}, "unknown option '--frobnicate'"},
        {{"-x", "in.wav"}, "unknown option '-x'"},
        {{"-nx", "in.wav"}, "unknown option '-x'"},
        {{"-m"}, "--mode needs a value"},
        {{"in.wav", "--rate"}, "--rate needs a value"},
        {{"--quiet=yes", "in.wav"}, "--quiet takes no value"},
        {{"-m", "ssb", "in.wav"}, "--mode 'ssb' is not a mode"},
        {{"-m", "AM", "in.wav"}, "--mode 'AM' is not a mode"},
        {{"-mnQ", "in.wav"}, "--mode 'nQ' is not a mode"}, // a value ends the cluster
        {{"-m", "am-classic", "-f", "0", "-r", "0", "-a", "1", "in.wav"},
         "--rate '0' is not a sample rate"},
        {{"-m", "am-classic", "-f", "0", "-r", "-8k", "-a", "1", "in.wav"}, "--rate '-8k' is not"},
        {{"-m", "convert", "-f", "0", "-b", "-1", "-a", "1", "in.wav"}, "--band '-1' is not"},
        {{"-m", "convert", "-f", "0", "-b", "0", "-a", "1", "in.wav"}, "--band '0' is not"},
        {{"-m", "am-classic", "-f", "12.5", "-r", "8k", "-a", "1", "in.wav"},
         "--frequency '12.5' is not"},
        {{"-m", "am-classic", "-f", "3G", "-r", "8k", "-a", "1", "in.wav"},
         "--frequency '3G' is not"},
        {{"-m", "am-classic", "-f", "0", "-r", "8k", "-a", "nan", "in.wav"},
         "--amplify 'nan' is not"},
        {{"-m", "iq", "-q", "ultra", "in.wav"}, "--quality 'ultra' is not a quality"},
        {{"-m", "iq", "-o", "", "in.wav"}, "--output needs"},
        {{"-m", "iq"}, "no input file given"},
        {{"-Q", "in.wav"}, "no mode given"},
        {{"-i"}, "no input file given"},
        {{"-i", "-m", "am-classic", "in.wav"}, "--mode does not go with --info"},
        {{"-i", "-n", "in.wav"}, "--no-clobber does not go with --info"},
    };
    for (const Case& c : cases)
    {
        const std::string reason = Refusal(c.args);
        EXPECT_EQ(reason.rfind(c.reason, 0), 0u) << "got: " << reason;
        EXPECT_EQ(reason.find('\n'), std::string::npos);
    }
}

TEST(ParseCommandLine, HelpAndVersionWinWhereTheyStand)
{
    EXPECT_EQ(Parsed({"-m", "am-classic", "--help", "--bogus"}).action, Action::Help);
    EXPECT_EQ(Parsed({"-nh"}).action, Action::Help);
    EXPECT_EQ(Parsed({"--version", "-r", "0"}).action, Action::Version);
    EXPECT_NE(Refusal({"--bogus", "--help"}), "");
    EXPECT_EQ(Parsed({"-Qi", "a.wav", "b.wav"}).action, Action::Info);
}

TEST(MakeOutputName, DropsFourCharactersOfTheFileNameOnly)
{
    struct Case
    {
        int mode;
        const char* input;
        const char* folder;
        const char* output;
    } cases[] = {
        {5, "rec.wav", nullptr, "rec_amdem.wav"},
        {4, "record", nullptr, "re_inv.wav"},
        {1, "dir/rec.WAV", nullptr, "dir/rec_iq2r.wav"},
        {4, "dir/ab", nullptr, "dir/ab_inv.wav"}, // the folder keeps its name
        {4, "abc", nullptr, "abc_inv.wav"},
        {6, "in/rec.wav", "out", "out/rec_fmdem.wav"},
        {6, "in/rec.wav", "out/", "out/rec_fmdem.wav"},
        {3, "rec.wav", "/tmp", "/tmp/rec_if.wav"},
        {2, "/a/b/x.wav", ".", "./x_resampl.wav"},
    };
    for (const Case& c : cases)
    {
        char name[kTextSize];
        ASSERT_TRUE(MakeOutputName(c.mode, c.input, c.folder, name)) << c.input;
        EXPECT_STREQ(name, c.output);
    }
    char name[kTextSize];
    const std::string fits = std::string(1012, 'a') + ".wav"; // 1012 + "_inv.wav" = 1020
    EXPECT_TRUE(MakeOutputName(4, fits.c_str(), nullptr, name));
    const std::string tooLong = std::string(1020, 'a') + ".wav";
    EXPECT_FALSE(MakeOutputName(4, tooLong.c_str(), nullptr, name));
    EXPECT_FALSE(MakeOutputName(4, "x.wav", std::string(1020, 'd').c_str(), name));
}

namespace {

std::string Bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values)
        out.push_back(static_cast<char>(v));
    return out;
}

long long CountAll(ClipCounter& counter, const std::string& bytes)
{
    counter.Count(bytes.data(), static_cast<int32_t>(bytes.size()));
    return counter.Clipped();
}

} // namespace

TEST(ClipCounter, CountsTheEndsOfEachIntegerFormat)
{
    ClipCounter u8(1, 8);
    EXPECT_EQ(CountAll(u8, Bytes({0x00, 0x01, 0x80, 0xFE, 0xFF, 0x7F})), 2);
    ClipCounter s16(1, 16);
    EXPECT_EQ(CountAll(s16, Bytes({0xFF, 0x7F, 0x00, 0x80, 0xFE, 0x7F, 0x01, 0x80, 0x00, 0x00, 0xFF,
                                   0xFF})),
              2); // 32767, -32768 counted; 32766, -32767, 0, -1 not
    ClipCounter s24(1, 24);
    EXPECT_EQ(CountAll(s24, Bytes({0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0xFF, 0x7F, 0x00})), 2);
    ClipCounter s32(1, 32);
    EXPECT_EQ(CountAll(s32, Bytes({0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F,
                                   0x00})),
              2);
    // Float samples have no ends; 1.0 and the largest float are values like any other.
    ClipCounter f32(3, 32);
    EXPECT_EQ(CountAll(f32, Bytes({0x00, 0x00, 0x80, 0x3F, 0xFF, 0xFF, 0x7F, 0x7F})), 0);
}

TEST(ClipCounter, LongRunsOfEndsAreAllCounted)
{
    // Every sample at an end, more of them than a narrow counter holds, and one in every 7 over a
    // length that is no multiple of the counting runs.
    const int widths[] = {8, 16, 24, 32};
    for (int bits : widths)
    {
        const std::size_t width = static_cast<std::size_t>(bits / 8);
        const std::string high =
            bits == 8 ? std::string(1, '\xFF') : std::string(width - 1, '\xFF') + '\x7F';
        const std::string low =
            bits == 8 ? std::string(1, '\0') : std::string(width - 1, '\0') + '\x80';
        std::string all;
        std::string sparse;
        for (int i = 0; i < 70001; ++i)
        {
            all += i % 2 == 0 ? high : low;
            sparse += i % 7 == 0 ? low : std::string(width, '\x01');
        }
        ClipCounter allCounter(1, static_cast<uint16_t>(bits));
        EXPECT_EQ(CountAll(allCounter, all), 70001) << bits;
        ClipCounter sparseCounter(1, static_cast<uint16_t>(bits));
        EXPECT_EQ(CountAll(sparseCounter, sparse), 10001) << bits;
    }
}

TEST(ClipCounter, SamplesSplitAcrossBlocksCountOnce)
{
    // Three 24-bit samples at full scale and one not, handed out one byte, then two bytes, ...
    const std::string stream =
        Bytes({0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0x12, 0x34, 0x56, 0x00, 0x00, 0x80});
    for (std::size_t piece = 1; piece <= 5; ++piece)
    {
        ClipCounter counter(1, 24);
        for (std::size_t at = 0; at < stream.size(); at += piece)
        {
            const std::string part = stream.substr(at, piece);
            counter.Count(part.data(), static_cast<int32_t>(part.size()));
        }
        EXPECT_EQ(counter.Clipped(), 3) << piece;
    }
    ClipCounter counter(1, 16);
    counter.Count(nullptr, 10);
    counter.Count("\xFF\x7F", 0);
    counter.Count("\xFF\x7F", -2);
    EXPECT_EQ(counter.Clipped(), 0);
}
