// The demodulators' formulas in every variant's form: AM with its oscillator and running mean as
// defined sample by sample, FM against the scalar form; in one call or in pieces of any size.
#include "stages/demod/DemodKernels.h"
#include "KernelVariants.h"
#include "stages/demod/AmEnvelope.h"
#include "stages/filters/PhaseOscillator.h"
#include "support/ReferenceSteps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

using namespace sigkit;
using sigtest::Bits;
using sigtest::KernelVariants;
using sigtest::MixedValues;

// AM demodulation with the oscillator, as defined sample by sample.
std::vector<float> ReferenceAm(const std::vector<float>& I, const std::vector<float>& Q, double fs,
                               double f, double& phase, float kamp, float& mean)
{
    sigtest::ReferenceOscillator oscillator;
    std::vector<float> y;
    for (std::size_t i = 0; i < I.size(); ++i)
    {
        const auto [mI, mQ] = sigtest::Shift(oscillator, fs, f, I[i], Q[i]);
        const float m = std::sqrt(mI * mI + mQ * mQ);
        mean =
            static_cast<float>(demod::kMeanNew * m + demod::kMeanKeep * static_cast<double>(mean));
        if (mean == 0.0f)
            mean = 1.0f;
        y.push_back(
            static_cast<float>((static_cast<double>(m / mean) - 1.0) * static_cast<double>(kamp)));
    }
    phase = oscillator.Phase();
    return y;
}

TEST_P(KernelVariants, AmDemodulationGivesTheDefinedValuesInPiecesOfAnySize)
{
    std::mt19937 random(77);
    std::uniform_real_distribution<float> value(-3000.0f, 3000.0f);
    std::vector<float> I(2000), Q(2000);
    for (std::size_t i = 0; i < I.size(); ++i)
    {
        I[i] = value(random);
        Q[i] = value(random);
    }
    // Silence at the start (a new stream's mean comes out 0 and is taken as 1; every form must
    // make that check on its first steps) and in the middle.
    std::fill(I.begin(), I.begin() + 40, 0.0f);
    std::fill(Q.begin(), Q.begin() + 40, 0.0f);
    std::fill(I.begin() + 100, I.begin() + 300, 0.0f);
    std::fill(Q.begin() + 100, Q.begin() + 300, 0.0f);
    const double increment = PhaseOscillator::Increment(240000.0, -20000.0);
    for (int mode : {FE_TONEAREST, FE_UPWARD})
    {
        ASSERT_EQ(std::fesetround(mode), 0);
        double referencePhase = 0.0;
        float referenceMean = 0.0f;
        const std::vector<float> expected =
            ReferenceAm(I, Q, 240000.0, -20000.0, referencePhase, 2.0f, referenceMean);
        for (int32_t piece : {1, 7, 8, 23, 24, 25, 333, 2000})
        {
            double phase = 0.0;
            float mean = 0.0f;
            std::vector<double> phases(2000);
            std::vector<float> y(2000);
            for (int32_t at = 0; at < 2000; at += piece)
            {
                const int32_t n = std::min(piece, 2000 - at);
                demod->amDemodulate(I.data() + at, Q.data() + at, n, &phase, increment, kTwoPi,
                                    2.0f, &mean, phases.data() + at, y.data() + at);
            }
            for (std::size_t i = 0; i < y.size(); ++i)
                ASSERT_EQ(Bits(y[i]), Bits(expected[i]))
                    << "piece " << piece << " mode " << mode << " at " << i;
            EXPECT_EQ(phase, referencePhase);
            EXPECT_EQ(Bits(mean), Bits(referenceMean));
        }
        std::fesetround(FE_TONEAREST);
    }
}

TEST_P(KernelVariants, FmDiscriminatorGivesTheScalarBitsInOneCallOrInPieces)
{
    std::vector<float> I = MixedValues(300, 35);
    std::vector<float> Q = MixedValues(300, 36);
    I[5] = Q[5] = 0.0f; // magnitude 0 divides by 1
    I[40] = std::numeric_limits<float>::infinity();
    Q[77] = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> expected(300);
    float prev[2] = {0.25f, -0.5f};
    ScalarDemod().fmDiscriminate(I.data(), Q.data(), 300, 3.0f, prev, expected.data());
    const float last[2] = {prev[0], prev[1]};
    // The scalar form itself against the formula.
    for (std::size_t i = 1; i < 300; ++i)
    {
        float m = std::sqrt(I[i] * I[i] + Q[i] * Q[i]);
        float m0 = std::sqrt(I[i - 1] * I[i - 1] + Q[i - 1] * Q[i - 1]);
        m = m == 0.0f ? 1.0f : m;
        m0 = m0 == 0.0f ? 1.0f : m0;
        const float value = (Q[i - 1] / m0 * (I[i] / m) - I[i - 1] / m0 * (Q[i] / m)) * 3.0f;
        ASSERT_TRUE(Bits(expected[i]) == Bits(value) ||
                    (std::isnan(expected[i]) && std::isnan(value)))
            << i;
    }
    for (int32_t piece : {1, 7, 8, 16, 17, 300})
    {
        std::vector<float> actual(300);
        float state[2] = {0.25f, -0.5f};
        for (int32_t at = 0; at < 300; at += piece)
            demod->fmDiscriminate(I.data() + at, Q.data() + at, std::min(piece, 300 - at), 3.0f,
                                  state, actual.data() + at);
        for (int32_t i = 0; i < 300; ++i)
            ASSERT_EQ(Bits(actual[i]), Bits(expected[i])) << "piece=" << piece << " i=" << i;
        EXPECT_EQ(Bits(state[0]), Bits(last[0]));
        EXPECT_EQ(Bits(state[1]), Bits(last[1]));
    }
}

} // namespace
