// The fractional resampler: output patterns and phases for the ratios the stages use, the bank's
// fractional delays, and the rates it refuses.
#include "stages/filters/PolyphaseResampler.h"
#include "stages/filters/GatedInterpolator.h"
#include "support/Signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

using sigkit::GatedInterpolator;
using sigkit::kWindowHamming;
using sigkit::PolyphaseResampler;

namespace {

std::unique_ptr<PolyphaseResampler> Designed(float rateIn, float rateOut, int32_t N = 101,
                                             sigkit::FilterWindow window = 3)
{
    auto r = std::make_unique<PolyphaseResampler>();
    EXPECT_EQ(r->DesignBank(rateIn, rateOut, 0.0f, window, N), N);
    return r;
}

// 1-based indices of the inputs that gave an output.
std::vector<int> OutputInputs(PolyphaseResampler& r, float rateIn, float rateOut, int inputs)
{
    std::vector<int> at;
    float oI = 0;
    float oQ = 0;
    for (int n = 1; n <= inputs; ++n)
        if (r.ResampleStep(1.0f, 0.0f, rateIn, rateOut, oI, oQ) != 0)
            at.push_back(n);
    return at;
}

// Resamples a real stream (on I) and returns the I outputs, following every result of 2.
std::vector<float> Resample(PolyphaseResampler& r, const std::vector<float>& x, float rateIn,
                            float rateOut)
{
    std::vector<float> out;
    for (float v : x)
    {
        float oI = 0;
        float oQ = 0;
        int32_t result = r.ResampleStep(v, 0.0f, rateIn, rateOut, oI, oQ);
        while (result != 0)
        {
            out.push_back(oI);
            if (result != 2)
                break;
            result = r.ResampleStep(v, 0.0f, rateIn, rateOut, oI, oQ);
        }
    }
    return out;
}

} // namespace

TEST(PolyphaseBank, PhasesAreTheProtoypeDelayedByFourAndFiveTaps)
{
    auto r = Designed(2.0f, 1.0f);
    const float* h = r->Phase(PolyphaseResampler::kPrototype);
    // Band-limited interpolation at whole-tap offsets reproduces the prototype, up to the
    // single-precision sine of a multiple of pi.
    for (int j = 0; j < 101; ++j)
    {
        EXPECT_NEAR(r->Phase(0)[j + 4], h[j], 2e-6f) << j;
        EXPECT_NEAR(r->Phase(8)[j + 5], h[j], 2e-6f) << j;
    }
    for (int j = 0; j < 4; ++j)
        EXPECT_NEAR(r->Phase(0)[j], 0.0f, 2e-6f);
    // A half-tap phase lies between its neighbours: its DC gain matches the prototype's.
    double sum4 = 0;
    double sumH = 0;
    for (int j = 0; j < 109; ++j)
        sum4 += r->Phase(4)[j];
    for (int j = 0; j < 101; ++j)
        sumH += h[j];
    EXPECT_NEAR(sum4, sumH, 1e-3);
}

TEST(PolyphaseBank, InvalidLengthsDesignNothing)
{
    auto r = std::make_unique<PolyphaseResampler>();
    EXPECT_EQ(r->DesignBank(2.0f, 1.0f, 0.0f, 3, 100), 0);
    EXPECT_EQ(r->DesignBank(2.0f, 1.0f, 0.0f, 3, 0), 0);
    EXPECT_EQ(r->DesignBank(2.0f, 1.0f, 0.0f, 3, 102399), 0);
    float oI = 1;
    float oQ = 1;
    EXPECT_EQ(r->ResampleStep(1.0f, 1.0f, 1.0f, 1.0f, oI, oQ), 0);
}

TEST(PolyphaseSteps, RatioOneOutputsThePhaseZeroFilter)
{
    auto r = Designed(1.0f, 1.0f);
    // The sums take N + 7 = 108 taps of the phase.
    for (int n = 0; n < 112; ++n)
    {
        float oI = 0;
        float oQ = 0;
        ASSERT_EQ(r->ResampleStep(n == 0 ? 1.0f : 0.0f, 0.0f, 1.0f, 1.0f, oI, oQ), 1);
        EXPECT_EQ(oI, n < 108 ? r->Phase(0)[n] : 0.0f) << n; // the taps in order, exactly
        EXPECT_EQ(oQ, 0.0f);
    }
}

TEST(PolyphaseSteps, DecimatingPatterns)
{
    auto two = Designed(2.0f, 1.0f);
    EXPECT_EQ(OutputInputs(*two, 2.0f, 1.0f, 10), (std::vector<int>{2, 4, 6, 8, 10}));
    auto twoAndHalf = Designed(2.5f, 1.0f);
    EXPECT_EQ(OutputInputs(*twoAndHalf, 2.5f, 1.0f, 15), (std::vector<int>{3, 5, 8, 10, 13, 15}));
    auto ten = Designed(10.0f, 1.0f);
    EXPECT_EQ(OutputInputs(*ten, 10.0f, 1.0f, 35), (std::vector<int>{10, 20, 30}));
    auto forty = Designed(40.0f, 1.0f);
    EXPECT_EQ(OutputInputs(*forty, 40.0f, 1.0f, 100), (std::vector<int>{40, 80}));
}

