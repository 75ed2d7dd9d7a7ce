// The resampling stage: steps and start-up discarding, block handling, and what it does to tones.
#include "stages/ReSampl.h"
#include "support/Signals.h"
#include "support/StageRunner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>

using namespace sigtest;
using sigkit::ReSampl;

namespace {

std::unique_ptr<ReSampl> Started(float Fd, float FdOut, float Fn, bool complex,
                                 const char* quality = "Low", float Kamp = 1.0f)
{
    auto stage = std::make_unique<ReSampl>();
    stage->SetParam("ModeInp", complex ? "Complex" : "Simpl");
    stage->Fd = Fd;
    stage->FdOut = FdOut;
    stage->Fn = Fn;
    stage->Kamp = Kamp;
    stage->SetParam("Quality", quality);
    stage->Start();
    return stage;
}

} // namespace

TEST(ReSamplStage, EqualRatesDropTheFilterDelayOnce)
{
    auto stage = Started(48000, 48000, 0, true);
    EXPECT_EQ(stage->Discard(), 50);
    const std::vector<float> first(2000, 1.0f); // 1000 pairs
    EXPECT_EQ(RunStage(*stage, first, 2000).size(), 2u * (1000 - 50));
    EXPECT_EQ(RunStage(*stage, first, 2000).size(), 2000u);
    // Real input gives two floats per input once the start-up is over.
    auto real = Started(48000, 48000, 0, false);
    RunStage(*real, std::vector<float>(1000, 1.0f), 1000);
    EXPECT_EQ(RunStage(*real, std::vector<float>(700, 1.0f), 700).size(), 1400u);
}

TEST(ReSamplStage, RatiosFromEightUseTwoSteps)
{
    auto oneStep = Started(79900, 10000, 0, true);
    EXPECT_EQ(oneStep->Ratio(), 7);
    EXPECT_FALSE(oneStep->TwoSteps());
    for (auto [quality, discard] : {std::pair{"Low", 100}, {"Medium", 300}, {"High", 1000}})
    {
        auto twoSteps = Started(96000, 12000, 0, true, quality);
        EXPECT_TRUE(twoSteps->TwoSteps());
        EXPECT_EQ(twoSteps->Fi, 48000.0f);
        EXPECT_EQ(twoSteps->Discard(), discard);
    }
    // 96000 -> 12000 at Low: 80000 pairs give 10000 outputs, of which the first 100 are dropped.
    auto stage = Started(96000, 12000, 0, true);
    EXPECT_EQ(RunStage(*stage, std::vector<float>(160000, 0.5f), 1200).size(), 2u * (10000 - 100));
}

TEST(ReSamplStage, QualityWordsSelectTheDesign)
{
    for (auto [word, taps] : {std::pair{"Low", 101}, {"", 101}, {"low", 101}, {"Off", 101},
                              {"Medium", 301}, {"High", 1001}})
    {
        auto stage = std::make_unique<ReSampl>();
        stage->SetParam("Quality", word);
        stage->Fd = 48000;
        stage->FdOut = 12000;
        EXPECT_EQ(stage->Start(), taps) << word;
    }
}

TEST(ReSamplStage, ShiftsFnToZeroAndKeepsOnlyTheOutputBand)
{
    // Complex input at 240 kHz, Fn = 50 kHz: a tone 3 kHz above Fn comes out at +3 kHz at
    // 48 kHz; one 40 kHz above Fn lies outside the output band.
    const double Fd = 240000;
    auto stage = Started(240000, 48000, 50000, true, "Medium");
    const auto inBand = ComplexTone(48000, 53000, Fd, 1000.0);
    const auto out = RunStage(*stage, inBand, 1200);
    EXPECT_NEAR(ComplexToneAmplitude(out, 3000, 48000, 300), 1000.0, 10.0);
    EXPECT_LT(ComplexToneAmplitude(out, -3000, 48000, 300), 1.0);

    auto other = Started(240000, 48000, 50000, true, "Medium");
    const auto outside = ComplexTone(48000, 90000, Fd, 1000.0);
    // Blackman, 301 taps: measured about 80 dB down.
    EXPECT_LT(Rms(RunStage(*other, outside, 1200), 600), 0.1);
}

