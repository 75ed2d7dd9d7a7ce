// The oscillator's sine and cosine: every kernel variant gives the standard library's results
// rounded to float. The vector variants evaluate their own polynomials; these tests count the
// floats that differ from the standard library's over tens of millions of phases.
#include "stages/filters/PhaseOscillator.h"
#include "stages/kernels/Kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

using namespace sigkit;
using kernels::Isa;
using kernels::KernelTable;

std::vector<const KernelTable*> VectorVariants()
{
    std::vector<const KernelTable*> variants;
    for (Isa isa : {Isa::Avx2, Isa::Avx512})
        if (const KernelTable* table = kernels::TableFor(isa))
            variants.push_back(table);
    return variants;
}

uint32_t Bits(float x)
{
    uint32_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

struct Tally
{
    long long phases = 0;
    long long mismatches = 0;
    long long fromLibrary = 0;
};

// Runs every vector variant over the phases and compares with the standard library.
void Check(const std::vector<double>& phases, std::vector<Tally>& tallies)
{
    const auto n = static_cast<int32_t>(phases.size());
    std::vector<float> s(phases.size()), c(phases.size()), es(phases.size()), ec(phases.size());
    for (std::size_t i = 0; i < phases.size(); ++i)
    {
        es[i] = static_cast<float>(std::sin(phases[i]));
        ec[i] = static_cast<float>(std::cos(phases[i]));
    }
    const std::vector<const KernelTable*> variants = VectorVariants();
    for (std::size_t v = 0; v < variants.size(); ++v)
    {
        tallies[v].fromLibrary += variants[v]->sinCos(phases.data(), n, s.data(), c.data());
        tallies[v].phases += n;
        for (std::size_t i = 0; i < phases.size(); ++i)
            if (Bits(s[i]) != Bits(es[i]) || Bits(c[i]) != Bits(ec[i]))
            {
                if (tallies[v].mismatches < 5)
                    ADD_FAILURE() << variants[v]->name << " phase " << phases[i];
                ++tallies[v].mismatches;
            }
    }
}

TEST(OscillatorSinCos, VectorVariantsEqualTheStandardLibraryOverMillionsOfPhases)
{
    const std::vector<const KernelTable*> variants = VectorVariants();
    if (variants.empty())
        GTEST_SKIP() << "no vector variant on this processor";
    std::vector<Tally> tallies(variants.size());
    constexpr int32_t kBlock = 1 << 16;
    std::vector<double> phases(kBlock);
    std::mt19937_64 random(2024);

    // The phases the oscillator produces: the benchmark and example rates, quarter turns, and
    // random ratios f / fs in both directions, each over many wraps.
    const double rates[][2] = {{240000, 12000},   {240000, 20000}, {240000, 10000},
                               {44100, 1850},     {44100, 11025},  {48000, -12000},
                               {2400000, 10000},  {1.0, 0.25},     {1.0, -0.25},
                               {240000, 12345.6}, {8000, 3999},    {96000, -47999}};
    for (const auto& rate : rates)
    {
        PhaseOscillator oscillator;
        for (int block = 0; block < 8; ++block)
        {
            oscillator.Advance(rate[0], rate[1], kBlock, phases.data());
            Check(phases, tallies);
        }
    }
    std::uniform_real_distribution<double> ratio(-0.5, 0.5);
    for (int run = 0; run < 64; ++run)
    {
        PhaseOscillator oscillator;
        const double f = ratio(random);
        for (int block = 0; block < 2; ++block)
        {
            oscillator.Advance(1.0, f, kBlock, phases.data());
            Check(phases, tallies);
        }
    }
    // Random phases over the oscillator's whole range, and phases close to multiples of π/4,
    // where the reduction cancels most and the results sit near 0, ±1 and ±√½.
    std::uniform_real_distribution<double> anywhere(-kTwoPi, kTwoPi);
    std::uniform_int_distribution<int> eighth(-8, 8);
    std::uniform_int_distribution<int> scale(-52, -10);
    for (int block = 0; block < 64; ++block)
    {
        for (double& p : phases)
            p = anywhere(random);
        Check(phases, tallies);
        for (double& p : phases)
            p = eighth(random) * (M_PI / 4) + std::ldexp(anywhere(random), scale(random));
        Check(phases, tallies);
    }

    for (std::size_t v = 0; v < variants.size(); ++v)
    {
        std::printf("%s: %lld phases, %lld floats differ from the standard library's, "
                    "%lld phases computed by the standard library\n",
                    variants[v]->name, tallies[v].phases, tallies[v].mismatches,
                    tallies[v].fromLibrary);
        EXPECT_EQ(tallies[v].mismatches, 0) << variants[v]->name;
        // The vector evaluation does the work: the fall-back stays rare.
        EXPECT_LT(tallies[v].fromLibrary, tallies[v].phases / 1000) << variants[v]->name;
    }
}

TEST(OscillatorSinCos, SpecialPhasesGiveTheStandardLibraryResults)
{
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> phases = {0.0,     -0.0,       inf,  -inf,          std::nan(""), 1e-310,
                                  -1e-310, 1e-30,      16.0, -16.0,         16.000000001, 1e10,
                                  1e300,   -1e300,     M_PI, -M_PI,         M_PI / 2,     kTwoPi,
                                  -kTwoPi, kTwoPi / 4, 1e-8, 3 * kTwoPi / 4};
    // Every length up to 2 full rounds, so that each tail path is taken.
    for (std::size_t length = 1; length <= phases.size(); ++length)
        for (const KernelTable* variant : VectorVariants())
        {
            std::vector<float> s(length + 1, 7.0f), c(length + 1, 7.0f);
            variant->sinCos(phases.data(), static_cast<int32_t>(length), s.data(), c.data());
            for (std::size_t i = 0; i < length; ++i)
            {
                EXPECT_EQ(Bits(s[i]), Bits(static_cast<float>(std::sin(phases[i]))))
                    << variant->name << " sin " << phases[i];
                EXPECT_EQ(Bits(c[i]), Bits(static_cast<float>(std::cos(phases[i]))))
                    << variant->name << " cos " << phases[i];
            }
            EXPECT_EQ(s[length], 7.0f);
            EXPECT_EQ(c[length], 7.0f);
        }
}

TEST(OscillatorSinCos, OtherRoundingModesGiveTheStandardLibraryResultsOfThatMode)
{
    std::vector<double> phases(1000);
    PhaseOscillator oscillator;
    oscillator.Advance(240000.0, 12345.6, 1000, phases.data());
    for (int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO})
    {
        ASSERT_EQ(std::fesetround(mode), 0);
        EXPECT_FALSE(kernels::DefaultFloatEnvironment());
        std::vector<float> es(1000), ec(1000);
        for (std::size_t i = 0; i < phases.size(); ++i)
        {
            es[i] = static_cast<float>(std::sin(phases[i]));
            ec[i] = static_cast<float>(std::cos(phases[i]));
        }
        for (const KernelTable* variant : VectorVariants())
        {
            std::vector<float> s(1000), c(1000);
            variant->sinCos(phases.data(), 1000, s.data(), c.data());
            for (std::size_t i = 0; i < phases.size(); ++i)
            {
                ASSERT_EQ(Bits(s[i]), Bits(es[i])) << variant->name << " mode " << mode;
                ASSERT_EQ(Bits(c[i]), Bits(ec[i])) << variant->name << " mode " << mode;
            }
        }
        std::fesetround(FE_TONEAREST);
    }
    EXPECT_TRUE(kernels::DefaultFloatEnvironment());
}

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

