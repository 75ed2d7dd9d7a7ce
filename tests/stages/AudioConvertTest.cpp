#include "stages/AudioConvert.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {

using sigkit::AudioConvert;

std::unique_ptr<AudioConvert> Converter(const char* forward, const char* reverse)
{
    auto converter = std::make_unique<AudioConvert>();
    converter->SetParam("ConvertMode", forward);
    converter->SetParam("ConvertModeRev", reverse);
    converter->Start();
    return converter;
}

std::vector<float> ToFloats(AudioConvert& converter, const std::vector<uint8_t>& bytes)
{
    const int32_t count = converter.Put(0, bytes.data(), static_cast<int32_t>(bytes.size()));
    const void* block = nullptr;
    int32_t outBytes = -1;
    EXPECT_EQ(converter.Get(0, &block, &outBytes), count);
    EXPECT_EQ(outBytes, count);
    std::vector<float> floats(static_cast<std::size_t>(outBytes) / 4);
    if (outBytes > 0)
        std::memcpy(floats.data(), block, floats.size() * 4);
    return floats;
}

std::vector<uint8_t> FromFloats(AudioConvert& converter, const std::vector<float>& floats)
{
    const int32_t count = converter.Put(1, floats.data(), static_cast<int32_t>(floats.size() * 4));
    const void* block = nullptr;
    int32_t outBytes = -1;
    EXPECT_EQ(converter.Get(1, &block, &outBytes), count);
    EXPECT_EQ(outBytes, count);
    const auto* bytes = static_cast<const uint8_t*>(block);
    return std::vector<uint8_t>(bytes, bytes + outBytes);
}

using Bytes = std::vector<uint8_t>;
using Floats = std::vector<float>;

// ---- Worked values.

TEST(AudioConvert, ShortsConvertUnscaledAndLimitOnTheWayBack)
{
    auto converter = Converter("Short2Float", "Float2Short");
    EXPECT_EQ(ToFloats(*converter, {0xFF, 0x7F, 0x00, 0x80}), (Floats{32767.0f, -32768.0f}));
    EXPECT_EQ(FromFloats(*converter, {40000.0f, -40000.5f, 1000.0f}),
              (Bytes{0xFF, 0x7F, 0x00, 0x80, 0xE8, 0x03}));
}

TEST(AudioConvert, UnsignedBytesAreCentredOn127AndGetTheirOffsetBack)
{
    auto converter = Converter("UChar2Float", "Float2UChar");
    EXPECT_EQ(ToFloats(*converter, {0, 127, 255}), (Floats{-127.0f, 0.0f, 128.0f}));
    // -3.0 is the stored byte 124; beyond the range the ends are taken.
    EXPECT_EQ(FromFloats(*converter, {-3.0f, -127.0f, 128.0f, -500.0f, 500.0f}),
              (Bytes{124, 0, 255, 0, 255}));
    // 0.5 is the stored 127.5, which rounds to the even 128.
    EXPECT_EQ(FromFloats(*converter, {0.5f, -0.5f, 1.5f}), (Bytes{128, 126, 128}));
}

TEST(AudioConvert, UnsignedRoundTripsGiveTheStoredBytesBack)
{
    auto bytes8 = Converter("UChar2Float", "Float2UChar");
    Bytes all(256);
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(FromFloats(*bytes8, ToFloats(*bytes8, all)), all);

    auto words = Converter("UShort2Float", "Float2UShort");
    Bytes stored;
    for (int value : {0, 1, 32766, 32767, 32768, 65534, 65535})
    {
        stored.push_back(static_cast<uint8_t>(value));
        stored.push_back(static_cast<uint8_t>(value >> 8));
    }
    const Floats floats = ToFloats(*words, stored);
    EXPECT_EQ(floats, (Floats{-32767.0f, -32766.0f, -1.0f, 0.0f, 1.0f, 32767.0f, 32768.0f}));
    EXPECT_EQ(FromFloats(*words, floats), stored);
}

