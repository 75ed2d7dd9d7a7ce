// The oscillator kernel of every variant: the defined phases, and their sines and cosines equal to
// the standard library's rounded to float. The vector variants evaluate their own polynomials;
// these tests count the floats that differ from the standard library's over tens of millions of
// phases.
#include "KernelVariants.h"
#include "stages/filters/PhaseOscillator.h"
#include "stages/kernels/Kernels.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <vector>

namespace {

using namespace sigkit;
using kernels::KernelTable;
using sigtest::Bits;
using sigtest::KernelVariants;

// The oscillator's phases as defined: one add per step, wrapped at most once.
std::vector<double> ReferencePhases(double increment, int32_t n, double start)
{
    std::vector<double> phases;
    double p = start;
    for (int32_t i = 0; i < n; ++i)
    {
        p = increment + p;
        if (p >= kTwoPi)
            p = p - kTwoPi;
        else if (p <= -kTwoPi)
            p = p + kTwoPi;
        phases.push_back(p);
    }
    return phases;
}

// The sine and cosine of any phase through the oscillator: n steps of -0.0 from that phase, with a
// wrap no finite phase reaches, stay at it. Result: the elements the standard library computed.
int32_t SinCosAt(const KernelTable& table, double phase, int32_t n, float* s, float* c)
{
    double phases[64];
    return table.oscillate(&phase, -0.0, DBL_MAX, n < 64 ? n : 64, phases, s, c);
}

struct Tally
{
    long long phases = 0;
    long long mismatches = 0;
    long long fromLibrary = 0;

    void Compare(double phase, float s, float c)
    {
        ++phases;
        if (Bits(s) == Bits(static_cast<float>(std::sin(phase))) &&
            Bits(c) == Bits(static_cast<float>(std::cos(phase))))
            return;
        if (mismatches < 5)
            ADD_FAILURE() << "phase " << phase;
        ++mismatches;
    }
};

TEST_P(KernelVariants, OscillatorSinesAndCosinesEqualTheStandardLibraryOverMillionsOfPhases)
{
    if (IsScalar())
        GTEST_SKIP() << "the scalar variant calls the standard library itself";
    Tally tally;
    constexpr int32_t kBlock = 1 << 16;
    std::vector<double> phases(kBlock);
    std::vector<float> s(kBlock), c(kBlock);
    const auto run = [&](double fs, double f, int blocks) {
        double phase = 0.0;
        for (int block = 0; block < blocks; ++block)
        {
            tally.fromLibrary +=
                variant->oscillate(&phase, PhaseOscillator::Increment(fs, f), kTwoPi, kBlock,
                                   phases.data(), s.data(), c.data());
            for (int32_t i = 0; i < kBlock; ++i)
                tally.Compare(phases[i], s[i], c[i]);
        }
    };
    // The phases the oscillator produces: the benchmark and example rates, quarter turns, and
    // random ratios f / fs in both directions, each over many wraps.
    const double rates[][2] = {{240000, 12000},   {240000, 20000}, {240000, 10000},
                               {44100, 1850},     {44100, 11025},  {48000, -12000},
                               {2400000, 10000},  {1.0, 0.25},     {1.0, -0.25},
                               {240000, 12345.6}, {8000, 3999},    {96000, -47999}};
    for (const auto& rate : rates)
        run(rate[0], rate[1], 8);
    std::mt19937_64 random(2024);
    std::uniform_real_distribution<double> ratio(-0.5, 0.5);
    for (int k = 0; k < 64; ++k)
        run(1.0, ratio(random), 2);
    // Random phases over the oscillator's whole range, and phases close to multiples of π/4,
    // where the reduction cancels most and the results sit near 0, ±1 and ±√½.
    std::uniform_real_distribution<double> anywhere(-kTwoPi, kTwoPi);
    std::uniform_int_distribution<int> eighth(-8, 8);
    std::uniform_int_distribution<int> scale(-52, -10);
    for (int k = 0; k < 64 * kBlock; ++k)
    {
        for (const double phase :
             {anywhere(random),
              eighth(random) * (M_PI / 4) + std::ldexp(anywhere(random), scale(random))})
        {
            float sv = 0.0f;
            float cv = 0.0f;
            tally.fromLibrary += SinCosAt(*variant, phase, 1, &sv, &cv);
            tally.Compare(phase, sv, cv);
        }
    }
    std::printf("%s: %lld phases, %lld floats differ from the standard library's, "
                "%lld phases computed by the standard library\n",
                variant->name, tally.phases, tally.mismatches, tally.fromLibrary);
    EXPECT_EQ(tally.mismatches, 0);
    // The vector evaluation does the work: the fall-back stays rare.
    EXPECT_LT(tally.fromLibrary, tally.phases / 1000);
}

TEST_P(KernelVariants, SpecialPhasesGiveTheStandardLibraryResultsAtEveryLength)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double phases[] = {0.0,     -0.0,       inf,  -inf,          std::nan(""), 1e-310,
                             -1e-310, 1e-30,      16.0, -16.0,         16.000000001, 1e10,
                             1e300,   -1e300,     M_PI, -M_PI,         M_PI / 2,     kTwoPi,
                             -kTwoPi, kTwoPi / 4, 1e-8, 3 * kTwoPi / 4};
    // Every length up to 2 full rounds, so that each tail path is taken.
    for (double phase : phases)
        for (int32_t n = 1; n <= 33; ++n)
        {
            std::vector<float> s(n + 1, 7.0f), c(n + 1, 7.0f);
            SinCosAt(*variant, phase, n, s.data(), c.data());
            for (int32_t i = 0; i < n; ++i)
            {
                ASSERT_EQ(Bits(s[i]), Bits(static_cast<float>(std::sin(phase))))
                    << "sin " << phase << " n=" << n;
                ASSERT_EQ(Bits(c[i]), Bits(static_cast<float>(std::cos(phase))))
                    << "cos " << phase << " n=" << n;
            }
            ASSERT_EQ(s[n], 7.0f);
            ASSERT_EQ(c[n], 7.0f);
        }
}