TEST(PolyphaseSteps, GateAtTwoPassesTwoAndRefusesOne)
{
    auto r = std::make_unique<GatedInterpolator>();
    ASSERT_EQ(r->DesignBank(2.0f, 1.0f, 0.0f, kWindowHamming, 101), 101);
    std::vector<int32_t> results;
    for (int n = 0; n < 9; ++n)
    {
        float oI = 0;
        float oQ = 0;
        results.push_back(r->GatedFilterStep(1.0f, 0.0f, 2.0f, 1.0f, oI, oQ));
    }
    EXPECT_EQ(results, (std::vector<int32_t>{1, 1, 0, 1, 1, 0, 1, 1, 0}));
}

// A tone inside the output band comes out at its frequency; one above half the output rate does
// not. Holds for every path: R < 8 (interpolated phases), 8 <= R < 32, R >= 32.
TEST(PolyphaseSteps, TonesThroughEveryDecimatingPath)
{
    for (float R : {2.5f, 5.5125f, 10.0f, 40.0f})
    {
        const double rateIn = 48000.0 * R;
        auto r = Designed(static_cast<float>(rateIn), 48000.0f, 301, 4);
        const auto inBand =
            sigtest::RealTone(static_cast<std::size_t>(rateIn * 0.25), 3000.0, rateIn, 1.0);
        const auto out = Resample(*r, inBand, static_cast<float>(rateIn), 48000.0f);
        EXPECT_NEAR(sigtest::ToneAmplitude(out, 3000.0, 48000.0, 400), 1.0, 0.01) << R;

        auto s = Designed(static_cast<float>(rateIn), 48000.0f, 301, 4);
        // Far enough past the transition band of each design.
        const double rejectedAt = R >= 32.0f ? 100000.0 : 30000.0;
        const auto outside =
            sigtest::RealTone(static_cast<std::size_t>(rateIn * 0.25), rejectedAt, rateIn, 1.0);
        const auto rejected = Resample(*s, outside, static_cast<float>(rateIn), 48000.0f);
        // Blackman, 301 taps: more than 60 dB down.
        EXPECT_LT(sigtest::Rms(rejected, 400), 1e-3) << R;
    }
}

TEST(PolyphaseSteps, InterpolatingDeliversEveryOutput)
{
    // 8000 Hz to 48000 Hz: six outputs per input, a 1 kHz tone stays a 1 kHz tone.
    auto r = Designed(8000.0f, 48000.0f, 301, 4);
    const auto x = sigtest::RealTone(8000, 1000.0, 8000.0, 1.0);
    const auto out = Resample(*r, x, 8000.0f, 48000.0f);
    EXPECT_NEAR(static_cast<double>(out.size()), 48000.0, 2.0);
    const double gain = sigtest::ToneAmplitude(out, 1000.0, 48000.0, 3000);
    EXPECT_NEAR(gain, 1.0, 0.02);
    EXPECT_LT(sigtest::ToneAmplitude(out, 7000.0, 48000.0, 3000), 0.01 * gain);
}

TEST(PolyphaseSteps, UnusableRatiosGiveNoOutputAndNeverLoop)
{
    auto r = Designed(1.0f, 1.0f);
    auto gate = std::make_unique<GatedInterpolator>();
    gate->DesignBank(1.0f, 1.0f, 0.0f, kWindowHamming, 101);
    float oI = 0;
    float oQ = 0;
    const float nan = std::nanf("");
    for (auto rates : std::vector<std::pair<float, float>>{{48000.0f, 0.0f},
                                                           {0.0f, 48000.0f},
                                                           {-8000.0f, 8000.0f},
                                                           {nan, 1.0f},
                                                           {1.0f, INFINITY},
                                                           {1.0f, 1e9f}})
    {
        for (int n = 0; n < 100; ++n)
        {
            EXPECT_EQ(r->ResampleStep(1.0f, 1.0f, rates.first, rates.second, oI, oQ), 0);
            EXPECT_EQ(gate->GatedFilterStep(1.0f, 1.0f, rates.first, rates.second, oI, oQ), 0);
        }
    }
    // Right at the limit it still works.
    auto up = Designed(1.0f, 4096.0f);
    int outputs = 0;
    for (int n = 0; n < 3; ++n)
        for (int32_t res = up->ResampleStep(1.0f, 0.0f, 1.0f, 4096.0f, oI, oQ); res != 0;
             res = res == 2 ? up->ResampleStep(0.0f, 0.0f, 1.0f, 4096.0f, oI, oQ) : 0)
            ++outputs;
    EXPECT_NEAR(outputs, 3 * 4096, 2);
}