TEST(AudioConvert, SignedBytesConvertUnscaled)
{
    auto converter = Converter("Char2Float", "Float2Char");
    EXPECT_EQ(ToFloats(*converter, {0x80, 0xFF, 0x00, 0x7F}),
              (Floats{-128.0f, -1.0f, 0.0f, 127.0f}));
    EXPECT_EQ(FromFloats(*converter, {-128.5f, -1.5f, 126.5f, 127.5f}),
              (Bytes{0x80, 0xFE, 0x7E, 0x7F}));
}

TEST(AudioConvert, TwentyFourBitSamplesExtendTheirSignAndRoundHalvesToEven)
{
    auto converter = Converter("24Int2Float", "Float2Int24");
    EXPECT_EQ(ToFloats(*converter, {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF}),
              (Floats{-8388608.0f, 8388607.0f, -1.0f}));
    EXPECT_EQ(FromFloats(*converter, {2.5f, 3.5f, -9e6f, 9e6f}),
              (Bytes{0x02, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F}));
}

TEST(AudioConvert, ThirtyTwoBitSamplesTakeTheNearestFloatAndLimitAtTheEnds)
{
    auto converter = Converter("32Int2Float", "Float2Int32");
    // 16777217 lies halfway between two floats and goes to the even one.
    EXPECT_EQ(ToFloats(*converter, {0x01, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0x7F}),
              (Floats{16777216.0f, 2147483648.0f}));
    const Bytes out = FromFloats(*converter, {2147483648.0f, -3e9f, 2147483520.0f, -2.5f});
    EXPECT_EQ(out, (Bytes{0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00, 0x80, 0x80, 0xFF, 0xFF, 0x7F,
                          0xFE, 0xFF, 0xFF, 0xFF}));
}

TEST(AudioConvert, NaNBecomesSilenceAndInfinitiesTheEndsOfTheRange)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    auto signedWords = Converter("Short2Float", "Float2Short");
    EXPECT_EQ(FromFloats(*signedWords, {nan, inf, -inf}), (Bytes{0, 0, 0xFF, 0x7F, 0x00, 0x80}));
    auto unsignedBytes = Converter("UChar2Float", "Float2UChar");
    EXPECT_EQ(FromFloats(*unsignedBytes, {nan, inf, -inf}), (Bytes{127, 255, 0}));
}

TEST(AudioConvert, RoundingDoesNotFollowTheThreadsRoundingMode)
{
    const Floats values = {2.5f, 3.5f, -2.5f, 0.49999997f, 1.7f, -1.7f, 126.5f};
    auto converter = Converter("Short2Float", "Float2Short");
    const Bytes expected = FromFloats(*converter, values);
    EXPECT_EQ(expected, (Bytes{2, 0, 4, 0, 0xFE, 0xFF, 0, 0, 2, 0, 0xFE, 0xFF, 126, 0}));
    for (int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO})
    {
        ASSERT_EQ(std::fesetround(mode), 0);
        const Bytes actual = FromFloats(*converter, values);
        std::fesetround(FE_TONEAREST);
        EXPECT_EQ(actual, expected) << "rounding mode " << mode;
    }
}

// ---- Whole samples, counts and the work buffer.

TEST(AudioConvert, OnlyWholeSamplesAreConverted)
{
    const Bytes seven = {1, 0, 2, 0, 3, 0, 9};
    auto shorts = Converter("Short2Float", "Float2Short");
    EXPECT_EQ(shorts->Put(0, seven.data(), 7), 12);
    auto triples = Converter("24Int2Float", "Float2Int24");
    EXPECT_EQ(triples->Put(0, seven.data(), 7), 8);
    EXPECT_EQ(ToFloats(*triples, seven), (Floats{2.0f * 65536.0f + 1.0f, 3.0f * 256.0f}));
    // A reverse block of 7 bytes holds one whole float.
    const float one[2] = {5.0f, 6.0f};
    EXPECT_EQ(shorts->Put(1, one, 7), 2);
}

