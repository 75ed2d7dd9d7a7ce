#include "stages/filters/ComplexMixer.h"
#include "stages/filters/DualFir.h"
#include "stages/filters/FilterDesign.h"
#include "stages/filters/HilbertSplitter.h"
#include "stages/filters/PhaseOscillator.h"
#include "stages/filters/SampleHistory.h"

#include "support/Signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

using namespace sigkit;

// ---- SampleHistory.

TEST(SampleHistory, WritePositionWrapsFrom0ToTheLastEntry)
{
    EXPECT_EQ(NextWritePosition(0), 102399);
    EXPECT_EQ(NextWritePosition(102399), 102398);
    EXPECT_EQ(NextWritePosition(1), 0);
}

TEST(SampleHistory, WrappedWindowIsCopiedInOrder)
{
    std::vector<float> history(2 * kHistoryCapacity);
    for (int32_t i = 0; i < 2 * kHistoryCapacity; ++i)
        history[i] = static_cast<float>(i);
    std::vector<float> scratch(8, -1.0f);
    // In place while the run fits.
    EXPECT_EQ(HistoryWindow(history.data(), 102396, 4, scratch.data()), history.data() + 102396);
    const float* window = HistoryWindow(history.data(), 102398, 4, scratch.data());
    EXPECT_EQ(window, scratch.data());
    EXPECT_EQ(std::vector<float>(window, window + 4), (std::vector<float>{102398, 102399, 0, 1}));
    // (I, Q) pairs move together.
    window = HistoryWindow(history.data(), 102399, 2, scratch.data(), 2);
    EXPECT_EQ(std::vector<float>(window, window + 4),
              (std::vector<float>{2 * 102399, 2 * 102399 + 1, 0, 1}));
}

// ---- DualFir.

// Runs `steps` samples with a unit impulse on channel A at `impulseA` and on B at `impulseB`
// and checks that each channel gives the taps in order after its impulse, 0 elsewhere.
void ExpectImpulseResponses(DualFir& fir, int32_t steps, int32_t impulseA, int32_t impulseB)
{
    const int32_t N = fir.TapCount();
    const auto expected = [&](int32_t step, int32_t impulse) {
        const int32_t j = step - impulse;
        return j >= 0 && j < N ? fir.Taps()[j] : 0.0f;
    };
    for (int32_t step = 0; step < steps; ++step)
    {
        float ya = -1.0f;
        float yb = -1.0f;
        ASSERT_EQ(fir.Step(step == impulseA ? 1.0f : 0.0f, step == impulseB ? 1.0f : 0.0f, ya, yb),
                  1);
        ASSERT_EQ(ya, expected(step, impulseA)) << "step " << step;
        ASSERT_EQ(yb, expected(step, impulseB)) << "step " << step;
    }
}

TEST(DualFir, UnitImpulseOnAReturnsTapsInOrderAndNothingOnB)
{
    auto fir = std::make_unique<DualFir>();
    EXPECT_FALSE(fir->IsDesigned());
    EXPECT_EQ(fir->DesignLow(48000.0f, 12000.0f, 0.0f, kWindowHamming, 101), 101);
    EXPECT_TRUE(fir->IsDesigned());
    std::vector<float> expected(101);
    DesignLowPass(0.25f, 0.0f, kWindowHamming, 101, expected.data());
    EXPECT_EQ(std::vector<float>(fir->Taps(), fir->Taps() + 101), expected);
    ExpectImpulseResponses(*fir, 250, 0, 1000000); // nothing on B
}

TEST(DualFir, ImpulseResponseIsTheSameAcrossTheHistoryWrap)
{
    auto fir = std::make_unique<DualFir>();
    fir->DesignLow(2.0f, 1.0f, 0.0f, kWindowBlackman, 301);
    // The write position reaches 0 after 102400 steps: impulses shortly before and right at
    // that moment have windows that straddle the end of the history.
    ExpectImpulseResponses(*fir, kHistoryCapacity + 400, kHistoryCapacity - 100, kHistoryCapacity);
}

