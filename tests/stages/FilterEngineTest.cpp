#include "stages/filters/DualFir.h"
#include "stages/filters/FilterDesign.h"
#include "stages/filters/HilbertSplitter.h"
#include "stages/filters/PhaseOscillator.h"
#include "stages/filters/SampleHistory.h"
#include "stages/kernels/Kernels.h"

#include "support/ReferenceSteps.h"
#include "support/Signals.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// ---- DualFir, through the block filter interface.

// Runs `steps` samples in blocks of `piece` with a unit impulse on I at `impulseI` and on Q at
// `impulseQ` and checks that each channel gives the taps in order after its impulse, 0 elsewhere.
void ExpectImpulseResponses(DualFir& fir, int32_t steps, int32_t impulseI, int32_t impulseQ,
                            int32_t piece = 1000)
{
    const int32_t N = fir.TapCount();
    const auto expected = [&](int32_t step, int32_t impulse) {
        const int32_t j = step - impulse;
        return j >= 0 && j < N ? fir.Taps()[j] : 0.0f;
    };
    std::vector<float> I(static_cast<std::size_t>(steps)), Q(I.size()), yI(I.size()), yQ(I.size());
    if (impulseI < steps)
        I[static_cast<std::size_t>(impulseI)] = 1.0f;
    if (impulseQ < steps)
        Q[static_cast<std::size_t>(impulseQ)] = 1.0f;
    BlockFilter& filter = fir;
    for (int32_t at = 0; at < steps; at += piece)
        filter.StepBlock(I.data() + at, Q.data() + at, std::min(piece, steps - at), yI.data() + at,
                         yQ.data() + at);
    for (int32_t step = 0; step < steps; ++step)
    {
        ASSERT_EQ(yI[static_cast<std::size_t>(step)], expected(step, impulseI)) << "step " << step;
        ASSERT_EQ(yQ[static_cast<std::size_t>(step)], expected(step, impulseQ)) << "step " << step;
    }
}

TEST(DualFir, UnitImpulseOnIReturnsTapsInOrderAndNothingOnQ)
{
    auto fir = std::make_unique<DualFir>();
    EXPECT_FALSE(fir->IsDesigned());
    EXPECT_EQ(fir->DesignLow(48000.0f, 12000.0f, 0.0f, kWindowHamming, 101), 101);
    EXPECT_TRUE(fir->IsDesigned());
    EXPECT_EQ(fir->Delay(), 50);
    std::vector<float> expected(101);
    DesignLowPass(0.25f, 0.0f, kWindowHamming, 101, expected.data());
    EXPECT_EQ(std::vector<float>(fir->Taps(), fir->Taps() + 101), expected);
    ExpectImpulseResponses(*fir, 250, 0, 1000000, 1); // nothing on Q
}

TEST(DualFir, ImpulseResponseIsTheSameAcrossTheHistoryWrap)
{
    auto fir = std::make_unique<DualFir>();
    fir->DesignLow(2.0f, 1.0f, 0.0f, kWindowBlackman, 301);
    // The write position reaches 0 after 102400 samples: impulses shortly before and right at
    // that moment have windows that straddle the end of the history.
    ExpectImpulseResponses(*fir, kHistoryCapacity + 400, kHistoryCapacity - 100, kHistoryCapacity,
                           777);
}

TEST(DualFir, NewDesignAndResetClearTheHistory)
{
    auto fir = std::make_unique<DualFir>();
    fir->DesignLow(2.0f, 1.0f, 0.0f, kWindowHamming, 101);
    const std::vector<float> ones(50, 1.0f);
    std::vector<float> yI(50), yQ(50);
    fir->StepBlock(ones.data(), ones.data(), 50, yI.data(), yQ.data());
    fir->DesignLow(2.0f, 1.0f, 0.0f, kWindowHamming, 101);
    ExpectImpulseResponses(*fir, 150, 3, 4);
    fir->StepBlock(ones.data(), ones.data(), 50, yI.data(), yQ.data());
    fir->Reset();
    ExpectImpulseResponses(*fir, 150, 7, 2);
}