TEST(AudioConvert, NegativeCountsAndNullBlocksConvertNothing)
{
    auto converter = Converter("Short2Float", "Float2Short");
    const Bytes bytes = {1, 2, 3, 4};
    EXPECT_EQ(converter->Put(0, bytes.data(), -4), 0);
    const void* block = nullptr;
    int32_t outBytes = -1;
    EXPECT_EQ(converter->Get(0, &block, &outBytes), 0);
    EXPECT_EQ(outBytes, 0);
    EXPECT_EQ(converter->Put(0, nullptr, 4), 0);
    EXPECT_EQ(converter->Put(1, bytes.data(), std::numeric_limits<int32_t>::min()), 0);
    auto passThrough = Converter("32Float2Float", "32Float2Float");
    EXPECT_EQ(passThrough->Put(0, bytes.data(), -1), 0);
}

TEST(AudioConvert, WorkBufferGrowsToExactlyTheSizeNeededAndShrinksOnlyThroughStart)
{
    auto converter = Converter("24Int2Float", "Float2Int24");
    EXPECT_EQ(converter->Capacity(), 4096);
    Bytes bytes(3072, 0); // 1024 samples, 4096 bytes of floats: still fits
    EXPECT_EQ(converter->Put(0, bytes.data(), 3072), 4096);
    EXPECT_EQ(converter->Capacity(), 4096);
    bytes.resize(3075 + 2); // 1025 whole samples
    EXPECT_EQ(converter->Put(0, bytes.data(), 3077), 4100);
    EXPECT_EQ(converter->Capacity(), 4100);
    EXPECT_EQ(converter->Put(0, bytes.data(), 300), 400);
    EXPECT_EQ(converter->Capacity(), 4100);
    converter->Start();
    EXPECT_EQ(converter->Capacity(), 4096);

    // Forward 8-bit modes need four bytes per byte, 16-bit two, 32-bit the input size.
    auto chars = Converter("Char2Float", "Float2Char");
    const Bytes block(1500, 0x7F);
    EXPECT_EQ(chars->Put(0, block.data(), 1500), 6000);
    EXPECT_EQ(chars->Capacity(), 6000);
    auto ints = Converter("32Int2Float", "Float2Int32");
    const Bytes wide(5003, 0);
    EXPECT_EQ(ints->Put(0, wide.data(), 5003), 5000);
    EXPECT_EQ(ints->Capacity(), 5003);
    // Reverse modes need the input size.
    EXPECT_EQ(ints->Put(1, wide.data(), 5003), 5000);
    EXPECT_EQ(ints->Capacity(), 5003);
}

TEST(AudioConvert, ResultAfterGrowthIsInTheNewBuffer)
{
    auto converter = Converter("Short2Float", "Float2Short");
    Bytes bytes(2 * 3000);
    for (std::size_t i = 0; i < 3000; ++i)
        bytes[2 * i] = static_cast<uint8_t>(i);
    const Floats floats = ToFloats(*converter, bytes); // 12000 bytes of floats: the buffer grows
    ASSERT_EQ(floats.size(), 3000u);
    for (std::size_t i = 0; i < 3000; ++i)
        ASSERT_EQ(floats[i], static_cast<float>(i % 256)) << i;
    Bytes expected;
    for (int i = 0; i < 5000; ++i)
    {
        expected.push_back(0xFE); // -2, little-endian
        expected.push_back(0xFF);
    }
    EXPECT_EQ(FromFloats(*converter, Floats(5000, -2.0f)), expected); // 20000 bytes in: grows again
    EXPECT_EQ(converter->Capacity(), 20000);
}

TEST(AudioConvert, ForwardResultBeyondTheLargestByteCountGivesNothing)
{
    // 600000000 bytes would become 2.4e9 bytes of floats, more than a count can hold: the block
    // is refused before anything is read (the buffer given is far smaller than claimed).
    auto converter = Converter("Char2Float", "Float2Char");
    const Bytes small(16, 1);
    EXPECT_EQ(converter->Put(0, small.data(), 600000000), 0);
    EXPECT_EQ(converter->Capacity(), 4096);
    const void* block = nullptr;
    int32_t outBytes = -1;
    EXPECT_EQ(converter->Get(0, &block, &outBytes), 0);
    EXPECT_EQ(outBytes, 0);
}