TEST(DualFir, HighPassDesignRunsTheHighPassTaps)
{
    auto fir = std::make_unique<DualFir>();
    EXPECT_EQ(fir->DesignHigh(44100.0f, 300.0f, 0.0f, kWindowNuttall, 1001), 1001);
    std::vector<float> expected(1001);
    DesignHighPass(300.0f / 44100.0f, 0.0f, kWindowNuttall, 1001, expected.data());
    EXPECT_EQ(std::vector<float>(fir->Taps(), fir->Taps() + 1001), expected);
    ExpectImpulseResponses(*fir, 1100, 5, 7);
}

TEST(DualFir, NewDesignClearsTheHistory)
{
    auto fir = std::make_unique<DualFir>();
    fir->DesignLow(2.0f, 1.0f, 0.0f, kWindowHamming, 101);
    float ya = 0.0f;
    float yb = 0.0f;
    for (int i = 0; i < 50; ++i)
        fir->Step(1.0f, -1.0f, ya, yb);
    fir->DesignLow(2.0f, 1.0f, 0.0f, kWindowHamming, 101);
    ExpectImpulseResponses(*fir, 150, 3, 4);
}

TEST(DualFir, LengthsThatCannotBeRunAreRefusedAndGiveSilence)
{
    auto fir = std::make_unique<DualFir>();
    for (int32_t N : {0, -1, 100, kHistoryCapacity + 1, 1 << 30})
    {
        EXPECT_EQ(fir->DesignLow(2.0f, 1.0f, 0.0f, kWindowHamming, N), 0) << N;
        EXPECT_FALSE(fir->IsDesigned());
        float ya = -1.0f;
        float yb = -1.0f;
        EXPECT_EQ(fir->Step(1.0f, 1.0f, ya, yb), 1);
        EXPECT_EQ(ya, 0.0f);
        EXPECT_EQ(yb, 0.0f);
    }
    EXPECT_EQ(fir->DesignLow(2.0f, 1.0f, 0.0f, kWindowHamming, 1), 1);
    float ya = 0.0f;
    float yb = 0.0f;
    fir->Step(4.0f, 2.0f, ya, yb);
    EXPECT_EQ(ya, 2.0f); // one tap holding fc = 0.5
    EXPECT_EQ(yb, 1.0f);
}

// ---- HilbertSplitter.

TEST(HilbertSplitter, DelaysBy150AndShiftsWithTheHilbertTaps)
{
    auto splitter = std::make_unique<HilbertSplitter>();
    // Impulses just before the write position wraps, and long after, give the same response.
    for (int32_t start : {0, kHistoryCapacity - 200})
    {
        splitter->Reset();
        float delayed = 0.0f;
        float shifted = 0.0f;
        for (int32_t i = 0; i < start; ++i)
            splitter->Step(0.0f, delayed, shifted);
        for (int32_t j = 0; j < kHilbertTapCount + 10; ++j)
        {
            ASSERT_EQ(splitter->Step(j == 0 ? 1.0f : 0.0f, delayed, shifted), 0);
            ASSERT_EQ(shifted, j < kHilbertTapCount ? HilbertTaps()[j] : 0.0f) << start << " " << j;
            ASSERT_EQ(delayed, j == kHilbertCentre ? 1.0f : 0.0f) << start << " " << j;
        }
    }
}

TEST(HilbertSplitter, FirstInputComesOutAsIAtStep151AndAConstantGivesNoQ)
{
    auto splitter = std::make_unique<HilbertSplitter>();
    float delayed = -1.0f;
    float shifted = -1.0f;
    for (int step = 1; step <= 150; ++step)
    {
        splitter->Step(3.0f, delayed, shifted);
        ASSERT_EQ(delayed, 0.0f) << step;
    }
    splitter->Step(3.0f, delayed, shifted);
    EXPECT_EQ(delayed, 3.0f);
    for (int step = 152; step <= 400; ++step)
        splitter->Step(3.0f, delayed, shifted);
    // The antisymmetric taps cancel pairwise in exact arithmetic; the 16 partial sums leave only
    // single-precision rounding of values near 3.
    EXPECT_NEAR(shifted, 0.0f, 1e-6f);
}