TEST_P(KernelVariants, OscillatorInOtherRoundingModesGivesTheStandardLibraryResultsOfThatMode)
{
    for (int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO})
    {
        ASSERT_EQ(std::fesetround(mode), 0);
        EXPECT_FALSE(kernels::DefaultFloatEnvironment());
        std::vector<double> phases(1000);
        std::vector<float> s(1000), c(1000);
        double phase = 0.0;
        variant->oscillate(&phase, PhaseOscillator::Increment(240000.0, 12345.6), kTwoPi, 1000,
                           phases.data(), s.data(), c.data());
        for (std::size_t i = 0; i < phases.size(); ++i)
        {
            ASSERT_EQ(Bits(s[i]), Bits(static_cast<float>(std::sin(phases[i])))) << mode;
            ASSERT_EQ(Bits(c[i]), Bits(static_cast<float>(std::cos(phases[i])))) << mode;
        }
        std::fesetround(FE_TONEAREST);
    }
    EXPECT_TRUE(kernels::DefaultFloatEnvironment());
}

TEST_P(KernelVariants, OscillatorStepsThroughTheDefinedPhases)
{
    // Increments small and large, both signs, a whole turn and beyond (the phase then leaves
    // the wrap range and stays outside), zero and not finite; starts inside and outside.
    const double increments[] = {0.0,
                                 1e-12,
                                 2.6e-4,
                                 0.3141592741012573,
                                 -0.0523,
                                 kTwoPi / 4,
                                 -kTwoPi / 4,
                                 3.0,
                                 kTwoPi - 1e-9,
                                 kTwoPi,
                                 7.5,
                                 -20.0,
                                 std::numeric_limits<double>::infinity(),
                                 std::numeric_limits<double>::quiet_NaN()};
    for (double increment : increments)
        for (double start : {0.0, 6.28, -6.2831, 100.0})
            for (int32_t n : {1, 15, 16, 17, 64, 65, 1000})
            {
                const std::vector<double> expected = ReferencePhases(increment, n, start);
                double phase = start;
                std::vector<double> phases(n);
                std::vector<float> s(n), c(n);
                variant->oscillate(&phase, increment, kTwoPi, n, phases.data(), s.data(), c.data());
                for (int32_t i = 0; i < n; ++i)
                {
                    const double e = expected[static_cast<std::size_t>(i)];
                    ASSERT_TRUE(phases[i] == e || (std::isnan(phases[i]) && std::isnan(e)))
                        << "increment " << increment << " step " << i;
                    ASSERT_EQ(Bits(s[i]), Bits(static_cast<float>(std::sin(e))));
                    ASSERT_EQ(Bits(c[i]), Bits(static_cast<float>(std::cos(e))));
                }
                ASSERT_TRUE(phase == expected.back() || std::isnan(expected.back()));
            }
}

