// The options of the rate, channel and receiver modes and of -e as the option reading takes them,
// and the decoding of stored samples that feeds those modes, called directly.
#include "CommandLine.h"
#include "FrameDecoder.h"
#include "ProcessingModes.h"
#include "sigkit_api.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

using namespace sigrun;

namespace {

bool Parse(const std::vector<std::string>& args, CommandLine& line, std::string& error)
{
    return ParseCommandLine(args, line, error);
}

WavDescription Described(uint16_t tag, uint16_t channels, uint16_t bits)
{
    WavDescription d{};
    d.valid = 1;
    d.formatTag = tag;
    d.channels = channels;
    d.bitsPerSample = bits;
    d.sampleRate = 48000;
    d.blockAlign = static_cast<uint16_t>(channels * (bits / 8));
    return d;
}

} // namespace

TEST(KindOptions, ChannelTakesBandAndRateApartAndDefaultsTheRest)
{
    CommandLine line;
    std::string error;
    ASSERT_TRUE(Parse({"-m", "channel", "-f", "-20k", "-b", "12.5k", "-r", "25k", "-q", "best",
                       "-e", "f32", "in.wav"},
                      line, error))
        << error;
    EXPECT_TRUE(IsChainMode(line.settings.mode));
    EXPECT_FALSE(IsReceiverMode(line.settings.mode));
    EXPECT_EQ(line.settings.frequency, -20000);
    EXPECT_EQ(line.settings.band, 12500);
    EXPECT_EQ(line.settings.outRate, 25000);
    EXPECT_EQ(line.settings.qualityLevel, 4);
    EXPECT_EQ(line.settings.encoding, SIGKIT_ENCODING_F32);
    EXPECT_EQ(line.settings.amplify, 1.0f); // an extra gain, 1 unless given

    ASSERT_TRUE(
        Parse({"-m", "wfm", "-f", "100k", "--deemph", "75", "-a", "0.5", "in.wav"}, line, error))
        << error;
    EXPECT_TRUE(IsReceiverMode(line.settings.mode));
    EXPECT_EQ(line.settings.deemphasis, 75.0);
    EXPECT_EQ(line.settings.amplify, 0.5f);
    EXPECT_EQ(line.settings.outRate, 0); // the kind's default
    EXPECT_EQ(line.settings.encoding, 0);

    ASSERT_TRUE(Parse({"-m", "usb", "-f", "1k", "--agc=off", "in.wav"}, line, error)) << error;
    EXPECT_FALSE(line.settings.agc);
    ASSERT_TRUE(Parse({"-m", "cw", "-f", "1k", "--agc", "on", "in.wav"}, line, error)) << error;
    EXPECT_TRUE(line.settings.agc);
}

TEST(KindOptions, TheClassicDemodulatorsKeepTheirMenuAndNeeds)
{
    EXPECT_EQ(ModeByMenu(5), ModeByWord("am-classic"));
    EXPECT_EQ(ModeByMenu(6), ModeByWord("fm-classic"));
    EXPECT_STREQ(Mode(ModeByWord("am-classic")).suffix, "_amdem.wav");
    // No new mode is on the dialogue's menu, and no two modes share an output name.
    for (int mode = 1; mode <= ModeCount(); ++mode)
    {
        EXPECT_EQ(Mode(mode).menu != 0, !IsChainMode(mode)) << ModeWord(mode);
        for (int other = mode + 1; other <= ModeCount(); ++other)
            EXPECT_STRNE(Mode(mode).suffix, Mode(other).suffix);
    }
    CommandLine line;
    std::string error;
    EXPECT_FALSE(Parse({"-m", "am-classic", "-f", "0", "-r", "8k", "in.wav"}, line, error));
    EXPECT_EQ(error, "mode am-classic needs --amplify");
    // -e goes with the classic modes too.
    EXPECT_TRUE(Parse({"-m", "invert", "-e", "s24", "in.wav"}, line, error)) << error;
    EXPECT_EQ(line.settings.encoding, SIGKIT_ENCODING_S24);
}

TEST(KindOptions, EncodingWords)
{
    EXPECT_EQ(EncodingByWord("u8"), SIGKIT_ENCODING_U8);
    EXPECT_EQ(EncodingByWord("s16"), SIGKIT_ENCODING_S16);
    EXPECT_EQ(EncodingByWord("s24"), SIGKIT_ENCODING_S24);
    EXPECT_EQ(EncodingByWord("s32"), SIGKIT_ENCODING_S32);
    EXPECT_EQ(EncodingByWord("f32"), SIGKIT_ENCODING_F32);
    for (const char* word : {"", "f64", "S16", "s16 ", "16"})
        EXPECT_EQ(EncodingByWord(word), 0) << word;
    EXPECT_EQ(EncodingOf(Described(1, 2, 8)), SIGKIT_ENCODING_U8);
    EXPECT_EQ(EncodingOf(Described(1, 1, 24)), SIGKIT_ENCODING_S24);
    EXPECT_EQ(EncodingOf(Described(3, 2, 32)), SIGKIT_ENCODING_F32);
    EXPECT_EQ(FullScale(Described(1, 2, 16)), 32768.0);
    EXPECT_EQ(FullScale(Described(3, 2, 32)), 1.0);
}

TEST(FrameDecoder, EveryWidthAtFullScaleAndFramesSplitAcrossBlocks)
{
    struct Case
    {
        uint16_t tag;
        uint16_t bits;
        std::string bytes; // two channels, two frames
        std::vector<float> expected;
    };
    float half = 0.5f;
    float nan = std::numeric_limits<float>::quiet_NaN();
    std::string floats(16, '\0');
    std::memcpy(&floats[0], &half, 4);
    std::memcpy(&floats[4], &nan, 4); // no recording holds NaN: read as 0
    std::memcpy(&floats[8], &half, 4);
    std::memcpy(&floats[12], &half, 4);
    const Case cases[] = {
        {1, 8, std::string("\x00\x80\xFF\xC0", 4), {-1.0f, 0.0f, 127.0f / 128, 0.5f}},
        {1,
         16,
         std::string("\x00\x80\xFF\x7F\x00\x40\xFF\xFF", 8),
         {-1.0f, 32767.0f / 32768, 0.5f, -1.0f / 32768}},
        {1,
         24,
         std::string("\x00\x00\x80\xFF\xFF\x7F\x00\x00\x40\x01\x00\x00", 12),
         {-1.0f, 8388607.0f / 8388608, 0.5f, 1.0f / 8388608}},
        {1,
         32,
         std::string("\x00\x00\x00\x80\x00\x00\x00\x40\x00\x00\x00\x00\x00\x00\x00\xC0", 16),
         {-1.0f, 0.5f, 0.0f, -0.5f}},
        {3, 32, floats, {0.5f, 0.0f, 0.5f, 0.5f}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.bits);
        // Whole, then cut at every byte: the frames come out the same.
        for (std::size_t cut = 0; cut <= c.bytes.size(); ++cut)
        {
            FrameDecoder decoder(Described(c.tag, 2, c.bits));
            std::vector<float> out;
            std::vector<float> all;
            const std::size_t first =
                decoder.Decode(c.bytes.data(), static_cast<int32_t>(cut), out);
            all.insert(all.end(), out.begin(), out.end());
            const std::size_t second = decoder.Decode(
                c.bytes.data() + cut, static_cast<int32_t>(c.bytes.size() - cut), out);
            all.insert(all.end(), out.begin(), out.end());
            EXPECT_EQ(first + second, 2u) << cut;
            EXPECT_EQ(all, c.expected) << cut;
        }
    }
}
