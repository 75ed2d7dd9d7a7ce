// AM and FM demodulation: recovered tones, settled values, start-up, block handling.
#include "stages/demod/AM_Demod.h"
#include "support/Signals.h"
#include "support/StageRunner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

using namespace sigtest;
using sigkit::AM_Demod;

namespace {

constexpr double kPi = 3.14159265358979323846;

std::unique_ptr<AM_Demod> Started(const char* mode, float Fd, float FdOut, float Fn,
                                  bool complex = true, const char* quality = "Medium",
                                  float Kamp = 1.0f)
{
    auto stage = std::make_unique<AM_Demod>();
    stage->SetParam("ModeInp", complex ? "Complex" : "Simpl");
    stage->SetParam("Mode", mode);
    stage->Fd = Fd;
    stage->FdOut = FdOut;
    stage->SetParam("Fn", std::to_string(Fn).c_str());
    stage->Kamp = Kamp;
    stage->SetParam("Quality", quality);
    stage->Start();
    return stage;
}

// A carrier at fc, amplitude-modulated by a tone: A (1 + m cos(2π fm t)) e^(j 2π fc t).
std::vector<float> AmSignal(std::size_t pairs, double fc, double fm, double m, double rate)
{
    std::vector<float> x(2 * pairs);
    for (std::size_t n = 0; n < pairs; ++n)
    {
        const double t = static_cast<double>(n) / rate;
        const double envelope = 1000.0 * (1.0 + m * std::cos(2 * kPi * fm * t));
        x[2 * n] = static_cast<float>(envelope * std::cos(2 * kPi * fc * t));
        x[2 * n + 1] = static_cast<float>(envelope * std::sin(2 * kPi * fc * t));
    }
    return x;
}

// A carrier at fc whose frequency swings by ±deviation at the rate fm.
std::vector<float> FmSignal(std::size_t pairs, double fc, double fm, double deviation, double rate)
{
    std::vector<float> x(2 * pairs);
    double phase = 0;
    for (std::size_t n = 0; n < pairs; ++n)
    {
        const double t = static_cast<double>(n) / rate;
        phase += 2 * kPi * (fc + deviation * std::cos(2 * kPi * fm * t)) / rate;
        x[2 * n] = static_cast<float>(1000.0 * std::cos(phase));
        x[2 * n + 1] = static_cast<float>(1000.0 * std::sin(phase));
    }
    return x;
}

} // namespace

TEST(AM_DemodStage, AmRecoversTheModulatingTone)
{
    // 48 kHz complex, carrier at 10 kHz, 1 kHz tone at 50 % modulation, out at 12 kHz.
    auto stage = Started("AM", 48000, 12000, 10000, true, "Medium", 1000.0f);
    const auto out = RunStage(*stage, AmSignal(96000, 10000, 1000, 0.5, 48000), 1200);
    // m · Kamp, less what the running mean (time constant 100 inputs) follows of the envelope.
    const double tone = ToneAmplitude(out, 1000, 12000, 2000);
    EXPECT_NEAR(tone, 500.0, 30.0);
    // Everything else at least 30 dB down (measured: the second harmonic about 38 dB down).
    for (double f : {500.0, 2000.0, 3000.0, 4500.0})
        EXPECT_LT(ToneAmplitude(out, f, 12000, 2000), tone / 31.6) << f;
}

TEST(AM_DemodStage, SteadyCarrierSettlesAtZeroAndSilenceAtMinusKamp)
{
    auto carrier = Started("AM", 48000, 48000, 5000, false, "Low", 100.0f);
    const auto out = RunStage(*carrier, RealTone(20000, 5000, 48000, 800.0), 1200);
    ASSERT_GT(out.size(), 1000u);
    EXPECT_NEAR(out.back(), 0.0f, 0.5f);

    // All-zero input: the mean is 0 at the first sample, becomes 1, and every value is -Kamp.
    auto silence = Started("AM", 48000, 48000, 5000, true, "Low", 100.0f);
    const auto quiet = RunStage(*silence, std::vector<float>(8000, 0.0f), 1000);
    ASSERT_FALSE(quiet.empty());
    for (float v : quiet)
        ASSERT_NEAR(v, -100.0f, 0.5f); // times the prototype's gain at DC
}

TEST(AM_DemodStage, FmOfAnOffsetCarrierIsMinusTheSineOfItsPhaseStep)
{
    auto stage = Started("FM", 48000, 48000, 6000, true, "Low", 1.0f);
    const auto out = RunStage(*stage, ComplexTone(8000, 7000, 48000, 1000.0), 1200);
    const double expected = -std::sin(2 * kPi * 1000.0 / 48000.0); // about -0.1305
    ASSERT_GT(out.size(), 1000u);
    EXPECT_NEAR(out.back(), expected, 1e-3);
    EXPECT_NEAR(out[out.size() / 2], expected, 1e-3);
}