// ---- The fast form (shiftApprox): the same phases, sines and cosines within a bound, the scalar
// variant's bits from every variant.

TEST_P(KernelVariants, FastOscillatorGivesTheScalarBitsAndTheDefinedPhasesAtEveryLength)
{
    const double increments[] = {2.6e-4,
                                 0.3141592741012573,
                                 -0.0523,
                                 kTwoPi / 4,
                                 1.4247585,
                                 -3.0,
                                 kTwoPi - 1e-9,
                                 7.5,
                                 std::numeric_limits<double>::quiet_NaN()};
    std::mt19937 random(5);
    std::uniform_real_distribution<float> value(-30000.0f, 30000.0f);
    for (double increment : increments)
        for (double start : {0.0, 6.28, -6.2831, 3e6})
            for (int32_t n : {1, 7, 8, 9, 15, 16, 17, 255, 256, 257, 1000})
            {
                std::vector<float> I(n), Q(n);
                for (int32_t i = 0; i < n; ++i)
                {
                    I[i] = value(random);
                    Q[i] = value(random);
                }
                std::vector<float> eI = I, eQ = Q, aI = I, aQ = Q;
                std::vector<double> expected(n), actual(n);
                double pe = start;
                double pa = start;
                Scalar().shiftApprox(&pe, increment, kTwoPi, n, expected.data(), eI.data(),
                                     eQ.data());
                variant->shiftApprox(&pa, increment, kTwoPi, n, actual.data(), aI.data(),
                                     aQ.data());
                const std::vector<double> defined = ReferencePhases(increment, n, start);
                for (int32_t i = 0; i < n; ++i)
                {
                    const double d = defined[static_cast<std::size_t>(i)];
                    ASSERT_TRUE(actual[i] == d || (std::isnan(actual[i]) && std::isnan(d)));
                    ASSERT_EQ(Bits(aI[i]), Bits(eI[i])) << increment << " " << n << " " << i;
                    ASSERT_EQ(Bits(aQ[i]), Bits(eQ[i])) << increment << " " << n << " " << i;
                }
                ASSERT_TRUE(pa == pe || (std::isnan(pa) && std::isnan(pe)));
            }
}

// Against double-precision sines and cosines: a unit sample (I = 1, Q = 0) comes out as
// (cos p, -sin p), within 1.5e-7 over every phase of a few turns (and 0 for phases out of range).
TEST_P(KernelVariants, FastOscillatorSinesAndCosinesLieWithinTheirBound)
{
    constexpr int32_t n = 200000;
    std::vector<float> I(n, 1.0f), Q(n, 0.0f);
    std::vector<double> phases(n);
    double phase = -7.0;
    variant->shiftApprox(&phase, 0.00007 * 1.000001, 8.0, n, phases.data(), I.data(), Q.data());
    double worst = 0.0;
    for (int32_t i = 0; i < n; ++i)
    {
        worst = std::max(worst, std::fabs(I[i] - std::cos(phases[i])));
        worst = std::max(worst, std::fabs(-Q[i] - std::sin(phases[i])));
    }
    EXPECT_LT(worst, 1.5e-7);
    std::printf("fast oscillator: largest error %.3g\n", worst);
    float outI = 2.0f;
    float outQ = 3.0f;
    double huge = 1e300;
    double phaseOut = 0.0;
    variant->shiftApprox(&huge, 0.0, kTwoPi, 1, &phaseOut, &outI, &outQ);
    EXPECT_EQ(outI, 2.0f) << "a phase out of range counts as 0: cos 1, sin 0";
    EXPECT_EQ(outQ, 3.0f);
}

} // namespace