TEST(OscillatorSinCos, EveryVariantOscillatesThroughTheDefinedPhases)
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
    std::vector<const KernelTable*> variants = VectorVariants();
    variants.push_back(kernels::TableFor(Isa::Scalar));
    for (double increment : increments)
        for (double start : {0.0, 6.28, -6.2831, 100.0})
            for (int32_t n : {1, 15, 16, 17, 64, 65, 1000})
            {
                const std::vector<double> expected = ReferencePhases(increment, n, start);
                for (const KernelTable* variant : variants)
                {
                    double phase = start;
                    std::vector<double> phases(n);
                    std::vector<float> s(n), c(n);
                    variant->oscillate(&phase, increment, kTwoPi, n, phases.data(), s.data(),
                                       c.data());
                    for (int32_t i = 0; i < n; ++i)
                    {
                        const double e = expected[static_cast<std::size_t>(i)];
                        ASSERT_TRUE(phases[i] == e || (std::isnan(phases[i]) && std::isnan(e)))
                            << variant->name << " increment " << increment << " step " << i;
                        ASSERT_EQ(Bits(s[i]), Bits(static_cast<float>(std::sin(e))));
                        ASSERT_EQ(Bits(c[i]), Bits(static_cast<float>(std::cos(e))));
                    }
                    ASSERT_TRUE(phase == expected.back() || std::isnan(expected.back()));
                }
            }
}