TEST(DualFir, LengthsThatCannotBeRunAreRefusedAndGiveSilence)
{
    auto fir = std::make_unique<DualFir>();
    const float one[2] = {1.0f, 1.0f};
    for (int32_t N : {0, -1, 100, kHistoryCapacity + 1, 1 << 30})
    {
        EXPECT_EQ(fir->DesignLow(2.0f, 1.0f, 0.0f, kWindowHamming, N), 0) << N;
        EXPECT_FALSE(fir->IsDesigned());
        float yI[2] = {-1.0f, -1.0f};
        float yQ[2] = {-1.0f, -1.0f};
        fir->StepBlock(one, one, 2, yI, yQ);
        EXPECT_EQ(yI[1], 0.0f);
        EXPECT_EQ(yQ[1], 0.0f);
    }
    EXPECT_EQ(fir->DesignLow(2.0f, 1.0f, 0.0f, kWindowHamming, 1), 1);
    EXPECT_EQ(fir->Delay(), 0);
    const float I = 4.0f;
    const float Q = 2.0f;
    float yI = 0.0f;
    float yQ = 0.0f;
    fir->StepBlock(&I, &Q, 1, &yI, &yQ);
    EXPECT_EQ(yI, 2.0f); // one tap holding fc = 0.5
    EXPECT_EQ(yQ, 1.0f);
}

// ---- HilbertSplitter, through the block filter interface: real samples in I, Q not read.

// The pairs of x through the splitter in blocks of `piece`.
std::vector<float> Split(BlockFilter& splitter, const std::vector<float>& x, int32_t piece)
{
    const auto n = static_cast<int32_t>(x.size());
    std::vector<float> delayed(x.size()), shifted(x.size()), iq;
    for (int32_t at = 0; at < n; at += piece)
        splitter.StepBlock(x.data() + at, nullptr, std::min(piece, n - at), delayed.data() + at,
                           shifted.data() + at);
    for (std::size_t i = 0; i < x.size(); ++i)
    {
        iq.push_back(delayed[i]);
        iq.push_back(shifted[i]);
    }
    return iq;
}

TEST(HilbertSplitter, DelaysBy150AndShiftsWithTheHilbertTaps)
{
    auto splitter = std::make_unique<HilbertSplitter>();
    EXPECT_EQ(splitter->Delay(), kHilbertCentre);
    // Impulses at the start, and just before the write position wraps, give the same response.
    for (int32_t start : {0, kHistoryCapacity - 200})
    {
        splitter->Reset();
        std::vector<float> x(static_cast<std::size_t>(start + kHilbertTapCount + 10), 0.0f);
        x[static_cast<std::size_t>(start)] = 1.0f;
        const std::vector<float> iq = Split(*splitter, x, 997);
        for (int32_t j = 0; j < kHilbertTapCount + 10; ++j)
        {
            const auto at = static_cast<std::size_t>(2 * (start + j));
            ASSERT_EQ(iq[at + 1], j < kHilbertTapCount ? HilbertTaps()[j] : 0.0f)
                << start << " " << j;
            ASSERT_EQ(iq[at], j == kHilbertCentre ? 1.0f : 0.0f) << start << " " << j;
        }
    }
}

TEST(HilbertSplitter, FirstInputComesOutAsIAfter150SamplesAndAConstantGivesNoQ)
{
    auto splitter = std::make_unique<HilbertSplitter>();
    const std::vector<float> iq = Split(*splitter, std::vector<float>(400, 3.0f), 64);
    for (int sample = 0; sample < 150; ++sample)
        ASSERT_EQ(iq[static_cast<std::size_t>(2 * sample)], 0.0f) << sample;
    EXPECT_EQ(iq[2 * 150], 3.0f);
    // The antisymmetric taps cancel pairwise in exact arithmetic; the 16 partial sums leave only
    // single-precision rounding of values near 3.
    EXPECT_NEAR(iq[2 * 399 + 1], 0.0f, 1e-6f);
}

TEST(HilbertSplitter, ToneStaysAtItsPositiveFrequency)
{
    auto splitter = std::make_unique<HilbertSplitter>();
    const double rate = 48000.0;
    for (double frequency : {1000.0, 6000.0, 17000.0})
    {
        splitter->Reset();
        const std::vector<float> iq =
            Split(*splitter, sigtest::RealTone(8192, frequency, rate, 1000.0), 8192);
        // The real cosine of amplitude 1000 is the pair of 500 at ±f; the analytic signal keeps
        // 1000 at +f (within the transformer's 0.2 % ripple) and cancels -f below 0.2 %.
        EXPECT_NEAR(sigtest::ComplexToneAmplitude(iq, frequency, rate, 400), 1000.0, 2.5)
            << frequency;
        EXPECT_LT(sigtest::ComplexToneAmplitude(iq, -frequency, rate, 400), 2.5) << frequency;
    }
}

// ---- PhaseOscillator and the mixer.