TEST(HilbertSplitter, ToneStaysAtItsPositiveFrequency)
{
    auto splitter = std::make_unique<HilbertSplitter>();
    const double rate = 48000.0;
    for (double frequency : {1000.0, 6000.0, 17000.0})
    {
        splitter->Reset();
        const std::vector<float> x = sigtest::RealTone(8192, frequency, rate, 1000.0);
        std::vector<float> iq;
        for (float sample : x)
        {
            float delayed = 0.0f;
            float shifted = 0.0f;
            splitter->Step(sample, delayed, shifted);
            iq.push_back(delayed);
            iq.push_back(shifted);
        }
        // The real cosine of amplitude 1000 is the pair of 500 at ±f; the analytic signal keeps
        // 1000 at +f (within the transformer's 0.2 % ripple) and cancels -f below 0.2 %.
        EXPECT_NEAR(sigtest::ComplexToneAmplitude(iq, frequency, rate, 400), 1000.0, 2.5)
            << frequency;
        EXPECT_LT(sigtest::ComplexToneAmplitude(iq, -frequency, rate, 400), 2.5) << frequency;
    }
}

// ---- PhaseOscillator and ComplexMixer.

TEST(PhaseOscillator, QuarterRateStepsThroughQuarterTurnsAndWrapsExactlyToZero)
{
    PhaseOscillator oscillator;
    double s = 0.0;
    double c = 0.0;
    for (int cycle = 0; cycle < 3; ++cycle)
    {
        EXPECT_EQ(oscillator.Step(44100.0, 11025.0, s, c), 0);
        EXPECT_EQ(oscillator.Phase(), kTwoPi / 4);
        EXPECT_EQ(oscillator.Step(44100.0, 11025.0, s, c), 0);
        EXPECT_EQ(oscillator.Phase(), kTwoPi / 2);
        EXPECT_EQ(oscillator.Step(44100.0, 11025.0, s, c), 0);
        EXPECT_EQ(oscillator.Phase(), 3 * kTwoPi / 4);
        EXPECT_EQ(oscillator.Step(44100.0, 11025.0, s, c), 1);
        EXPECT_EQ(oscillator.Phase(), 0.0);
        EXPECT_EQ(s, 0.0);
        EXPECT_EQ(c, 1.0);
    }
}

TEST(PhaseOscillator, FirstStepGivesTheIncrementAndNegativeFrequenciesWrapUpward)
{
    PhaseOscillator oscillator;
    double s = 0.0;
    double c = 0.0;
    oscillator.Step(1.0, 0.25, s, c);
    EXPECT_EQ(oscillator.Phase(), kTwoPi / 4);
    oscillator.Reset();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(oscillator.Step(1.0, -0.25, s, c), 0);
    EXPECT_EQ(oscillator.Step(1.0, -0.25, s, c), 1);
    EXPECT_EQ(oscillator.Phase(), 0.0);

    oscillator.Reset();
    for (int i = 0; i < 10; ++i)
    {
        oscillator.Step(48000.0, 0.0, s, c);
        EXPECT_EQ(s, 0.0);
        EXPECT_EQ(c, 1.0);
    }
}

TEST(ComplexMixer, MultipliesByTheConjugatePhasor)
{
    float I = 0.0f;
    float Q = 0.0f;
    ComplexMixer::Mix(3.0f, -2.0f, 1.0f, 0.0f, I, Q);
    EXPECT_EQ(I, 3.0f);
    EXPECT_EQ(Q, -2.0f);
    // 1 · e^(-jπ/2) = -j.
    ComplexMixer::Mix(1.0f, 0.0f, 0.0f, 1.0f, I, Q);
    EXPECT_EQ(I, 0.0f);
    EXPECT_EQ(Q, -1.0f);
    // A tone at +f mixed with the oscillator at f lands at 0 Hz.
    PhaseOscillator oscillator;
    const std::vector<float> tone = sigtest::ComplexTone(64, 1000.0, 8000.0, 100.0);
    for (std::size_t n = 0; n < 64; ++n)
    {
        double s = 0.0;
        double c = 0.0;
        oscillator.Step(8000.0, 1000.0, s, c);
        // The oscillator leads the tone by one step: the product is 100·e^(-jπ/4).
        ComplexMixer::Mix(tone[2 * n], tone[2 * n + 1], static_cast<float>(c),
                          static_cast<float>(s), I, Q);
        EXPECT_NEAR(I, 100.0 * std::cos(kTwoPi / 8), 1e-3); // single precision of 100
        EXPECT_NEAR(Q, -100.0 * std::sin(kTwoPi / 8), 1e-3);
    }
}

} // namespace