// AM demodulation with the oscillator, as defined sample by sample.
std::vector<float> ReferenceAm(const std::vector<float>& I, const std::vector<float>& Q,
                               double increment, double& phase, float kamp, float& mean)
{
    std::vector<float> y;
    const std::vector<double> phases =
        ReferencePhases(increment, static_cast<int32_t>(I.size()), phase);
    for (std::size_t i = 0; i < I.size(); ++i)
    {
        const auto s = static_cast<float>(std::sin(phases[i]));
        const auto c = static_cast<float>(std::cos(phases[i]));
        const float mI = c * I[i] + Q[i] * s;
        const float mQ = Q[i] * c - I[i] * s;
        const float m = std::sqrt(mI * mI + mQ * mQ);
        mean = static_cast<float>(0.01 * m + 0.99 * static_cast<double>(mean));
        if (mean == 0.0f)
            mean = 1.0f;
        y.push_back(
            static_cast<float>((static_cast<double>(m / mean) - 1.0) * static_cast<double>(kamp)));
    }
    if (!phases.empty())
        phase = phases.back();
    return y;
}

TEST(OscillatorSinCos, AmDemodulationOfEveryVariantGivesTheDefinedValuesInPiecesOfAnySize)
{
    std::mt19937 random(77);
    std::uniform_real_distribution<float> value(-3000.0f, 3000.0f);
    std::vector<float> I(2000), Q(2000);
    for (std::size_t i = 0; i < I.size(); ++i)
    {
        I[i] = value(random);
        Q[i] = value(random);
    }
    std::fill(I.begin() + 100, I.begin() + 300, 0.0f); // silence: the mean falls to 0, then 1
    std::fill(Q.begin() + 100, Q.begin() + 300, 0.0f);
    std::vector<const KernelTable*> variants = VectorVariants();
    variants.push_back(kernels::TableFor(Isa::Scalar));
    const double increment = PhaseOscillator::Increment(240000.0, -20000.0);
    for (int mode : {FE_TONEAREST, FE_UPWARD})
    {
        ASSERT_EQ(std::fesetround(mode), 0);
        double referencePhase = 0.0;
        float referenceMean = 0.0f;
        const std::vector<float> expected =
            ReferenceAm(I, Q, increment, referencePhase, 2.0f, referenceMean);
        for (const KernelTable* variant : variants)
            for (int32_t piece : {1, 7, 8, 23, 24, 25, 333, 2000})
            {
                double phase = 0.0;
                float mean = 0.0f;
                std::vector<double> phases(2000);
                std::vector<float> y(2000);
                for (int32_t at = 0; at < 2000; at += piece)
                {
                    const int32_t n = std::min(piece, 2000 - at);
                    variant->amDemodulate(I.data() + at, Q.data() + at, n, &phase, increment,
                                          kTwoPi, 2.0f, &mean, phases.data() + at, y.data() + at);
                }
                for (std::size_t i = 0; i < y.size(); ++i)
                    ASSERT_EQ(Bits(y[i]), Bits(expected[i]))
                        << variant->name << " piece " << piece << " mode " << mode << " at " << i;
                EXPECT_EQ(phase, referencePhase);
                EXPECT_EQ(Bits(mean), Bits(referenceMean));
            }
        std::fesetround(FE_TONEAREST);
    }
}

TEST(PhaseOscillator, BlockStepsGiveTheSingleStepsPhasesAndRoundedValues)
{
    const double rates[][2] = {
        {240000.0, 12000.0}, {44100.0, -1850.0}, {1.0, 0.25}, {48000.0, 100000.0}};
    for (const auto& rate : rates)
    {
        PhaseOscillator single;
        PhaseOscillator block;
        std::vector<double> phases(300);
        std::vector<float> s(300), c(300);
        for (int32_t n : {1, 2, 7, 8, 9, 31, 300, 0, 5})
        {
            block.Steps(rate[0], rate[1], n, phases.data(), s.data(), c.data());
            for (int32_t i = 0; i < n; ++i)
            {
                double sinOut = 0.0;
                double cosOut = 0.0;
                single.Step(rate[0], rate[1], sinOut, cosOut);
                ASSERT_EQ(phases[i], single.Phase());
                ASSERT_EQ(Bits(s[i]), Bits(static_cast<float>(sinOut)));
                ASSERT_EQ(Bits(c[i]), Bits(static_cast<float>(cosOut)));
            }
            ASSERT_EQ(block.Phase(), single.Phase());
        }
    }
}

} // namespace
