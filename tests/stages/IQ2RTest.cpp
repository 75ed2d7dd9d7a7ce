// Real to I/Q at half the rate, and back.
#include "stages/IQ2R.h"
#include "support/Signals.h"
#include "support/StageRunner.h"

#include <gtest/gtest.h>

#include <memory>

using namespace sigtest;
using sigkit::IQ2R;

namespace {

std::unique_ptr<IQ2R> Started(bool complex, const char* quality = "Low", const char* revIQ = "Off")
{
    auto stage = std::make_unique<IQ2R>();
    stage->SetParam("ModeInp", complex ? "Complex" : "Simpl");
    stage->SetParam("RevIQ", revIQ);
    stage->SetParam("ReSampl", "Off");
    stage->SetParam("Quality", quality);
    stage->Start();
    return stage;
}

} // namespace

TEST(IQ2RStage, OutputCountsAfterTheStartUp)
{
    auto toComplex = Started(false);
    EXPECT_EQ(RunStage(*toComplex, std::vector<float>(1000, 1.0f), 1000).size(), 900u);
    EXPECT_EQ(RunStage(*toComplex, std::vector<float>(1000, 1.0f), 1000).size(), 1000u);
    auto toReal = Started(true);
    EXPECT_EQ(RunStage(*toReal, std::vector<float>(1000, 1.0f), 1000).size(), 950u);
}

TEST(IQ2RStage, QuarterRateToneMovesToZeroAndBack)
{
    // A real tone at Fs/4 becomes a constant pair at Fs/2.
    auto toComplex = Started(false, "Medium");
    const auto iq = RunStage(*toComplex, RealTone(20000, 12000, 48000, 1000.0), 1200);
    EXPECT_NEAR(ComplexToneAmplitude(iq, 0, 24000, 500), 1000.0, 5.0);
    // And a constant pair z comes back as a tone at a quarter of the doubled rate: the doubling
    // makes up for the inserted zeros, so its amplitude is |z|.
    auto toReal = Started(true, "Medium");
    std::vector<float> constant(20000);
    for (std::size_t i = 0; i < constant.size(); i += 2)
    {
        constant[i] = 300.0f;
        constant[i + 1] = 400.0f;
    }
    const auto real = RunStage(*toReal, constant, 1200);
    EXPECT_NEAR(ToneAmplitude(real, 12000, 48000, 1000), 500.0, 5.0);
}

TEST(IQ2RStage, RoundTripKeepsATone)
{
    auto toComplex = Started(false, "High");
    auto toReal = Started(true, "High");
    const auto iq = RunStage(*toComplex, RealTone(48000, 5000, 48000, 1000.0), 1200);
    const auto back = RunStage(*toReal, iq, 1200);
    // 24000 pairs less 500 dropped, then two values per pair less 500 dropped.
    EXPECT_EQ(back.size(), 2u * (24000 - 500) - 500);
    EXPECT_NEAR(ToneAmplitude(back, 5000, 48000, 2000), 1000.0, 10.0);
    EXPECT_LT(ToneAmplitude(back, 19000, 48000, 2000), 1.0);
}

TEST(IQ2RStage, ExchangedIQMirrorsTheOutput)
{
    // A pair tone at +3 kHz (rate 24k) lands at 12 + 3 = 15 kHz; exchanged, at 12 - 3 = 9 kHz.
    const auto tone = ComplexTone(12000, 3000, 24000, 500.0);
    auto plain = Started(true, "Medium");
    auto mirrored = Started(true, "Medium", "On");
    const auto a = RunStage(*plain, tone, 1200);
    const auto b = RunStage(*mirrored, tone, 1200);
    EXPECT_NEAR(ToneAmplitude(a, 15000, 48000, 1000), 500.0, 5.0);
    EXPECT_LT(ToneAmplitude(a, 9000, 48000, 1000), 1.0);
    EXPECT_NEAR(ToneAmplitude(b, 9000, 48000, 1000), 500.0, 5.0);
}

TEST(IQ2RStage, HalfPairsAndPorts)
{
    std::vector<float> input(1999);
    for (std::size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<float>(i % 13);
    auto pieces = Started(true);
    auto whole = Started(true);
    input.push_back(1.0f);
    EXPECT_EQ(RunStage(*pieces, input, 999), RunStage(*whole, input, input.size()));
    const void* block = nullptr;
    int32_t bytes = 0;
    EXPECT_EQ(pieces->Get(0, &block, &bytes), 0);
    pieces->Put(0, input.data(), 400);
    EXPECT_EQ(pieces->Get(1, &block, &bytes), 0);
    pieces->Stop();
    EXPECT_EQ(pieces->Put(0, input.data(), 400), 0);
}

TEST(IQ2RStage, LargeBlocksAreProcessedWhole)
{
    auto big = Started(false);
    auto small = Started(false);
    const auto input = RealTone(400000, 1000, 48000, 100.0);
    EXPECT_EQ(RunStage(*big, input, input.size()), RunStage(*small, input, 1200));
}