TEST(AM_DemodStage, FmRecoversTheModulatingTone)
{
    auto stage = Started("FM", 240000, 12000, -40000, true, "Medium", 10000.0f);
    const auto out = RunStage(*stage, FmSignal(240000, -40000, 700, 3000, 240000), 1200);
    // The phase step swings by 2π·3000/240000: -Kamp · sin of it, about 785.
    const double tone = ToneAmplitude(out, 700, 12000, 2000);
    EXPECT_NEAR(tone, 10000.0 * std::sin(2 * kPi * 3000 / 240000), 15.0);
    EXPECT_LT(ToneAmplitude(out, 1400, 12000, 2000), tone / 100);
}

TEST(AM_DemodStage, StartUpDiscardingAtEqualRates)
{
    auto am = Started("AM", 48000, 48000, 0, true, "Low");
    EXPECT_EQ(am->Discard(), 550);
    EXPECT_EQ(RunStage(*am, std::vector<float>(2000, 1.0f), 2000).size(), 1000u - 550);
    auto fm = Started("FM", 48000, 48000, 0, true, "Low");
    EXPECT_EQ(fm->Discard(), 50);
    EXPECT_EQ(RunStage(*fm, std::vector<float>(2000, 1.0f), 2000).size(), 1000u - 50);
    EXPECT_EQ(Started("AM", 48000, 12000, 0, true, "High")->Discard(), 1000);
    EXPECT_EQ(Started("FM", 48000, 12000, 0, true, "Medium")->Discard(), 150);
}

TEST(AM_DemodStage, FirstFmValueAfterConstructionIsZero)
{
    // Low quality at equal rates without discarding is not possible, so look at the
    // discriminator through a one-tap view: a resampler output of the first sample alone.
    auto stage = Started("FM", 48000, 48000, 0, true, "Low", 1.0f);
    std::vector<float> input(2 * 200, 0.0f);
    input[0] = 1000.0f; // one phasor, then silence (m = 0 gives the phasor 0)
    const auto out = RunStage(*stage, input, input.size());
    for (float v : out)
        EXPECT_EQ(v, 0.0f);
}

TEST(AM_DemodStage, OutputRateAboveTheInputRate)
{
    // 8000 Hz to 48000 Hz audio: six outputs per input and the tone where it belongs.
    auto stage = Started("AM", 8000, 48000, 0, true, "Medium", 1000.0f);
    const auto out = RunStage(*stage, AmSignal(16000, 0, 440, 0.5, 8000), 600);
    EXPECT_NEAR(static_cast<double>(out.size()), 6.0 * 16000 - 650, 3.0);
    EXPECT_NEAR(ToneAmplitude(out, 440, 48000, 6000), 500.0, 25.0);
}

TEST(AM_DemodStage, BlocksOfThreeFloatsPairAcrossBlocks)
{
    const auto input = AmSignal(3000, 2000, 300, 0.3, 48000);
    auto pieces = Started("AM", 48000, 24000, 2000, true, "Low");
    auto whole = Started("AM", 48000, 24000, 2000, true, "Low");
    EXPECT_EQ(RunStage(*pieces, input, 3), RunStage(*whole, input, input.size()));
}

TEST(AM_DemodStage, ModesWithoutOutput)
{
    for (const char* mode : {"PM", "", "am"})
    {
        auto stage = Started(mode, 48000, 48000, 0);
        EXPECT_EQ(RunStage(*stage, std::vector<float>(4000, 1.0f), 1000).size(), 0u) << mode;
    }
    auto unusable = Started("FM", 48000, 0, 0);
    EXPECT_EQ(RunStage(*unusable, std::vector<float>(4000, 1.0f), 1000).size(), 0u);
}

TEST(AM_DemodStage, ReportCarriesTheWorkingFrequency)
{
    auto stage = Started("AM", 48000, 12000, 7000);
    RunStage(*stage, std::vector<float>(100, 1.0f), 100);
    const void* block = nullptr;
    int32_t bytes = 0;
    ASSERT_EQ(stage->Get(1, &block, &bytes), 572);
    float f = 0;
    std::memcpy(&f, static_cast<const uint8_t*>(block), 4);
    EXPECT_EQ(f, 7000.0f);
    std::memcpy(&f, static_cast<const uint8_t*>(block) + 32, 4);
    EXPECT_EQ(f, 48000.0f);
}
