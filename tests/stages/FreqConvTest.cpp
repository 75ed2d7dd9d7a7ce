// The frequency-conversion stage: a band moved to 0 Hz and kept, at the input rate.
#include "stages/FreqConv.h"
#include "support/Signals.h"
#include "support/StageRunner.h"

#include <gtest/gtest.h>

#include <memory>

using namespace sigtest;
using sigkit::FreqConv;

namespace {

std::unique_ptr<FreqConv> Started(float Fd, float Fn, float Fp, bool complex,
                                  const char* quality = "Medium", float Kamp = 1.0f)
{
    auto stage = std::make_unique<FreqConv>();
    stage->SetParam("ModeInp", complex ? "Complex" : "Simpl");
    stage->Fd = Fd;
    stage->Fn = Fn;
    stage->Fp = Fp;
    stage->Kamp = Kamp;
    stage->SetParam("Quality", quality);
    stage->Start();
    return stage;
}

} // namespace

TEST(FreqConvStage, FullBandAtZeroShiftIsTheInputItself)
{
    auto stage = Started(48000, 0, 48000, true, "Low");
    const auto input = ComplexTone(3000, 5000, 48000, 1000.0);
    const auto out = RunStage(*stage, input, 1200);
    // Less the start-up outputs: the filter's delay (and the fast filter's gathering of hops).
    ASSERT_EQ(out.size(), input.size() - 2 * static_cast<std::size_t>(stage->Discard()));
    EXPECT_GE(stage->Discard(), 50);
    for (std::size_t i = 0; i < out.size(); ++i)
        ASSERT_NEAR(out[i], input[i], 1e-3) << i; // up to single-precision sums
}

TEST(FreqConvStage, ToneAtFnBecomesAConstant)
{
    auto stage = Started(48000, 6000, 2000, false, "Medium", 2.0f);
    const auto out = RunStage(*stage, RealTone(24000, 6000, 48000, 1000.0), 1200);
    // The analytic tone has magnitude A; times Kamp.
    EXPECT_NEAR(ComplexToneAmplitude(out, 0, 48000, 1000), 2000.0, 10.0);
    EXPECT_LT(ComplexToneAmplitude(out, -12000, 48000, 1000), 1.0);
}

TEST(FreqConvStage, KeepsTheBandAndRejectsOutsideIt)
{
    auto inside = Started(48000, 6000, 2000, true);
    const auto kept = RunStage(*inside, ComplexTone(24000, 6500, 48000, 1000.0), 1200);
    EXPECT_NEAR(ComplexToneAmplitude(kept, 500, 48000, 1000), 1000.0, 15.0);
    auto outside = Started(48000, 6000, 2000, true);
    const auto rejected = RunStage(*outside, ComplexTone(24000, 8000, 48000, 1000.0), 1200);
    // Blackman, 301 taps, 1 kHz past the edge: measured about 60 dB down.
    EXPECT_LT(Rms(rejected, 1000), 2.0);
}

TEST(FreqConvStage, NegativeFnMovesTheSpectrumUp)
{
    auto stage = Started(48000, -3000, 4000, true);
    const auto out = RunStage(*stage, ComplexTone(12000, -3500, 48000, 100.0), 1200);
    EXPECT_NEAR(ComplexToneAmplitude(out, -500, 48000, 1000), 100.0, 2.0);
}

TEST(FreqConvStage, ZeroBandIsSilentAndBadRatesGiveNothing)
{
    auto silent = Started(48000, 0, 0, true);
    const auto out = RunStage(*silent, ComplexTone(2000, 100, 48000, 100.0), 1000);
    EXPECT_EQ(out.size(), 2u * (2000 - static_cast<std::size_t>(silent->Discard())));
    for (float v : out)
        ASSERT_EQ(v, 0.0f);
    auto none = Started(0, 0, 1000, true);
    EXPECT_EQ(RunStage(*none, std::vector<float>(1000, 1.0f), 1000).size(), 0u);
}

TEST(FreqConvStage, OddComplexBlocksPairAcrossBlocks)
{
    auto pieces = Started(48000, 1000, 5000, true, "Low");
    auto whole = Started(48000, 1000, 5000, true, "Low");
    std::vector<float> input(2001);
    for (std::size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<float>((i * 31) % 101) - 50.0f;
    EXPECT_EQ(RunStage(*pieces, input, 7), RunStage(*whole, input, input.size()));
}
