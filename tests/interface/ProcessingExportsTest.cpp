// The processing families through their exports: what the configuration hands each stage, the
// data pump, and the free functions.
#include "interface/BlockHandle.h"
#include "sigkit.h"
#include "stages/FreqConv.h"
#include "stages/ReSampl.h"
#include "stages/demod/AM_Demod.h"
#include "support/Signals.h"
#include "support/WavBuilder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace sigtest;

namespace {

template <std::size_t N> void Put(char (&field)[N], const char* text)
{
    std::snprintf(field, N, "%s", text);
}

BlockParams Block(const char* mode, const char* format, int32_t rate, int32_t frequency,
                  int32_t third, float amplify, const char* quality)
{
    BlockParams p{};
    Put(p.inputMode, mode);
    Put(p.sampleFormat, format);
    p.sampleRate = rate;
    p.frequency = frequency;
    p.outRateOrBand = third;
    p.amplify = amplify;
    Put(p.quality, quality);
    return p;
}

InvertParams Invert(const char* mode, const char* format)
{
    InvertParams p{};
    Put(p.inputMode, mode);
    Put(p.sampleFormat, format);
    return p;
}

// One pass of bytes through an invert handle.
std::string Inverted(const InvertParams& params, const std::string& bytes)
{
    InvertHandle* handle = nullptr;
    EXPECT_EQ(invert_init(params, &handle), 1);
    const void* out = nullptr;
    int32_t outBytes = -1;
    EXPECT_EQ(
        invert_data(handle, bytes.data(), static_cast<int32_t>(bytes.size()), &out, &outBytes), 1);
    std::string result(static_cast<const char*>(out),
                       static_cast<std::size_t>(std::max(outBytes, 0)));
    EXPECT_EQ(invert_free(handle), 1);
    return result;
}

template <typename Data, typename Handle>
std::string Pump(Data data, Handle* handle, const std::string& input, std::size_t piece)
{
    std::string output;
    for (std::size_t at = 0; at < input.size(); at += piece)
    {
        const std::string part = input.substr(at, piece);
        const void* out = nullptr;
        int32_t outBytes = 0;
        EXPECT_EQ(data(handle, part.data(), static_cast<int32_t>(part.size()), &out, &outBytes), 1);
        output.append(static_cast<const char*>(out), static_cast<std::size_t>(outBytes));
    }
    return output;
}

std::string Samples16(const std::vector<float>& values)
{
    std::vector<int32_t> ints;
    for (float v : values)
        ints.push_back(static_cast<int32_t>(std::lrint(v)));
    return StoreSamples(ints, 16);
}

} // namespace

TEST(ProcessingConfiguration, BlockRecordReachesTheStageAsWordsAndNumbers)
{
    BlockHandle* handle = nullptr;
    ASSERT_EQ(resampl_init(Block("Complex", "16 bits (signed)", 48000, 10000, 8000, 2.0f, "High"),
                           &handle),
              1);
    EXPECT_EQ(handle->converter->ForwardMode(), 4); // "Short2Float"
    EXPECT_EQ(handle->converter->ReverseMode(), 4); // "Float2Short"
    auto& stage = static_cast<sigkit::ReSampl&>(*handle->stage);
    EXPECT_TRUE(stage.IsComplexInput());
    EXPECT_EQ(stage.Fd, 48000.0f);
    EXPECT_EQ(stage.Fn, 10000.0f);
    EXPECT_EQ(stage.FdOut, 8000.0f);
    EXPECT_EQ(stage.Kamp, 2.0f);
    EXPECT_EQ(stage.quality, 2);
    EXPECT_FALSE(stage.IsStopped());
    EXPECT_EQ(handle->modeText, nullptr); // nothing of the caller's record is kept
    EXPECT_EQ(resampl_free(handle), 1);
}