TEST(ReSamplStage, RealInputBecomesAnalyticBeforeTheShift)
{
    // A real tone at Fn + 1 kHz comes out at +1 kHz only (its mirror at -Fn - 1 kHz is gone);
    // the analytic signal of a cosine of amplitude A has magnitude A.
    auto stage = Started(48000, 8000, 6000, false, "Medium");
    const auto out = RunStage(*stage, RealTone(48000, 7000, 48000, 1000.0), 1200);
    EXPECT_NEAR(ComplexToneAmplitude(out, 1000, 8000, 300), 1000.0, 10.0);
    EXPECT_LT(ComplexToneAmplitude(out, -1000, 8000, 300), 1.0);
}

TEST(ReSamplStage, OutputRateAboveTheInputRateDeliversEveryOutput)
{
    auto stage = Started(8000, 48000, 0, true, "Medium");
    const auto out = RunStage(*stage, ComplexTone(8000, 1000, 8000, 1000.0), 600);
    EXPECT_NEAR(static_cast<double>(out.size()) / 2, 48000.0 - 150, 3.0);
    EXPECT_NEAR(ComplexToneAmplitude(out, 1000, 48000, 1000), 1000.0, 20.0);
}

TEST(ReSamplStage, GainAndUnusableRates)
{
    auto silent = Started(48000, 12000, 0, true, "Low", 0.0f);
    const auto out = RunStage(*silent, ComplexTone(4800, 1000, 48000, 1000.0), 1200);
    EXPECT_EQ(out.size(), 2u * (1200 - 50));
    for (float v : out)
        ASSERT_EQ(v, 0.0f);
    for (auto rates : std::vector<std::pair<float, float>>{
             {48000, 0}, {0, 48000}, {-48000, 8000}, {NAN, 8000}, {INFINITY, 8000}, {1e30f, 1}})
    {
        auto stage = Started(rates.first, rates.second, 0, true);
        EXPECT_EQ(RunStage(*stage, std::vector<float>(4000, 1.0f), 1000).size(), 0u);
    }
}

TEST(ReSamplStage, BlocksOfAnySizeGiveTheSameOutput)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(-1000.0f, 1000.0f);
    std::vector<float> input(60001);
    for (float& v : input)
        v = value(random);
    auto whole = Started(96000, 11025, 1234, true, "Medium");
    const auto reference = RunStage(*whole, input, input.size()); // one block of 60001 floats
    for (std::size_t block : {3u, 1200u, 4097u})
    {
        auto pieces = Started(96000, 11025, 1234, true, "Medium");
        EXPECT_EQ(RunStage(*pieces, input, block), reference) << block;
    }
    // A second Start repeats the first run exactly.
    whole->Start();
    EXPECT_EQ(RunStage(*whole, input, 999), reference);
}

TEST(ReSamplStage, ReportAndOtherPorts)
{
    auto stage = Started(48000, 48000, 1500, true);
    const void* block = nullptr;
    int32_t bytes = -1;
    EXPECT_EQ(stage->Get(1, &block, &bytes), 0); // nothing before a port-0 Get
    RunStage(*stage, std::vector<float>(400, 1.0f), 400);
    ASSERT_EQ(stage->Get(1, &block, &bytes), 572);
    const auto* report = static_cast<const uint8_t*>(block);
    float f = 0;
    int32_t word = 0;
    std::memcpy(&f, report + 0, 4);
    EXPECT_EQ(f, 1500.0f);
    std::memcpy(&f, report + 32, 4);
    EXPECT_EQ(f, 48000.0f);
    std::memcpy(&word, report + 28, 4);
    EXPECT_EQ(word, 1); // the start-up outputs are behind us
    std::memcpy(&f, report + 40, 4);
    EXPECT_EQ(f, 5.0f);
    std::memcpy(&f, report + 48, 4);
    EXPECT_EQ(f, 10.0f);
    std::memcpy(&word, report + 52, 4);
    EXPECT_EQ(word, 1);
    EXPECT_EQ(stage->Get(1, &block, &bytes), 0); // once per port-0 Get
    EXPECT_EQ(stage->Get(3, &block, &bytes), 0);
    // A second port-0 Get without a Put hands out nothing.
    EXPECT_EQ(stage->Get(0, &block, &bytes), 0);
    stage->Stop();
    EXPECT_EQ(stage->Put(0, block, 400), 0);
}

TEST(ReSamplStage, PendingHalfPairsAcrossBlocks)
{
    auto stage = Started(48000, 48000, 0, true);
    auto reference = Started(48000, 48000, 0, true);
    std::vector<float> input(3000);
    for (std::size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<float>(i % 97);
    EXPECT_EQ(RunStage(*stage, input, 3), RunStage(*reference, input, 3000));
}