// ---- Pass-through, ports and the stage contract.

TEST(AudioConvert, PassThroughHandsOnTheCallersOwnBlock)
{
    auto converter = Converter("32Float2Float", "32Float2Float");
    const Floats floats = {1.0f, 2.0f};
    EXPECT_EQ(converter->Put(0, floats.data(), 7), 7);
    const void* block = nullptr;
    int32_t outBytes = 0;
    EXPECT_EQ(converter->Get(0, &block, &outBytes), 7);
    EXPECT_EQ(block, floats.data());
    EXPECT_EQ(outBytes, 7);
    EXPECT_EQ(converter->Put(1, floats.data(), 8), 8);
    EXPECT_EQ(converter->Get(1, &block, &outBytes), 8);
    EXPECT_EQ(block, floats.data());
}

TEST(AudioConvert, ConstructedConverterIsStoppedAndPassesThroughOnceStarted)
{
    AudioConvert converter;
    const Bytes bytes = {1, 2, 3, 4};
    EXPECT_EQ(converter.Put(0, bytes.data(), 4), 0);
    converter.SetParam("ConvertMode", "Bogus");
    converter.SetParam("ConvertModeRev", "short2float"); // case matters
    converter.SetParam("RevIQ", "On");
    converter.Start();
    EXPECT_EQ(converter.Put(0, bytes.data(), 4), 4);
    const void* block = nullptr;
    int32_t outBytes = 0;
    converter.Get(0, &block, &outBytes);
    EXPECT_EQ(block, bytes.data());
    EXPECT_EQ(converter.Put(1, bytes.data(), 4), 4);
}

TEST(AudioConvert, UnknownModeWordKeepsThePreviousMode)
{
    auto converter = Converter("Short2Float", "Float2Short");
    converter->SetParam("ConvertMode", "Float2Short"); // a reverse word is no forward mode
    converter->SetParam("ConvertModeRev", "");
    EXPECT_EQ(ToFloats(*converter, {0x10, 0x00}), Floats{16.0f});
    EXPECT_EQ(FromFloats(*converter, {16.0f}), (Bytes{0x10, 0x00}));
}

TEST(AudioConvert, PortOtherThanZeroAndOneGivesNothing)
{
    auto converter = Converter("Short2Float", "Float2Short");
    const Bytes bytes = {1, 0, 2, 0};
    EXPECT_EQ(converter->Put(0, bytes.data(), 4), 8);
    EXPECT_EQ(converter->Put(2, bytes.data(), 4), 0);
    const void* block = nullptr;
    int32_t outBytes = -1;
    EXPECT_EQ(converter->Get(0, &block, &outBytes), 0);
    EXPECT_EQ(outBytes, 0);
}

TEST(AudioConvert, ResultIsHandedOutOnceAndNotAfterStop)
{
    auto converter = Converter("Short2Float", "Float2Short");
    const Bytes bytes = {1, 0, 2, 0};
    const void* block = nullptr;
    int32_t outBytes = -1;
    EXPECT_EQ(converter->Get(0, &block, &outBytes), 0);
    converter->Put(0, bytes.data(), 4);
    EXPECT_EQ(converter->Get(0, &block, &outBytes), 8);
    EXPECT_EQ(converter->Get(0, &block, &outBytes), 0);
    EXPECT_EQ(outBytes, 0);

    converter->Put(0, bytes.data(), 4);
    converter->Stop();
    EXPECT_EQ(converter->Put(0, bytes.data(), 4), 0);
    // The result put before the stop still waits.
    EXPECT_EQ(converter->Get(0, &block, &outBytes), 8);
    EXPECT_EQ(converter->Put(1, bytes.data(), 4), 0);
    EXPECT_EQ(converter->Get(0, &block, &outBytes), 0);
    EXPECT_EQ(converter->Get(0, nullptr, nullptr), 0);
}

} // namespace