TEST(ProcessingConfiguration, BandGoesToFpAndDemodulatorsGetTheirMode)
{
    BlockHandle* handle = nullptr;
    ASSERT_EQ(
        lpflt_init(Block("Real", "24 bits (signed)", 44100, -500, 3000, 1.0f, "Medium"), &handle),
        1);
    auto& band = static_cast<sigkit::FreqConv&>(*handle->stage);
    EXPECT_EQ(band.Fp, 3000.0f);
    EXPECT_EQ(band.Fn, -500.0f);
    EXPECT_EQ(band.quality, 1);
    EXPECT_FALSE(band.IsComplexInput());
    EXPECT_EQ(handle->converter->ForwardMode(), 6);
    lpflt_free(handle);

    for (auto [init, mode] : {std::pair{&am_demod_init, 1}, {&fm_demod_init, 2}})
    {
        ASSERT_EQ(
            init(Block("Complex", "8 bits  (unsigned)", 48000, 100, 12000, 0.5f, "Low"), &handle),
            1);
        auto& demod = static_cast<sigkit::AM_Demod&>(*handle->stage);
        EXPECT_EQ(demod.mode, mode);
        EXPECT_EQ(demod.FdOut, 12000.0f);
        EXPECT_EQ(demod.FnWork, 100.0f); // the working copy follows Fn at Start
        EXPECT_EQ(demod.Kamp, 0.5f);
        EXPECT_EQ(handle->converter->ForwardMode(), 3); // "UChar2Float"
        am_demod_free(handle);
    }
}

TEST(ProcessingConfiguration, UnknownWordsFallBack)
{
    BlockHandle* handle = nullptr;
    // One blank in the 8-bit word, a lower-case mode and quality.
    ASSERT_EQ(
        resampl_init(Block("complex", "8 bits (signed)", 48000, 0, 8000, 1.0f, "low"), &handle), 1);
    auto& stage = static_cast<sigkit::ReSampl&>(*handle->stage);
    EXPECT_EQ(handle->converter->ForwardMode(), 1); // stays pass-through
    EXPECT_FALSE(stage.IsComplexInput());
    EXPECT_EQ(stage.quality, 0);
    resampl_free(handle);

    // Texts without a terminator in their field are compared safely and match nothing.
    BlockParams garbage{};
    std::memset(&garbage, 'x', sizeof garbage);
    garbage.amplify = 1.0f;
    ASSERT_EQ(am_demod_init(garbage, &handle), 1);
    const std::string block(1200, '\x7f');
    const void* out = nullptr;
    int32_t outBytes = 0;
    EXPECT_EQ(am_demod_data(handle, block.data(), 1200, &out, &outBytes), 1);
    am_demod_free(handle);
}

TEST(ProcessingPump, StoredFormatsPassExactlyThroughAnExchange)
{
    // Complex inversion exchanges I and Q: every format must give its samples back unchanged.
    const std::vector<int32_t> values = {1, 2, -3, 4, 127, -128, 100, 0};
    for (auto [format, bits] : {std::pair{"16 bits (signed)", 16},
                                {"24 bits (signed)", 24},
                                {"32 bits (signed)", 32},
                                {"8 bits  (unsigned)", 8}})
    {
        const std::string in = StoreSamples(values, static_cast<uint16_t>(bits));
        std::vector<int32_t> swapped;
        for (std::size_t i = 0; i < values.size(); i += 2)
        {
            swapped.push_back(values[i + 1]);
            swapped.push_back(values[i]);
        }
        EXPECT_EQ(Inverted(Invert("Complex", format), in),
                  StoreSamples(swapped, static_cast<uint16_t>(bits)))
            << format;
    }
    const std::string floats("\x00\x00\x80\x3f\x00\x00\x00\x40", 8); // 1.0f, 2.0f
    EXPECT_EQ(Inverted(Invert("Complex", "32 bits (float)"), floats),
              std::string("\x00\x00\x00\x40\x00\x00\x80\x3f", 8));
}

TEST(ProcessingPump, EmptyAndPartialBlocks)
{
    InvertHandle* handle = nullptr;
    ASSERT_EQ(invert_init(Invert("Complex", "16 bits (signed)"), &handle), 1);
    const void* out = reinterpret_cast<const void*>(0x1234);
    int32_t outBytes = -1;
    EXPECT_EQ(invert_data(handle, "ab", 0, &out, &outBytes), 1);
    EXPECT_EQ(outBytes, 0);
    EXPECT_EQ(out, reinterpret_cast<const void*>(0x1234)); // left untouched
    // 7 bytes: three whole samples, the last byte lost; one pair out, one value pending.
    EXPECT_EQ(invert_data(handle, "\x01\x00\x02\x00\x03\x00\x04", 7, &out, &outBytes), 1);
    EXPECT_EQ(std::string(static_cast<const char*>(out), static_cast<std::size_t>(outBytes)),
              std::string("\x02\x00\x01\x00", 4));
    EXPECT_EQ(invert_data(handle, nullptr, 100, &out, &outBytes), 1);
    EXPECT_EQ(outBytes, 0);
    EXPECT_EQ(invert_data(handle, "ab", -5, &out, &outBytes), 1);
    EXPECT_EQ(outBytes, 0);
    EXPECT_EQ(invert_free(handle), 1);
}