TEST(PhaseOscillator, QuarterRateStepsThroughQuarterTurnsAndWrapsExactlyToZero)
{
    PhaseOscillator oscillator;
    std::vector<double> phases(12);
    std::vector<float> s(12), c(12);
    oscillator.Steps(44100.0, 11025.0, 12, phases.data(), s.data(), c.data());
    for (int cycle = 0; cycle < 3; ++cycle)
    {
        EXPECT_EQ(phases[4 * cycle], kTwoPi / 4);
        EXPECT_EQ(phases[4 * cycle + 1], kTwoPi / 2);
        EXPECT_EQ(phases[4 * cycle + 2], 3 * kTwoPi / 4);
        EXPECT_EQ(phases[4 * cycle + 3], 0.0);
        EXPECT_EQ(s[4 * cycle + 3], 0.0f);
        EXPECT_EQ(c[4 * cycle + 3], 1.0f);
    }
    EXPECT_EQ(oscillator.Phase(), 0.0);
}

TEST(PhaseOscillator, FirstStepGivesTheIncrementAndNegativeFrequenciesWrapUpward)
{
    PhaseOscillator oscillator;
    double phases[4];
    float s[4];
    float c[4];
    oscillator.Steps(1.0, 0.25, 1, phases, s, c);
    EXPECT_EQ(oscillator.Phase(), kTwoPi / 4);
    oscillator.Reset();
    oscillator.Steps(1.0, -0.25, 4, phases, s, c);
    EXPECT_EQ(phases[2], -3 * kTwoPi / 4);
    EXPECT_EQ(phases[3], 0.0);

    oscillator.Reset();
    oscillator.Steps(48000.0, 0.0, 4, phases, s, c);
    for (int i = 0; i < 4; ++i)
    {
        EXPECT_EQ(s[i], 0.0f);
        EXPECT_EQ(c[i], 1.0f);
    }
}

TEST(PhaseOscillator, StepsInBlocksOfAnySizeFollowTheDefinedPhases)
{
    const double rates[][2] = {
        {240000.0, 12000.0}, {44100.0, -1850.0}, {1.0, 0.25}, {48000.0, 100000.0}};
    for (const auto& rate : rates)
    {
        sigtest::ReferenceOscillator single;
        PhaseOscillator block;
        std::vector<double> phases(300);
        std::vector<float> s(300), c(300);
        for (int32_t n : {1, 2, 7, 8, 9, 31, 300, 0, 5})
        {
            block.Steps(rate[0], rate[1], n, phases.data(), s.data(), c.data());
            for (int32_t i = 0; i < n; ++i)
            {
                const auto [es, ec] = single.Step(rate[0], rate[1]);
                ASSERT_EQ(phases[i], single.Phase());
                ASSERT_EQ(s[i], es);
                ASSERT_EQ(c[i], ec);
            }
            ASSERT_EQ(block.Phase(), single.Phase());
        }
    }
}

TEST(Mixer, MovesAToneAtTheOscillatorsFrequencyTo0Hz)
{
    const kernels::KernelTable& table = kernels::Active();
    const std::vector<float> tone = sigtest::ComplexTone(64, 1000.0, 8000.0, 100.0);
    std::vector<float> I(64), Q(64), s(64), c(64);
    std::vector<double> phases(64);
    for (std::size_t n = 0; n < 64; ++n)
    {
        I[n] = tone[2 * n];
        Q[n] = tone[2 * n + 1];
    }
    PhaseOscillator oscillator;
    oscillator.Steps(8000.0, 1000.0, 64, phases.data(), s.data(), c.data());
    table.mix(I.data(), Q.data(), s.data(), c.data(), 64, I.data(), Q.data());
    for (std::size_t n = 0; n < 64; ++n)
    {
        // The oscillator leads the tone by one step: the product is 100·e^(-jπ/4).
        EXPECT_NEAR(I[n], 100.0 * std::cos(kTwoPi / 8), 1e-3); // single precision of 100
        EXPECT_NEAR(Q[n], -100.0 * std::sin(kTwoPi / 8), 1e-3);
    }
    // 1 · e^(-jπ/2) = -j.
    const float one = 1.0f;
    const float zero = 0.0f;
    float outI = 7.0f;
    float outQ = 7.0f;
    table.mix(&one, &zero, &one, &zero, 1, &outI, &outQ);
    EXPECT_EQ(outI, 0.0f);
    EXPECT_EQ(outQ, -1.0f);
}

} // namespace