TEST(ProcessingPump, OneDataFunctionServesTheFourBlockFamilies)
{
    BlockHandle* handle = nullptr;
    ASSERT_EQ(
        resampl_init(Block("Complex", "16 bits (signed)", 48000, 0, 48000, 1.0f, "Low"), &handle),
        1);
    const std::string input = Samples16(ComplexTone(2400, 1000, 48000, 1000.0));
    const std::string viaDemodName = Pump(am_demod_data, handle, input, 1200);
    resampl_free(handle);
    ASSERT_EQ(
        resampl_init(Block("Complex", "16 bits (signed)", 48000, 0, 48000, 1.0f, "Low"), &handle),
        1);
    EXPECT_EQ(Pump(resampl_data, handle, input, 1200), viaDemodName);
    resampl_free(handle);
    EXPECT_EQ(viaDemodName.size(), input.size() - 4 * 50);
}

TEST(ProcessingPump, LargeBlocksGiveTheSameBytesAsSmallOnes)
{
    std::mt19937 random(3);
    std::uniform_int_distribution<int32_t> sample(-20000, 20000);
    std::vector<int32_t> values(300001);
    for (int32_t& v : values)
        v = sample(random);
    const std::string input = StoreSamples(values, 24);
    const BlockParams params =
        Block("Complex", "24 bits (signed)", 96000, 7000, 11025, 1.5f, "Medium");
    BlockHandle* whole = nullptr;
    BlockHandle* pieces = nullptr;
    ASSERT_EQ(resampl_init(params, &whole), 1);
    ASSERT_EQ(resampl_init(params, &pieces), 1);
    const std::string reference = Pump(resampl_data, pieces, input, 1200);
    EXPECT_EQ(Pump(resampl_data, whole, input, input.size()), reference);
    resampl_free(whole);
    resampl_free(pieces);

    IqHandle* up = nullptr;
    IqHandle* upPieces = nullptr;
    IqParams iq{};
    Put(iq.inputMode, "Real->Complex");
    Put(iq.sampleFormat, "24 bits (signed)");
    Put(iq.quality, "High");
    ASSERT_EQ(iq2real_init(iq, &up), 1);
    ASSERT_EQ(iq2real_init(iq, &upPieces), 1);
    EXPECT_EQ(Pump(iq2real_data, up, input, input.size()),
              Pump(iq2real_data, upPieces, input, 999));
    iq2real_free(up);
    iq2real_free(upPieces);
}

TEST(ProcessingLifecycle, FreeFunctions)
{
    EXPECT_EQ(am_demod_free(nullptr), -2);
    EXPECT_EQ(fm_demod_free(nullptr), -2);
    EXPECT_EQ(lpflt_free(nullptr), -2);
    EXPECT_EQ(resampl_free(nullptr), -2);
    EXPECT_EQ(iq2real_free(nullptr), -2);
    EXPECT_EQ(invert_free(nullptr), -2);
    const void* out = nullptr;
    int32_t outBytes = 5;
    EXPECT_EQ(resampl_data(nullptr, "x", 1, &out, &outBytes), 1);
    EXPECT_EQ(outBytes, 0);
    EXPECT_EQ(resampl_init(BlockParams{}, nullptr), 0);
}

TEST(ProcessingLifecycle, RecordsThatCanNeverProduceOutputAreRefused)
{
    struct Numbers
    {
        int32_t rate, third;
        float gain;
    };
    // Rates that are not positive, gains that are not finite, interpolation beyond 4096 times.
    const Numbers refused[] = {{48000, 0, 1.0f},         {0, 8000, 1.0f},
                               {-8000, 8000, 1.0f},      {48000, -1, 1.0f},
                               {48000, 8000, NAN},       {48000, 8000, INFINITY},
                               {48000, 8000, -INFINITY}, {8000, 8000 * 4097, 1.0f}};
    for (BlockInitFn init : {&resampl_init, &am_demod_init, &fm_demod_init})
    {
        for (const Numbers& n : refused)
        {
            auto* handle = reinterpret_cast<BlockHandle*>(0x1);
            EXPECT_EQ(init(Block("Complex", "16 bits (signed)", n.rate, 0, n.third, n.gain, "Low"),
                           &handle),
                      0)
                << n.rate << " " << n.third << " " << n.gain;
            EXPECT_EQ(handle, nullptr);
        }
        // The limits themselves, a negative frequency and a gain of 0 are fine.
        BlockHandle* handle = nullptr;
        ASSERT_EQ(init(Block("Complex", "16 bits (signed)", 8000, -100, 8000 * 4096, 0.0f, "Low"),
                       &handle),
                  1);
        EXPECT_GT(Pump(resampl_data, handle, std::string(8, '\x10'), 8).size(), 0u);
        resampl_free(handle);
    }
    // A resampling ratio whose whole part does not fit the stage's count.
    BlockHandle* handle = nullptr;
    EXPECT_EQ(
        resampl_init(Block("Complex", "16 bits (signed)", INT32_MAX, 0, 1, 1.0f, "Low"), &handle),
        0);
    EXPECT_EQ(handle, nullptr);

    // The band filter: a negative band or rate, a gain that is not finite; a band of 0 is fine.
    for (const Numbers& n :
         {Numbers{48000, -1, 1.0f}, Numbers{0, 3000, 1.0f}, Numbers{48000, 3000, NAN}})
    {
        EXPECT_EQ(lpflt_init(Block("Real", "16 bits (signed)", n.rate, 0, n.third, n.gain, "Low"),
                             &handle),
                  0);
        EXPECT_EQ(handle, nullptr);
    }
    ASSERT_EQ(lpflt_init(Block("Real", "16 bits (signed)", 48000, 0, 0, 1.0f, "Low"), &handle), 1);
    lpflt_free(handle);
}

TEST(ProcessingPump, ABlockWhoseOutputCouldPassWhatOneCallCountsIsRefusedWhole)
{
    // Interpolation by 4096: 300,000 pairs of 8-bit samples would give 2.46e9 bytes.
    const BlockParams params =
        Block("Complex", "8 bits  (signed)", 8000, 0, 8000 * 4096, 1.0f, "Low");
    BlockHandle* handle = nullptr;
    BlockHandle* fresh = nullptr;
    ASSERT_EQ(resampl_init(params, &handle), 1);
    ASSERT_EQ(resampl_init(params, &fresh), 1);
    const std::string large(600000, '\x05');
    const void* out = reinterpret_cast<const void*>(0x1234);
    int32_t outBytes = -1;
    EXPECT_EQ(
        resampl_data(handle, large.data(), static_cast<int32_t>(large.size()), &out, &outBytes), 0);
    EXPECT_EQ(outBytes, 0);
    EXPECT_EQ(out, reinterpret_cast<const void*>(0x1234));
    // Nothing of it was taken: the handle goes on as a fresh one.
    const std::string small(2001, '\x05');
    const std::string expected = Pump(resampl_data, fresh, small, small.size());
    EXPECT_GT(expected.size(), 1000u * 4000 * 2);
    EXPECT_EQ(Pump(resampl_data, handle, small, small.size()), expected);
    resampl_free(handle);
    resampl_free(fresh);

    // Floats: 8 bytes a pair out, 70,000 pairs in.
    ASSERT_EQ(resampl_init(Block("Complex", "32 bits (float)", 8000, 0, 8000 * 4096, 1.0f, "Low"),
                           &handle),
              1);
    const std::vector<float> floats(140000, 0.25f);
    EXPECT_EQ(resampl_data(handle, floats.data(), static_cast<int32_t>(4 * floats.size()), &out,
                           &outBytes),
              0);
    EXPECT_EQ(outBytes, 0);
    resampl_free(handle);
}
